#pragma once

#include <memory>
#include <type_traits>

#include "streams/InputStream.h"
#include "streams/OutputStream.h"
#include "streams/rcptr.h"

// A growable byte buffer with separate read and write positions. Copies share
// one buffer: a read or write through any copy moves the positions seen by
// all of them, and the buffer goes when the last copy does. Passing a stream
// by value therefore costs one count increment, and a moved-from stream is
// still a valid copy. One thread at a time (the count is not atomic).
class MemStream : public virtual InputStream, public virtual OutputStream
{
public:
    // Invariant: 0 <= m_readIndex <= m_writeIndex <= m_bufferSize.
    struct Buffer
    {
        explicit Buffer(int size);
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;

        int m_readIndex = 0;  // next byte to read
        int m_writeIndex = 0; // number of bytes written
        int m_bufferSize = 0; // capacity
        std::unique_ptr<char[]> m_data;
    };

    static constexpr int InitialBufferSize = 256;

    MemStream();
    // Declared so that moves copy as well: sharing keeps the source usable.
    MemStream(const MemStream& other) = default;
    MemStream& operator=(const MemStream& other) = default;
    ~MemStream() override;

    // Copies n bytes out and advances the read position, or returns false and
    // consumes nothing when fewer than n bytes are pending.
    bool ReadBuffer(void* out, unsigned long n) override;
    // Appends n bytes, doubling the capacity until it is strictly larger than
    // the data. Always true for any length an int position can describe; false,
    // with nothing written, for a write that would pass 2 GiB.
    bool WriteBuffer(const void* data, unsigned long n) override;

    int GetPendingReadLength() const;
    // The next unread byte.
    char* GetReadBuffer() const;
    // The number of bytes written.
    int GetBufferLength() const;
    // The first unwritten byte, for reading a socket straight into the buffer.
    char* GetWriteBuffer() const;
    // The first written byte, whatever has been read since.
    char* GetBuffer() const;
    int GetBufferCapacity() const;

    // On an empty stream only: make the capacity at least n, as one buffer of
    // exactly n bytes.
    void EnsureBufferCapacity(int n);
    // On any stream: make the capacity at least n (exactly n when it grows),
    // keeping the written bytes, so that a direct write through
    // GetWriteBuffer has room.
    void ReserveBufferCapacity(int n);
    // Declares n more bytes written through GetWriteBuffer.
    void AdvanceWriteIndex(int n);
    // Both positions back to 0; the capacity stays.
    void Reset();

    // A value's raw bytes in host order, for plain structures copied whole.
    template <class T> bool ReadBuf(T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return ReadBuffer(&value, sizeof value);
    }

    template <class T> bool WriteBuf(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return WriteBuffer(&value, sizeof value);
    }

private:
    // Moves the written bytes into a new array of the given size and returns
    // the old array.
    std::unique_ptr<char[]> ResizeBuffer(int size);

    rcptr<Buffer> mp_buffer;
};
