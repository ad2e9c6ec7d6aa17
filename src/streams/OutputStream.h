#pragma once

#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "streams/Persistent.h"
#include "streams/WireFormat.h"

// An abstract sink of bytes and the typed writes of the wire format built on
// it, mirroring InputStream.
class OutputStream
{
public:
    OutputStream() = default;
    OutputStream(const OutputStream&) = default;
    OutputStream& operator=(const OutputStream&) = default;
    virtual ~OutputStream();

    virtual bool WriteBuffer(const void* data, unsigned long n) = 0;

    bool Write(int value);
    bool Write(unsigned int value);
    template <WireFormat::Integer64 T> bool Write(T value);
    bool Write(bool value);
    bool Write(char value);
    bool Write(signed char value);
    bool Write(unsigned char value);
    bool Write(std::string_view value);
    bool Write(const std::string& value) { return Write(std::string_view(value)); }
    bool Write(const char* value) { return Write(std::string_view(value)); }
    // Any other pointer would silently become a bool.
    bool Write(const void*) = delete;
    bool Write(const StreamWritable& record) { return record.Write(*this); }

    template <class A, class B> bool Write(const std::pair<A, B>& value);
    template <class T, class Alloc> bool Write(const std::list<T, Alloc>& values);
    template <class T, class Compare, class Alloc>
    bool Write(const std::set<T, Compare, Alloc>& values);
    template <class K, class V, class Compare, class Alloc>
    bool Write(const std::map<K, V, Compare, Alloc>& values);

private:
    bool WriteUInt64(std::uint64_t value);
    bool WriteCount(std::size_t count);
    template <class Container> bool WriteElements(const Container& values);
};

template <WireFormat::Integer64 T> bool OutputStream::Write(T value)
{
    return WriteUInt64(static_cast<std::uint64_t>(value));
}

template <class A, class B> bool OutputStream::Write(const std::pair<A, B>& value)
{
    return Write(value.first) && Write(value.second);
}

template <class Container> bool OutputStream::WriteElements(const Container& values)
{
    if (!WriteCount(values.size()))
        return false;
    for (const auto& element : values) {
        if (!Write(element))
            return false;
    }
    return true;
}

template <class T, class Alloc> bool OutputStream::Write(const std::list<T, Alloc>& values)
{
    return WriteElements(values);
}

template <class T, class Compare, class Alloc>
bool OutputStream::Write(const std::set<T, Compare, Alloc>& values)
{
    return WriteElements(values);
}

template <class K, class V, class Compare, class Alloc>
bool OutputStream::Write(const std::map<K, V, Compare, Alloc>& values)
{
    if (!WriteCount(values.size()))
        return false;
    for (const auto& [key, value] : values) {
        if (!Write(key) || !Write(value))
            return false;
    }
    return true;
}
