#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "streams/Persistent.h"
#include "streams/WireFormat.h"

// An abstract source of bytes and the typed reads of the wire format built on
// it. Every read returns false when the stream ran short or a limit was hit;
// the target may then be partly filled and the caller treats the whole
// message as malformed.
class InputStream
{
public:
    InputStream() = default;
    InputStream(const InputStream&) = default;
    InputStream& operator=(const InputStream&) = default;
    virtual ~InputStream();

    // Copies exactly n bytes to out, or returns false and consumes nothing.
    virtual bool ReadBuffer(void* out, unsigned long n) = 0;

    bool Read(int& value);
    bool Read(unsigned int& value);
    template <WireFormat::Integer64 T> bool Read(T& value);
    bool Read(bool& value);
    bool Read(char& value);
    bool Read(signed char& value);
    bool Read(unsigned char& value);
    bool Read(std::string& value);
    bool Read(StreamReadable& record) { return record.Read(*this); }

    template <class A, class B> bool Read(std::pair<A, B>& value);
    template <class T, class Alloc> bool Read(std::list<T, Alloc>& values);
    template <class T, class Compare, class Alloc> bool Read(std::set<T, Compare, Alloc>& values);
    template <class K, class V, class Compare, class Alloc>
    bool Read(std::map<K, V, Compare, Alloc>& values);

private:
    // Reads a count, then that many elements, handing each to `add`.
    template <class Element, class Container, class Add>
    bool ReadElements(Container& values, Add add);
    bool ReadUInt64(std::uint64_t& value);
    bool ReadCount(std::uint32_t& count);
};

template <WireFormat::Integer64 T> bool InputStream::Read(T& value)
{
    std::uint64_t raw = 0;
    if (!ReadUInt64(raw))
        return false;
    value = static_cast<T>(raw);
    return true;
}

template <class A, class B> bool InputStream::Read(std::pair<A, B>& value)
{
    return Read(value.first) && Read(value.second);
}

template <class Element, class Container, class Add>
bool InputStream::ReadElements(Container& values, Add add)
{
    values.clear();
    std::uint32_t count = 0;
    if (!ReadCount(count))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        Element element{};
        if (!Read(element))
            return false;
        add(std::move(element));
    }
    return true;
}

template <class T, class Alloc> bool InputStream::Read(std::list<T, Alloc>& values)
{
    return ReadElements<T>(values, [&](T&& element) { values.push_back(std::move(element)); });
}

template <class T, class Compare, class Alloc>
bool InputStream::Read(std::set<T, Compare, Alloc>& values)
{
    return ReadElements<T>(values, [&](T&& element) { values.insert(std::move(element)); });
}

template <class K, class V, class Compare, class Alloc>
bool InputStream::Read(std::map<K, V, Compare, Alloc>& values)
{
    // emplace leaves an existing entry alone: a repeated key keeps the value
    // it arrived with first.
    return ReadElements<std::pair<K, V>>(
        values, [&](std::pair<K, V>&& entry) { values.emplace(std::move(entry)); });
}
