#pragma once

#include <cstddef>
#include <memory>

#include "streams/MemStream.h"

struct z_stream_s;

// Compresses a body handed over a piece at a time into one zlib stream,
// appended to the given stream. The bytes are those CompressStream gives
// for the whole body at once (same level, same settings; zlib's choices do
// not depend on how its input arrives), but the body is never held whole:
// a listing of a million files is tens of megabytes before compression and
// a fraction of that after.
class StreamDeflater
{
public:
    explicit StreamDeflater(MemStream out);
    ~StreamDeflater();
    StreamDeflater(const StreamDeflater&) = delete;
    StreamDeflater& operator=(const StreamDeflater&) = delete;

    // Compresses the next piece of the body; false once anything failed.
    bool Write(const void* data, std::size_t length);
    // Ends the stream; nothing may be written after.
    bool Finish();

private:
    // Runs zlib until it has taken all its input (and, when finishing, has
    // ended the stream), growing the output as it fills.
    bool Run(int flush);

    std::unique_ptr<z_stream_s> m_stream;
    MemStream m_out;
    bool m_ready = false;
    bool m_failed = false;
};
