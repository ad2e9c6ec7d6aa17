#pragma once

#include <cstdint>
#include <type_traits>

// The byte encoding shared by every message and record: little-endian
// integers with no padding, strings and containers prefixed by a 32-bit
// length or count.
namespace WireFormat {

// Readers refuse longer strings and larger containers, so a hostile length
// field can never make us allocate more than this many elements at once.
constexpr std::uint32_t MaxStringLength = 131072;
constexpr std::uint32_t MaxContainerCount = 131072;

static_assert(sizeof(int) == 4, "int must be the 32-bit wire integer");

// The C++ type picks the wire width: int and unsigned are 4 bytes, every
// 8-byte integer type (qint64, quint64, std::int64_t, long long...) is 8.
template <class T>
concept Integer64 = std::is_integral_v<T> && !std::is_same_v<T, bool> && sizeof(T) == 8;

inline void EncodeUInt32(std::uint32_t value, unsigned char* out)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint32_t DecodeUInt32(const unsigned char* in)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return value;
}

inline void EncodeUInt64(std::uint64_t value, unsigned char* out)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint64_t DecodeUInt64(const unsigned char* in)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return value;
}

} // namespace WireFormat
