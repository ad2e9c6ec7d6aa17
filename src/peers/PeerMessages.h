#pragma once

#include <list>
#include <map>
#include <string>

#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfo.h"
#include "sharing/FileInfoMap.h"
#include "sharing/SharedFolderInfo.h"

class InputStream;
class MemStream;
class OutputStream;

// Every message exchanged on a peer messaging connection, laid out once, and
// the two first frames that identify a new peer connection.
//
// Write(out) writes the whole body: the u32 code (the u8 direction for a
// first frame), then the fields. Read(in) reads what follows the code or the
// direction, because the receiver reads those first to pick the message.
//
// Reads are strict: false as soon as a field the layout calls for is missing
// or over a limit (131072 bytes per string, 131072 entries per container).
// The only fields a peer may leave out are the size of an accepting
// TransferResponse and the four fields after the files of a
// FileSearchResult. Share listings, folder contents and search results are
// one zlib stream after the code; Read inflates it (bounded, see
// Compression.h) and a body that does not inflate fails its first read.
//
// Class members start as {} so that messages can be built with designated
// initializers naming only the fields that matter.
namespace PeerMessages {

// The name of a message code for the log, "1234 (unknown)" for codes we have
// no name for.
std::string MessageCodeToString(int code);

// First frame of a connection we open ourselves.
struct PeerInit
{
    static constexpr unsigned char Direction = 1;
    std::string m_user{};     // our own name
    std::string m_type{};     // "P", "F" or "D"
    unsigned int m_token = 0; // always 0; read and not used

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// First frame of a connection we open because the server asked us to.
struct IndirectResponse
{
    static constexpr unsigned char Direction = 0;
    unsigned int m_token = 0; // the token of the server's request

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The messages that are their code alone.
template <unsigned int C> struct EmptyMessage
{
    static constexpr unsigned int Code = C;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using GetSharedFileList = EmptyMessage<4>;

// A whole share listing, the answer to GetSharedFileList.
struct SharedFileList
{
    static constexpr unsigned int Code = 5;
    FileInfoMap m_share{};
    // Left empty when the sender stops after the folders.
    AttributeTranslationTable m_attributeTable{};

    bool Write(OutputStream& out) const;
    bool Read(const MemStream& in);

    // Write in two steps, so that the costly compression of a large share
    // can run away from the thread that built the listing: WriteBody writes
    // the fields uncompressed, WritePacked the code and then that body
    // compressed. WriteBody then WritePacked gives the bytes Write gives.
    bool WriteBody(OutputStream& out) const;
    static bool WritePacked(OutputStream& out, const MemStream& body);
};

// The files of ours that matched someone's search.
struct FileSearchResult
{
    static constexpr unsigned int Code = 9;
    std::string m_user{}; // the sender's own name
    unsigned int m_token = 0;
    std::list<FileInfo> m_files{}; // full paths, in the order sent
    bool m_freeSlot = false;
    unsigned int m_averageSpeed = 0;
    unsigned int m_queueLength = 0;
    AttributeTranslationTable m_attributeTable{};

    bool Write(OutputStream& out) const;
    // Write in two steps, as for SharedFileList: the fields uncompressed,
    // then the code and that body compressed.
    bool WriteBody(OutputStream& out) const;
    static bool WritePacked(OutputStream& out, const MemStream& body);
    // Inflates and reads the whole message: ReadSender, ReadFiles, then
    // ReadTrailer, whose fields may be missing.
    bool Read(const MemStream& in);

    // The stages of Read on the inflated body, for a receiver that acts on
    // the sender and the token before it reads the files.
    bool ReadSender(InputStream& inflated);
    bool ReadFiles(InputStream& inflated);
    // A field that cannot be read keeps its initial value.
    void ReadTrailer(InputStream& inflated);
};

struct GetSharedFilesInFolder
{
    static constexpr unsigned int Code = 36;
    unsigned int m_token = 0;
    std::string m_folder{};

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The answer to GetSharedFilesInFolder: the token and folder echoed, then
// the folder's contents keyed by the folder as requested (one entry).
struct SharedFilesInFolder
{
    static constexpr unsigned int Code = 37;
    unsigned int m_token = 0;
    std::string m_folder{};
    std::map<std::string, SharedFolderInfo> m_contents{};

    bool Write(OutputStream& out) const;
    bool Read(const MemStream& in);
};

struct TransferRequest
{
    static constexpr unsigned int Code = 40;
    // Only an upload request (direction 1) carries the file size.
    static constexpr unsigned int DirectionUpload = 1;
    unsigned int m_direction = DirectionUpload;
    unsigned int m_token = 0;
    std::string m_file{};
    long long m_size = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct TransferResponse
{
    static constexpr unsigned int Code = 41;
    unsigned int m_token = 0;
    bool m_allowed = false;
    // When allowed: the size, which some peers leave out. Read tells by
    // m_hasSize; Write sends the size only when m_hasSize is set.
    bool m_hasSize = false;
    long long m_size = 0;
    // When not allowed.
    std::string m_reason{};

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The messages that carry nothing but a file path.
template <unsigned int C> struct FileMessage
{
    static constexpr unsigned int Code = C;
    std::string m_file{};

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using QueueUpload = FileMessage<43>;
// The path as it was requested.
using UploadFailed = FileMessage<46>;
// The remote folder, a "\" and the file name.
using UploadPlaceInLineRequest = FileMessage<51>;

struct UploadPlaceInLine
{
    static constexpr unsigned int Code = 44;
    std::string m_file{};
    unsigned int m_place = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UploadDenied
{
    static constexpr unsigned int Code = 50;
    std::string m_file{};
    std::string m_reason{};

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

} // namespace PeerMessages
