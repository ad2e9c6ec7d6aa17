#include "streams/OutputStream.h"

OutputStream::~OutputStream() = default;

bool OutputStream::Write(unsigned int value)
{
    unsigned char bytes[4];
    WireFormat::EncodeUInt32(value, bytes);
    return WriteBuffer(bytes, sizeof bytes);
}

bool OutputStream::Write(int value)
{
    return Write(static_cast<unsigned int>(value));
}

bool OutputStream::WriteUInt64(std::uint64_t value)
{
    unsigned char bytes[8];
    WireFormat::EncodeUInt64(value, bytes);
    return WriteBuffer(bytes, sizeof bytes);
}

bool OutputStream::Write(unsigned char value)
{
    return WriteBuffer(&value, 1);
}

bool OutputStream::Write(signed char value)
{
    return Write(static_cast<unsigned char>(value));
}

bool OutputStream::Write(char value)
{
    return Write(static_cast<unsigned char>(value));
}

bool OutputStream::Write(bool value)
{
    return Write(static_cast<unsigned char>(value ? 1 : 0));
}

bool OutputStream::Write(std::string_view value)
{
    // No terminator: the 32-bit length says where the text ends.
    if (!WriteCount(value.size()))
        return false;
    return WriteBuffer(value.data(), value.size());
}

bool OutputStream::WriteCount(std::size_t count)
{
    if (count > std::numeric_limits<std::uint32_t>::max())
        return false;
    return Write(static_cast<unsigned int>(count));
}
