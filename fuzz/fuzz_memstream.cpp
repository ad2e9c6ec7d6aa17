// Feeds arbitrary bytes to the stream readers. The input is a small program
// followed by the stream content: byte 0 gives the number of operations, the
// next bytes are the operations (each a typed read, a raw read or a
// decompression), and everything after them is written into a MemStream.
// Every value a read accepts must survive being written and read again, and
// a failed primitive read must consume nothing.

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "FuzzCheck.h"
#include "streams/Compression.h"
#include "streams/MemStream.h"
#include "streams/UserStats.h"

namespace {

void CheckPositions(const MemStream& stream)
{
    FUZZ_CHECK(stream.GetPendingReadLength() >= 0);
    FUZZ_CHECK(stream.GetPendingReadLength() <= stream.GetBufferLength());
    FUZZ_CHECK(stream.GetBufferLength() <= stream.GetBufferCapacity());
}

template <class T> void CheckRoundTrip(const T& value)
{
    MemStream stream;
    FUZZ_CHECK(stream.Write(value));
    T back{};
    FUZZ_CHECK(stream.Read(back));
    FUZZ_CHECK(back == value);
    FUZZ_CHECK(stream.GetPendingReadLength() == 0);
}

// A read that fails at its first primitive must leave the stream as it was.
template <class T> void ReadPrimitive(MemStream& stream)
{
    const int before = stream.GetPendingReadLength();
    T value{};
    if (stream.Read(value)) {
        FUZZ_CHECK(before - stream.GetPendingReadLength() == int(sizeof(T)));
        CheckRoundTrip(value);
    } else {
        FUZZ_CHECK(stream.GetPendingReadLength() == before);
        FUZZ_CHECK(before < int(sizeof(T)));
    }
}

template <class T> void ReadValue(MemStream& stream)
{
    T value{};
    if (stream.Read(value))
        CheckRoundTrip(value);
}

void RunOperations(MemStream& stream, const uint8_t* ops, size_t count, int depth);

void Decompress(MemStream& stream, const uint8_t* ops, size_t count, int depth)
{
    const int before = stream.GetPendingReadLength();
    MemStream inflated = DecompressStream(stream);
    FUZZ_CHECK(stream.GetPendingReadLength() == before);
    FUZZ_CHECK(inflated.GetBufferLength() <= MaxDecompressedLength);
    CheckPositions(inflated);
    if (inflated.GetBufferLength() <= 65536) {
        MemStream again = DecompressStream(CompressStream(inflated));
        FUZZ_CHECK(again.GetBufferLength() == inflated.GetBufferLength());
        for (int i = 0; i < again.GetBufferLength(); ++i)
            FUZZ_CHECK(again.GetBuffer()[i] == inflated.GetBuffer()[i]);
    }
    if (depth == 0)
        RunOperations(inflated, ops, count, depth + 1);
    // The compressed payload is the rest of the message.
    char sink[256];
    while (stream.GetPendingReadLength() > 0) {
        const int n = stream.GetPendingReadLength() < 256 ? stream.GetPendingReadLength() : 256;
        FUZZ_CHECK(stream.ReadBuffer(sink, static_cast<unsigned long>(n)));
    }
}

void RunOperations(MemStream& stream, const uint8_t* ops, size_t count, int depth)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t op = ops[i];
        switch (op % 16) {
        case 0:
            ReadPrimitive<int>(stream);
            break;
        case 1:
            ReadPrimitive<unsigned int>(stream);
            break;
        case 2:
            ReadPrimitive<int64_t>(stream);
            break;
        case 3:
            ReadPrimitive<bool>(stream);
            break;
        case 4:
            ReadPrimitive<unsigned char>(stream);
            break;
        case 5:
            ReadValue<std::string>(stream);
            break;
        case 6:
            ReadValue<std::list<std::string>>(stream);
            break;
        case 7:
            ReadValue<std::set<int>>(stream);
            break;
        case 8:
            ReadValue<std::map<std::string, unsigned int>>(stream);
            break;
        case 9:
            ReadValue<std::pair<int, std::string>>(stream);
            break;
        case 10:
            ReadValue<UserStats>(stream);
            break;
        case 11:
            ReadValue<std::list<UserStats>>(stream);
            break;
        case 12:
            ReadValue<std::map<int, std::list<std::pair<std::string, int64_t>>>>(stream);
            break;
        case 13:
            ReadValue<std::set<std::pair<std::string, bool>>>(stream);
            break;
        case 14:
            Decompress(stream, ops + i + 1, count - i - 1, depth);
            break;
        case 15: {
            // A raw read of up to 15 bytes: all or nothing.
            char raw[16];
            const int before = stream.GetPendingReadLength();
            const int n = op >> 4;
            const bool ok = stream.ReadBuffer(raw, static_cast<unsigned long>(n));
            FUZZ_CHECK(ok == (before >= n));
            FUZZ_CHECK(stream.GetPendingReadLength() == (ok ? before - n : before));
            break;
        }
        }
        CheckPositions(stream);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t count = data[0] % 32;
    if (size < 1 + count)
        return 0;
    const uint8_t* ops = data + 1;
    const uint8_t* content = ops + count;
    const size_t contentSize = size - 1 - count;

    // Written in two pieces so growth happens with data already in place.
    MemStream stream;
    const size_t half = contentSize / 2;
    FUZZ_CHECK(stream.WriteBuffer(content, half));
    FUZZ_CHECK(stream.WriteBuffer(content + half, contentSize - half));
    FUZZ_CHECK(stream.GetBufferLength() == int(contentSize));
    FUZZ_CHECK(stream.GetBufferCapacity() > stream.GetBufferLength());

    MemStream copy = stream; // reads through either copy move both
    RunOperations(copy, ops, count, 0);
    FUZZ_CHECK(copy.GetPendingReadLength() == stream.GetPendingReadLength());
    return 0;
}
