#include "streams/InputStream.h"

#include <cstring>

InputStream::~InputStream() = default;

bool InputStream::Read(unsigned int& value)
{
    unsigned char bytes[4];
    if (!ReadBuffer(bytes, sizeof bytes))
        return false;
    value = WireFormat::DecodeUInt32(bytes);
    return true;
}

bool InputStream::Read(int& value)
{
    unsigned int raw = 0;
    if (!Read(raw))
        return false;
    value = static_cast<int>(raw);
    return true;
}

bool InputStream::ReadUInt64(std::uint64_t& value)
{
    unsigned char bytes[8];
    if (!ReadBuffer(bytes, sizeof bytes))
        return false;
    value = WireFormat::DecodeUInt64(bytes);
    return true;
}

bool InputStream::Read(unsigned char& value)
{
    return ReadBuffer(&value, 1);
}

bool InputStream::Read(signed char& value)
{
    unsigned char raw = 0;
    if (!Read(raw))
        return false;
    value = static_cast<signed char>(raw);
    return true;
}

bool InputStream::Read(char& value)
{
    unsigned char raw = 0;
    if (!Read(raw))
        return false;
    value = static_cast<char>(raw);
    return true;
}

bool InputStream::Read(bool& value)
{
    unsigned char raw = 0;
    if (!Read(raw))
        return false;
    value = raw != 0;
    return true;
}

bool InputStream::Read(std::string& value)
{
    std::uint32_t length = 0;
    if (!Read(length) || length > WireFormat::MaxStringLength)
        return false;
    value.resize(length);
    if (!ReadBuffer(value.data(), length))
        return false;
    // The text ends at the first zero byte; whatever follows it is dropped.
    if (const void* zero = std::memchr(value.data(), 0, length))
        value.resize(static_cast<const char*>(zero) - value.data());
    return true;
}

bool InputStream::ReadCount(std::uint32_t& count)
{
    return Read(count) && count <= WireFormat::MaxContainerCount;
}
