#pragma once

class InputStream;
class OutputStream;

// A record that can parse itself from a stream. Read returns false when the
// stream runs short or a field is out of bounds; the record may then be partly
// filled.
class StreamReadable
{
public:
    StreamReadable() = default;
    StreamReadable(const StreamReadable&) = default;
    StreamReadable& operator=(const StreamReadable&) = default;
    virtual ~StreamReadable() = default;

    virtual bool Read(InputStream& in) = 0;
};

// A record that can encode itself into a stream, field by field in its
// declared order.
class StreamWritable
{
public:
    StreamWritable() = default;
    StreamWritable(const StreamWritable&) = default;
    StreamWritable& operator=(const StreamWritable&) = default;
    virtual ~StreamWritable() = default;

    virtual bool Write(OutputStream& out) const = 0;
};

class Persistent : public StreamReadable, public StreamWritable
{};
