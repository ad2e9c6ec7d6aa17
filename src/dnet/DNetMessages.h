#pragma once

#include <cstdint>
#include <string>

class InputStream;
class OutputStream;

// The messages of the distributed search tree, laid out once. On a parent or
// child link each body is framed by its u32 length; the server embeds the
// same bodies in its code 93. A body starts with a one-byte code.
//
// Write(out) writes the whole body, code first. Read(in) reads what follows
// the code, because the receiver reads the code to pick the message. Reads
// are strict: false when the body runs short, and the link it came from is
// then closed.
namespace DNetMessages {

// No real message comes near this; a longer frame means a broken or hostile
// stream, and waiting for it would only let the socket buffer grow.
constexpr std::uint32_t MaxBodyLength = 1024 * 1024;

// Someone's search, passed down from parent to child.
struct SearchRequest
{
    static constexpr unsigned char Code = 3;
    // Only requests carrying this marker are ours to read; with any other
    // value the rest of the body is opaque and is relayed untouched.
    static constexpr unsigned int SearchMarker = 49;

    unsigned int m_marker = SearchMarker;
    std::string m_user;
    unsigned int m_token = 0;
    std::string m_text;

    bool IsOpaque() const { return m_marker != SearchMarker; }
    // An opaque request writes and reads its marker only.
    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The sender's level in the tree; -1 while it does not know its own.
struct Level
{
    static constexpr unsigned char Code = 4;
    static constexpr int Unknown = -1;
    int m_level = Unknown;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The group leader, passed down from the parent.
struct GroupLeader
{
    static constexpr unsigned char Code = 5;
    std::string m_user;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// How deep the tree below a child goes, sent up to its parent.
struct ChildDepth
{
    static constexpr unsigned char Code = 7;
    int m_depth = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

} // namespace DNetMessages
