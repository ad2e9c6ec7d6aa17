#pragma once

#include <cstdint>
#include <string>

#include <QDateTime>

#include "streams/MemStream.h"

// What the peer messenger knows about the bytes of one socket: the frame it
// is collecting and whether the socket is about to leave it. One exists per
// socket from its first readable bytes until it is disposed of or handed over.
struct SocketBufferInfo
{
    // The frame length has been read; the body is being collected.
    bool m_haveLength = false;
    // Body length of the current frame.
    std::uint32_t m_length = 0;
    // The next 4 raw bytes are a file-transfer token, neither framed nor
    // scrambled.
    bool m_awaitingFileToken = false;
    // When the token began to be awaited; it is given a minute.
    QDateTime m_awaitingSince;
    // The socket went to another manager with the frame just handled; its
    // further bytes are not ours.
    bool m_handedOver = false;
    // The peer's name, kept for handing over a file connection with its token.
    std::string m_user;
    // The body collected so far.
    MemStream m_buffer;
    // The socket uses the scrambled mode.
    bool m_obfuscated = false;
    // The key of the frame being read, already rotated for its body.
    std::uint32_t m_key = 0;
};
