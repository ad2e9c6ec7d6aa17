#include "streams/FrameReader.h"

#include <algorithm>

#include <QIODevice>

#include "streams/WireFormat.h"

namespace {
constexpr int LengthSize = 4;
}

FrameReader::FrameReader(std::uint32_t maxBodyLength) : m_maxBodyLength(maxBodyLength) {}

FrameReader::Result FrameReader::Next(QIODevice& device, MemStream& body)
{
    if (m_oversized)
        return Oversized;
    if (m_handedOut) {
        m_body.Reset();
        m_handedOut = false;
    }
    if (!m_readingBody && !ReadLength(device))
        return m_oversized ? Oversized : Incomplete;
    if (!ReadBody(device))
        return Incomplete;

    m_readingBody = false;
    m_handedOut = true;
    body = m_body;
    return Complete;
}

void FrameReader::Reset()
{
    m_readingBody = false;
    m_oversized = false;
    m_handedOut = false;
    m_bodyLength = 0;
    m_body.Reset();
}

bool FrameReader::ReadLength(QIODevice& device)
{
    if (device.bytesAvailable() < LengthSize)
        return false;
    unsigned char bytes[LengthSize];
    if (device.read(reinterpret_cast<char*>(bytes), LengthSize) != LengthSize)
        return false;
    const std::uint32_t length = WireFormat::DecodeUInt32(bytes);
    if (length > m_maxBodyLength) {
        m_oversized = true;
        return false;
    }
    m_bodyLength = static_cast<int>(length);
    m_readingBody = true;
    // The buffer is empty here; a body that does not fit gets a buffer of
    // exactly its size rather than a doubled one, which matters for the few
    // large frames (room lists, parent lists) that would otherwise waste
    // megabytes.
    m_body.EnsureBufferCapacity(m_bodyLength);
    return true;
}

bool FrameReader::ReadBody(QIODevice& device)
{
    const int missing = m_bodyLength - m_body.GetBufferLength();
    if (missing > 0) {
        const qint64 available = device.bytesAvailable();
        const qint64 wanted = std::min<qint64>(missing, available);
        if (wanted > 0) {
            const qint64 got = device.read(m_body.GetWriteBuffer(), wanted);
            if (got > 0)
                m_body.AdvanceWriteIndex(static_cast<int>(got));
        }
    }
    return m_body.GetBufferLength() == m_bodyLength;
}

MemStream Frame(const MemStream& body)
{
    const int length = body.GetBufferLength();
    MemStream frame;
    frame.ReserveBufferCapacity(LengthSize + length + 1);
    frame.Write(static_cast<unsigned int>(length));
    frame.WriteBuffer(body.GetBuffer(), static_cast<unsigned long>(length));
    return frame;
}
