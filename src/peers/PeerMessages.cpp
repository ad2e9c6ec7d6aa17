#include "peers/PeerMessages.h"

#include <algorithm>
#include <climits>

#include "streams/Compression.h"
#include "streams/InputStream.h"
#include "streams/MemStream.h"
#include "streams/OutputStream.h"

namespace {

template <class... T> bool ReadStrict(InputStream& in, T&... fields)
{
    return (in.Read(fields) && ...);
}

template <class... T> bool WriteFields(OutputStream& out, const T&... fields)
{
    return (out.Write(fields) && ...);
}

template <class... T> bool WriteBody(OutputStream& out, unsigned int code, const T&... fields)
{
    return out.Write(code) && WriteFields(out, fields...);
}

// The code, then one zlib stream of the body.
bool WritePackedBody(OutputStream& out, unsigned int code, const MemStream& body)
{
    const MemStream packed = CompressStream(body);
    // Even an empty body compresses to a few bytes; none means zlib failed.
    if (packed.GetBufferLength() == 0)
        return false;
    return out.Write(code) && out.WriteBuffer(packed.GetBuffer(),
                                              static_cast<unsigned long>(packed.GetBufferLength()));
}

// The code, then one zlib stream of the fields.
template <class... T>
bool WriteCompressedBody(OutputStream& out, unsigned int code, const T&... fields)
{
    MemStream body;
    return WriteFields(body, fields...) && WritePackedBody(out, code, body);
}

const char* MessageName(int code)
{
    switch (code) {
    case 1:
        return "PM_SAY";
    case 4:
        return "PM_GET_SHARED_FILE_LIST";
    case 5:
        return "PM_SHARED_FILE_LIST";
    case 8:
        return "PM_FILE_SEARCH_REQUEST";
    case 9:
        return "PM_FILE_SEARCH_RESULT";
    case 10:
        return "PM_INVITE_USER_TO_ROOM";
    case 14:
        return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15:
        return "PM_USER_INFO_REQUEST";
    case 16:
        return "PM_USER_INFO_REPLY";
    case 33:
        return "PM_SEND_CONNECT_TOKEN";
    case 34:
        return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36:
        return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37:
        return "PM_SHARED_FILES_IN_FOLDER";
    case 40:
        return "PM_TRANSFER_REQUEST";
    case 41:
        return "PM_TRANSFER_RESPONSE";
    case 42:
        return "PM_PLACEHOLD_UPLOAD";
    case 43:
        return "PM_QUEUE_UPLOAD";
    case 44:
        return "PM_UPLOAD_PLACE_IN_LINE";
    case 46:
        return "PM_UPLOAD_FAILED";
    case 47:
        return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48:
        return "PM_QUEUED_DOWNLOADS";
    case 49:
        return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50:
        return "PM_UPLOAD_DENIED";
    case 51:
        return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52:
        return "PM_NOTHING";
    default:
        return nullptr;
    }
}

} // namespace

namespace PeerMessages {

std::string MessageCodeToString(int code)
{
    if (const char* name = MessageName(code))
        return name;
    return std::to_string(code) + " (unknown)";
}

bool PeerInit::Write(OutputStream& out) const
{
    return WriteFields(out, Direction, m_user, m_type, m_token);
}

bool PeerInit::Read(InputStream& in)
{
    return ReadStrict(in, m_user, m_type, m_token);
}

bool IndirectResponse::Write(OutputStream& out) const
{
    return WriteFields(out, Direction, m_token);
}

bool IndirectResponse::Read(InputStream& in)
{
    return ReadStrict(in, m_token);
}

template <unsigned int C> bool EmptyMessage<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code);
}

template <unsigned int C> bool EmptyMessage<C>::Read(InputStream&)
{
    return true;
}

template struct EmptyMessage<4>;

bool SharedFileList::Write(OutputStream& out) const
{
    MemStream body;
    return WriteBody(body) && WritePacked(out, body);
}

bool SharedFileList::WriteBody(OutputStream& out) const
{
    return WriteFields(out, m_share, m_attributeTable);
}

bool SharedFileList::WritePacked(OutputStream& out, const MemStream& body)
{
    return WritePackedBody(out, Code, body);
}

