#include "streams/MemStream.h"

#include <climits>
#include <cstring>

MemStream::Buffer::Buffer(int size)
    : m_bufferSize(size), m_data(std::make_unique_for_overwrite<char[]>(size))
{}

MemStream::MemStream() : mp_buffer(new Buffer(InitialBufferSize)) {}

MemStream::~MemStream() = default;

bool MemStream::ReadBuffer(void* out, unsigned long n)
{
    Buffer& buffer = *mp_buffer;
    if (n > static_cast<unsigned long>(buffer.m_writeIndex - buffer.m_readIndex))
        return false;
    if (n > 0) {
        std::memcpy(out, buffer.m_data.get() + buffer.m_readIndex, n);
        buffer.m_readIndex += static_cast<int>(n);
    }
    return true;
}

bool MemStream::WriteBuffer(const void* data, unsigned long n)
{
    Buffer& buffer = *mp_buffer;
    if (n == 0)
        return true;
    // The capacity must end up strictly larger than the data, so the data
    // itself may reach INT_MAX - 1 at most.
    if (n >= static_cast<unsigned long>(INT_MAX - buffer.m_writeIndex))
        return false;
    const long long needed =
        static_cast<long long>(buffer.m_writeIndex) + static_cast<long long>(n);
    if (buffer.m_bufferSize <= needed) {
        long long size = buffer.m_bufferSize > 0 ? buffer.m_bufferSize : 1;
        while (size <= needed)
            size *= 2;
        // The old array is freed only after the copy: data may point into it
        // (a stream appending its own bytes).
        std::unique_ptr<char[]> old =
            ResizeBuffer(size > INT_MAX ? INT_MAX : static_cast<int>(size));
        std::memcpy(buffer.m_data.get() + buffer.m_writeIndex, data, n);
    } else {
        std::memmove(buffer.m_data.get() + buffer.m_writeIndex, data, n);
    }
    buffer.m_writeIndex += static_cast<int>(n);
    return true;
}

int MemStream::GetPendingReadLength() const
{
    return mp_buffer->m_writeIndex - mp_buffer->m_readIndex;
}

char* MemStream::GetReadBuffer() const
{
    return mp_buffer->m_data.get() + mp_buffer->m_readIndex;
}

int MemStream::GetBufferLength() const
{
    return mp_buffer->m_writeIndex;
}

char* MemStream::GetWriteBuffer() const
{
    return mp_buffer->m_data.get() + mp_buffer->m_writeIndex;
}

char* MemStream::GetBuffer() const
{
    return mp_buffer->m_data.get();
}

int MemStream::GetBufferCapacity() const
{
    return mp_buffer->m_bufferSize;
}

void MemStream::EnsureBufferCapacity(int n)
{
    QUORVALE_STREAM_ASSERT(mp_buffer->m_writeIndex == 0);
    if (mp_buffer->m_bufferSize < n) {
        // Nothing is written, so nothing needs copying; drop the old array
        // first so the two never coexist.
        mp_buffer->m_data.reset();
        mp_buffer->m_bufferSize = 0;
        mp_buffer->m_data = std::make_unique_for_overwrite<char[]>(n);
        mp_buffer->m_bufferSize = n;
    }
}

void MemStream::ReserveBufferCapacity(int n)
{
    if (mp_buffer->m_bufferSize < n)
        ResizeBuffer(n);
}

void MemStream::AdvanceWriteIndex(int n)
{
    QUORVALE_STREAM_ASSERT(n >= 0);
    // Compared as a difference so that a huge n cannot overflow the sum.
    QUORVALE_STREAM_ASSERT_TEXT(n <= mp_buffer->m_bufferSize - mp_buffer->m_writeIndex,
                                "mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize");
    mp_buffer->m_writeIndex += n;
}

void MemStream::Reset()
{
    mp_buffer->m_readIndex = 0;
    mp_buffer->m_writeIndex = 0;
}

std::unique_ptr<char[]> MemStream::ResizeBuffer(int size)
{
    Buffer& buffer = *mp_buffer;
    auto data = std::make_unique_for_overwrite<char[]>(size);
    if (buffer.m_writeIndex > 0)
        std::memcpy(data.get(), buffer.m_data.get(), buffer.m_writeIndex);
    std::swap(buffer.m_data, data);
    buffer.m_bufferSize = size;
    return data;
}
