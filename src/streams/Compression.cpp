#include "streams/Compression.h"

#include <algorithm>
#include <climits>

#include <zlib.h>

namespace {

// One deflate state per thread, reset between messages. Setting a state up
// at level 9 allocates and clears a quarter of a megabyte, which costs a
// small search reply several times what compressing it does; a reset
// clears only the hash table. The bytes come out exactly as from a fresh
// state.
class Deflater
{
public:
    Deflater() { m_ready = deflateInit(&m_stream, 9) == Z_OK; }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses all of in into out in one go; false unless it all fitted.
    bool Compress(const Bytef* in, uInt inLength, Bytef* out, uInt& outLength)
    {
        if (!m_ready || deflateReset(&m_stream) != Z_OK)
            return false;
        m_stream.next_in = const_cast<Bytef*>(in);
        m_stream.avail_in = inLength;
        m_stream.next_out = out;
        m_stream.avail_out = outLength;
        const bool ended = deflate(&m_stream, Z_FINISH) == Z_STREAM_END;
        outLength -= m_stream.avail_out;
        return ended;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

} // namespace

MemStream CompressStream(const MemStream& source)
{
    const uLong length = static_cast<uLong>(source.GetBufferLength());
    // Twice the input plus 12 bytes always suffices in practice; compressBound
    // is zlib's own guarantee and wins on the rare input where it is larger
    // (the empty one, for instance).
    const uLong bound = std::max<uLong>(2 * length + 12, compressBound(length));
    if (bound > static_cast<uLong>(INT_MAX))
        return MemStream();

    MemStream compressed;
    compressed.EnsureBufferCapacity(static_cast<int>(bound));
    uInt compressedLength = static_cast<uInt>(bound);
    thread_local Deflater deflater;
    if (!deflater.Compress(reinterpret_cast<const Bytef*>(source.GetBuffer()),
                           static_cast<uInt>(length),
                           reinterpret_cast<Bytef*>(compressed.GetWriteBuffer()), compressedLength))
        return MemStream();
    compressed.AdvanceWriteIndex(static_cast<int>(compressedLength));
    return compressed;
}

namespace {

// Inflates into out, growing it by doubling but never past the cap. Returns
// true only when the zlib stream ended cleanly within the cap.
bool InflateInto(z_stream& zs, MemStream& out)
{
    for (;;) {
        if (out.GetBufferLength() == out.GetBufferCapacity()) {
            if (out.GetBufferCapacity() >= MaxDecompressedLength) {
                // The output is exactly at the cap. The stream may still end
                // here without another byte (end-of-block code and checksum);
                // any byte more is over the cap.
                unsigned char probe = 0;
                zs.next_out = &probe;
                zs.avail_out = 1;
                return inflate(&zs, Z_NO_FLUSH) == Z_STREAM_END && zs.avail_out == 1;
            }
            const long long doubled = 2LL * out.GetBufferCapacity();
            out.ReserveBufferCapacity(
                static_cast<int>(std::min<long long>(doubled, MaxDecompressedLength)));
        }

        const int space = out.GetBufferCapacity() - out.GetBufferLength();
        zs.next_out = reinterpret_cast<Bytef*>(out.GetWriteBuffer());
        zs.avail_out = static_cast<uInt>(space);
        const int status = inflate(&zs, Z_NO_FLUSH);
        out.AdvanceWriteIndex(space - static_cast<int>(zs.avail_out));

        if (status == Z_STREAM_END)
            return true;
        if (status == Z_BUF_ERROR && zs.avail_out > 0)
            return false; // out of input before the end: truncated
        if (status != Z_OK && status != Z_BUF_ERROR)
            return false; // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR
    }
}

} // namespace

MemStream DecompressStream(const MemStream& source)
{
    const int length = source.GetPendingReadLength();
    if (length <= 0)
        return MemStream();

    z_stream zs{};
    zs.next_in = reinterpret_cast<Bytef*>(source.GetReadBuffer());
    zs.avail_in = static_cast<uInt>(length);
    if (inflateInit(&zs) != Z_OK)
        return MemStream();

    // Listings usually compress four to eight times; start from four times
    // the input and let doubling do the rest.
    MemStream out;
    const long long guess = std::max<long long>(4LL * length, MemStream::InitialBufferSize);
    out.EnsureBufferCapacity(static_cast<int>(std::min<long long>(guess, MaxDecompressedLength)));

    const bool ok = InflateInto(zs, out);
    inflateEnd(&zs);
    return ok ? out : MemStream();
}