bool SharedFileList::Read(const MemStream& in)
{
    MemStream body = DecompressStream(in);
    if (!body.Read(m_share))
        return false;
    // Listings from peers that stop after the folders are still whole.
    if (!body.Read(m_attributeTable))
        m_attributeTable.clear();
    return true;
}

// Room for a reply's whole body at once: a stream left to grow from its
// small start would copy a full reply of 200 records seven times over. A
// record is its path and at most 48 bytes besides (marker, lengths, size,
// "mp3" and two attributes); the rest is under 64 bytes but for the name.
namespace {

int BodyCapacity(const FileSearchResult& result)
{
    std::size_t length = 64 + result.m_user.size();
    for (const FileInfo& file : result.m_files)
        length += 48 + file.m_name.size();
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX / 2));
}

} // namespace

bool FileSearchResult::Write(OutputStream& out) const
{
    MemStream body;
    body.EnsureBufferCapacity(BodyCapacity(*this));
    return WriteBody(body) && WritePacked(out, body);
}

bool FileSearchResult::WriteBody(OutputStream& out) const
{
    return WriteFields(out, m_user, m_token, m_files, m_freeSlot, m_averageSpeed, m_queueLength,
                       m_attributeTable);
}

bool FileSearchResult::WritePacked(OutputStream& out, const MemStream& body)
{
    return WritePackedBody(out, Code, body);
}

bool FileSearchResult::Read(const MemStream& in)
{
    MemStream body = DecompressStream(in);
    if (!ReadSender(body) || !ReadFiles(body))
        return false;
    ReadTrailer(body);
    return true;
}

bool FileSearchResult::ReadSender(InputStream& inflated)
{
    return ReadStrict(inflated, m_user, m_token);
}

bool FileSearchResult::ReadFiles(InputStream& inflated)
{
    return inflated.Read(m_files);
}

void FileSearchResult::ReadTrailer(InputStream& inflated)
{
    // Nothing after the files decides anything, so a sender that stops
    // early, or writes a table we cannot read, still has its files shown.
    if (!inflated.Read(m_freeSlot) || !inflated.Read(m_averageSpeed) ||
        !inflated.Read(m_queueLength) || !inflated.Read(m_attributeTable))
        m_attributeTable.clear();
}

bool GetSharedFilesInFolder::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_token, m_folder);
}

bool GetSharedFilesInFolder::Read(InputStream& in)
{
    return ReadStrict(in, m_token, m_folder);
}

bool SharedFilesInFolder::Write(OutputStream& out) const
{
    return WriteCompressedBody(out, Code, m_token, m_folder, m_contents);
}

bool SharedFilesInFolder::Read(const MemStream& in)
{
    MemStream body = DecompressStream(in);
    return ReadStrict(body, m_token, m_folder, m_contents);
}

bool TransferRequest::Write(OutputStream& out) const
{
    if (!WriteBody(out, Code, m_direction, m_token, m_file))
        return false;
    return m_direction != DirectionUpload || out.Write(m_size);
}

bool TransferRequest::Read(InputStream& in)
{
    m_size = 0;
    if (!ReadStrict(in, m_direction, m_token, m_file))
        return false;
    return m_direction != DirectionUpload || in.Read(m_size);
}

bool TransferResponse::Write(OutputStream& out) const
{
    if (!WriteBody(out, Code, m_token, m_allowed))
        return false;
    if (!m_allowed)
        return out.Write(m_reason);
    return !m_hasSize || out.Write(m_size);
}

bool TransferResponse::Read(InputStream& in)
{
    m_hasSize = false;
    m_size = 0;
    m_reason.clear();
    if (!ReadStrict(in, m_token, m_allowed))
        return false;
    if (!m_allowed)
        return in.Read(m_reason);
    m_hasSize = in.Read(m_size);
    return true;
}

template <unsigned int C> bool FileMessage<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_file);
}

template <unsigned int C> bool FileMessage<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_file);
}

template struct FileMessage<43>;
template struct FileMessage<46>;
template struct FileMessage<51>;

bool UploadPlaceInLine::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_file, m_place);
}

bool UploadPlaceInLine::Read(InputStream& in)
{
    return ReadStrict(in, m_file, m_place);
}

bool UploadDenied::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_file, m_reason);
}

bool UploadDenied::Read(InputStream& in)
{
    return ReadStrict(in, m_file, m_reason);
}

} // namespace PeerMessages
