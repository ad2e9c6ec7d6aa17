#pragma once

#include <cstdint>

#include "streams/MemStream.h"

class QIODevice;

// Reassembles length-prefixed frames (a u32 little-endian body length, then
// the body) from a socket or any other byte device. It only ever reads what
// the device already has and never more than the missing part of the current
// body, so bytes of the next frame stay in the device until their turn, and
// the body buffer can never be written past its end.
//
//     MemStream body;
//     FrameReader::Result result;
//     while ((result = reader.Next(*socket, body)) == FrameReader::Complete)
//         Handle(body);
//     if (result == FrameReader::Oversized)
//         CloseConnection();
//
// The body handed out shares the reader's buffer: it is valid until the next
// call to Next, which starts the following frame in the same buffer.
class FrameReader
{
public:
    enum Result
    {
        // The device has no more bytes for now; call again on the next readyRead.
        Incomplete,
        // `body` holds one whole body, read position 0.
        Complete,
        // A frame announced a body above the bound; the stream cannot be trusted
        // any further and the owner closes the connection. Sticky until Reset.
        Oversized
    };

    explicit FrameReader(std::uint32_t maxBodyLength);

    Result Next(QIODevice& device, MemStream& body);

    // Forgets any partly read frame and a previous Oversized, for a new connection.
    void Reset();

    std::uint32_t MaxBodyLength() const { return m_maxBodyLength; }
    // True while a length has been read and its body is not complete yet.
    bool IsReadingBody() const { return m_readingBody; }

private:
    bool ReadLength(QIODevice& device);
    bool ReadBody(QIODevice& device);

    std::uint32_t m_maxBodyLength;
    bool m_readingBody = false;
    bool m_oversized = false;
    // The last body was handed out; its buffer is emptied when the next frame begins.
    bool m_handedOut = false;
    int m_bodyLength = 0;
    MemStream m_body;
};

// One frame in one buffer: the body's length, then every byte written to the
// body (whatever has been read from it already), ready for a single write.
MemStream Frame(const MemStream& body);
