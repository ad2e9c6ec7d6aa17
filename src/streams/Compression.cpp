#include "streams/Compression.h"

#include <algorithm>
#include <climits>

#include <zlib.h>

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
    uLongf compressedLength = bound;
    const int status =
        compress2(reinterpret_cast<Bytef*>(compressed.GetWriteBuffer()), &compressedLength,
                  reinterpret_cast<const Bytef*>(source.GetBuffer()), length, 9);
    if (status != Z_OK)
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
