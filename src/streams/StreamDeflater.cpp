#include "streams/StreamDeflater.h"

#include <algorithm>
#include <climits>

#include <zlib.h>

namespace {

// Room made in the output before each call into zlib; small pieces then
// rarely need more than one call.
constexpr int MinimumRoom = 64 * 1024;

} // namespace

StreamDeflater::StreamDeflater(MemStream out)
    : m_stream(std::make_unique<z_stream_s>()), m_out(std::move(out))
{
    m_ready = deflateInit(m_stream.get(), 9) == Z_OK;
    m_failed = !m_ready;
}

StreamDeflater::~StreamDeflater()
{
    if (m_ready)
        deflateEnd(m_stream.get());
}

bool StreamDeflater::Write(const void* data, std::size_t length)
{
    if (m_failed || length > UINT_MAX)
        return !(m_failed = true);
    m_stream->next_in = static_cast<Bytef*>(const_cast<void*>(data));
    m_stream->avail_in = static_cast<uInt>(length);
    return Run(Z_NO_FLUSH);
}

bool StreamDeflater::Finish()
{
    if (m_failed)
        return false;
    m_stream->next_in = nullptr;
    m_stream->avail_in = 0;
    return Run(Z_FINISH);
}

bool StreamDeflater::Run(int flush)
{
    for (;;) {
        const int used = m_out.GetBufferLength();
        if (m_out.GetBufferCapacity() - used < MinimumRoom) {
            // Doubling keeps the copies few; a stream past 1 GiB is not sent.
            if (used > INT_MAX / 2 - MinimumRoom)
                return !(m_failed = true);
            m_out.ReserveBufferCapacity(std::max(2 * used, used + MinimumRoom));
        }
        const int room = m_out.GetBufferCapacity() - used;
        m_stream->next_out = reinterpret_cast<Bytef*>(m_out.GetWriteBuffer());
        m_stream->avail_out = static_cast<uInt>(room);
        const int result = deflate(m_stream.get(), flush);
        m_out.AdvanceWriteIndex(room - static_cast<int>(m_stream->avail_out));
        if (result == Z_STREAM_END)
            return true;
        if (result != Z_OK && result != Z_BUF_ERROR)
            return !(m_failed = true);
        // Without finishing, zlib is done once it has taken every byte and
        // still had room to spare; otherwise it has more to give.
        if (flush != Z_FINISH && m_stream->avail_in == 0 && m_stream->avail_out > 0)
            return true;
    }
}
