#pragma once

#include <cstddef>
#include <memory>
#include <vector>

struct z_stream_s;

// Compresses a body handed over a piece at a time into one zlib stream.
// The bytes are those CompressStream gives for the whole body at once (same
// level, same settings; zlib's choices do not depend on how its input
// arrives), but the body is never held whole: a listing of a million files
// is tens of megabytes before compression and a fraction of that after. The
// output is kept in chunks of a megabyte, so that growing it never copies
// it, and moved out at the end a chunk at a time.
class StreamDeflater
{
public:
    StreamDeflater();
    ~StreamDeflater();
    StreamDeflater(const StreamDeflater&) = delete;
    StreamDeflater& operator=(const StreamDeflater&) = delete;

    // Compresses the next piece of the body; false once anything failed.
    bool Write(const void* data, std::size_t length);
    // Ends the stream; nothing may be written after.
    bool Finish();

    // The compressed bytes so far.
    std::size_t Size() const { return m_size; }
    // Copies them to `destination`, which has room for Size() bytes,
    // letting go of each chunk once copied; Size() is 0 after.
    void MoveTo(char* destination);

private:
    static constexpr std::size_t ChunkSize = 1024 * 1024;

    // Runs zlib until it has taken all its input (and, when finishing, has
    // ended the stream), adding chunks as they fill.
    bool Run(int flush);

    std::unique_ptr<z_stream_s> m_stream;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::size_t m_size = 0;
    bool m_ready = false;
    bool m_failed = false;
};
