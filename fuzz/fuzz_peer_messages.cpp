// Feeds arbitrary bytes to every reader of the peer message catalogue, the
// file records and the search-result intake. Byte 0 picks the reader; with
// its top bit set the rest is compressed first, so that the layouts inside
// the compressed messages are explored without the fuzzer having to find
// valid zlib. Whatever a reader accepts must be written, read back and
// written again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "FuzzCheck.h"
#include "peers/PeerMessages.h"
#include "peers/SearchResultIntake.h"
#include "search/SearchSchema.h"
#include "search/SearchTypes.h"
#include "server/ServerSchema.h"
#include "server/ServerTypes.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfoMap.h"
#include "sharing/SharedFolderInfo.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "streams/Compression.h"
#include "streams/MemStream.h"

namespace {

std::string Written(const MemStream& stream)
{
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetBufferLength()));
}

MemStream StreamOf(const std::string& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.data(), bytes.size());
    return stream;
}

// A message written, with its code (or direction) skipped again, ready to
// be read as a receiver reads it.
MemStream AfterCode(const std::string& written, std::size_t codeSize)
{
    FUZZ_CHECK(written.size() >= codeSize);
    return StreamOf(written.substr(codeSize));
}

template <class M> void CheckMessage(MemStream& body, std::size_t codeSize = 4)
{
    M message;
    if (!message.Read(body))
        return;
    MemStream first;
    FUZZ_CHECK(message.Write(first));
    MemStream again = AfterCode(Written(first), codeSize);
    M back;
    FUZZ_CHECK(back.Read(again));
    MemStream second;
    FUZZ_CHECK(back.Write(second));
    FUZZ_CHECK(Written(first) == Written(second));
}

template <class T> void CheckRecord(MemStream& body)
{
    T record{};
    if (!body.Read(record))
        return;
    MemStream first;
    FUZZ_CHECK(first.Write(record));
    T back{};
    FUZZ_CHECK(first.Read(back));
    FUZZ_CHECK(first.GetPendingReadLength() == 0);
    MemStream second;
    FUZZ_CHECK(second.Write(back));
    FUZZ_CHECK(Written(first) == Written(second));
}

// The intake on a store holding one search, token 7; a stored set always
// belongs to that search and the connection's user.
void CheckIntake(const MemStream& body)
{
    static const bool declared = [] {
        dataSaver = new DataSaver();
        ServerSchema::DeclareSchema(*dataSaver);
        SearchSchema::DeclareSchema();
        return true;
    }();
    (void)declared;
    d.RemoveAllItems();
    ItemPtr request = d.GetType(SearchTypes::SearchRequest)->NewItem(7u);
    const SearchResultIntake::Outcome outcome = SearchResultIntake::Receive("bob", body);
    if (outcome.m_searchResults) {
        FUZZ_CHECK(outcome.m_acceptable);
        FUZZ_CHECK(outcome.m_searchResults[SearchTypes::SearchRequest] == request);
        FUZZ_CHECK(outcome.m_searchResults[ServerTypes::User].AsString() == "bob");
        FUZZ_CHECK(outcome.m_searchResults.IsConnected(SearchTypes::SearchResult));
    }
}

void Run(std::uint8_t selector, MemStream& body)
{
    using namespace PeerMessages;
    switch (selector % 20) {
    case 0:
        return CheckMessage<PeerInit>(body, 1);
    case 1:
        return CheckMessage<IndirectResponse>(body, 1);
    case 2:
        return CheckMessage<GetSharedFileList>(body);
    case 3:
        return CheckMessage<SharedFileList>(body);
    case 4:
        return CheckMessage<FileSearchResult>(body);
    case 5:
        return CheckMessage<GetSharedFilesInFolder>(body);
    case 6:
        return CheckMessage<SharedFilesInFolder>(body);
    case 7:
        return CheckMessage<TransferRequest>(body);
    case 8:
        return CheckMessage<TransferResponse>(body);
    case 9:
        return CheckMessage<QueueUpload>(body);
    case 10:
        return CheckMessage<UploadPlaceInLine>(body);
    case 11:
        return CheckMessage<UploadFailed>(body);
    case 12:
        return CheckMessage<UploadDenied>(body);
    case 13:
        return CheckMessage<UploadPlaceInLineRequest>(body);
    case 14:
        return CheckRecord<FileInfo>(body);
    case 15:
        return CheckRecord<SharedFolderInfo>(body);
    case 16:
        return CheckRecord<FileInfoMap>(body);
    case 17:
        return CheckRecord<AttributeTranslationTable>(body);
    case 18:
        return CheckRecord<std::list<FileInfo>>(body);
    default:
        return CheckIntake(body);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    MemStream body;
    body.WriteBuffer(data + 1, size - 1);
    if (data[0] & 0x80)
        body = CompressStream(body);
    Run(data[0] & 0x7f, body);
    return 0;
}
