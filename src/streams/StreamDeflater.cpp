#include "streams/StreamDeflater.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <zlib.h>

StreamDeflater::StreamDeflater() : m_stream(std::make_unique<z_stream_s>())
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

void StreamDeflater::MoveTo(char* destination)
{
    for (std::unique_ptr<char[]>& chunk : m_chunks) {
        const std::size_t length = std::min(m_size, ChunkSize);
        std::memcpy(destination, chunk.get(), length);
        destination += length;
        m_size -= length;
        chunk.reset();
    }
    m_chunks.clear();
    m_size = 0;
}

bool StreamDeflater::Run(int flush)
{
    for (;;) {
        if (m_size == m_chunks.size() * ChunkSize)
            m_chunks.emplace_back(new char[ChunkSize]);
        const std::size_t used = m_size % ChunkSize;
        const uInt room = static_cast<uInt>(ChunkSize - used);
        m_stream->next_out = reinterpret_cast<Bytef*>(m_chunks.back().get() + used);
        m_stream->avail_out = room;
        const int result = deflate(m_stream.get(), flush);
        m_size += room - m_stream->avail_out;
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
