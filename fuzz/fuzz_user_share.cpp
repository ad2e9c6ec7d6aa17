// Reads arbitrary bytes as a peer's share listing and as a folder-contents
// reply, and stores every listing that reads as ours would be stored for
// browsing. Byte 0: with its top bit set the rest is compressed first, so
// that the layouts inside are explored without the fuzzer having to find
// valid zlib. A stored listing must have one folder per listed path, files
// only for named entries, parent links only towards the folder's parent
// path, and must replace the same user's earlier listing whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "base/PathUtils.h"
#include "peers/PeerMessages.h"
#include "search/SearchSchema.h"
#include "server/ServerSchema.h"
#include "server/ServerTypes.h"
#include "sharing/SharingSchema.h"
#include "sharing/SharingTypes.h"
#include "sharing/UserShareStore.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "streams/Compression.h"
#include "streams/MemStream.h"

namespace {

using namespace SharingTypes;

void DeclareOnce()
{
    static const bool declared = [] {
        dataSaver = new DataSaver();
        ServerSchema::DeclareSchema(*dataSaver);
        SearchSchema::DeclareSchema();
        SharingSchema::DeclareSchema(*dataSaver);
        return true;
    }();
    (void)declared;
}

// Every entry is stored, a nameless one as an empty file of its folder.
std::size_t FileCount(const FileInfoMap& share)
{
    std::size_t count = 0;
    for (const auto& [path, files] : share)
        count += files.size();
    return count;
}

void CheckStored(const FileInfoMap& share)
{
    ItemPtr listing = d.GetType(ServerTypes::User)->HasItem("bob")[UserShare];
    FUZZ_CHECK(listing && listing.IsConnected(UserShareLoaded));
    const ItemSet folders = listing.GetItems(UserShareFolder);
    FUZZ_CHECK(folders.size() == share.size());
    FUZZ_CHECK(d.GetType(UserShareFolder)->ItemCount() == share.size());
    FUZZ_CHECK(d.GetType(UserShareFile)->ItemCount() == FileCount(share));
    for (Item* item : folders) {
        ItemPtr folder(item);
        const std::string name = folder[UserShareFolderName].AsString();
        FUZZ_CHECK(share.count(name) == 1);
        ItemPtr up = folder[UserShareFolderParent];
        if (!up)
            continue;
        ItemPtr parent = up[UserShareFolderChild][UserShareFolder];
        FUZZ_CHECK(parent && parent != folder);
        FUZZ_CHECK(parent[UserShareFolderName].AsString() == GetParentFolder(name));
    }
}

void StoreListing(const MemStream& body)
{
    PeerMessages::SharedFileList list;
    if (!list.Read(body))
        return;
    d.RemoveAllItems();
    UserShareStore::Store("bob", list.m_share);
    CheckStored(list.m_share);
    // The same user again: the first listing must be gone without a trace.
    UserShareStore::Store("bob", list.m_share);
    CheckStored(list.m_share);
}

// Only the sanitizers judge this one: reading must neither crash nor leak.
void ReadFolderContents(const MemStream& body)
{
    PeerMessages::SharedFilesInFolder reply;
    (void)reply.Read(body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    DeclareOnce();
    MemStream body;
    body.WriteBuffer(data + 1, size - 1);
    if (data[0] & 0x80)
        body = CompressStream(body);
    StoreListing(body);
    ReadFolderContents(body);
    return 0;
}
