#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include <QByteArray>

#include <zlib.h>

#include "Bytes.h"

// Expected bytes of the file records and compressed bodies, written out
// field by field as the layouts give them.
namespace RecordBytes {

inline ByteBuilder& UInt64(ByteBuilder& bytes, std::uint64_t value)
{
    return bytes.UInt32(static_cast<std::uint32_t>(value))
        .UInt32(static_cast<std::uint32_t>(value >> 32));
}

// A whole file record: marker 1, name, u64 size, extension, attribute pairs.
inline ByteBuilder
Record(const QByteArray& name, std::uint64_t size, const QByteArray& extension = "",
       std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> attributes = {})
{
    ByteBuilder bytes;
    bytes.Byte(1).String(name);
    UInt64(bytes, size).String(extension).UInt32(static_cast<std::uint32_t>(attributes.size()));
    for (const auto& [code, value] : attributes)
        bytes.UInt32(code).UInt32(value);
    return bytes;
}

// The bytes as zlib compresses them at level 9, the level every sender uses.
inline QByteArray Compressed(const QByteArray& raw)
{
    uLongf length = compressBound(static_cast<uLong>(raw.size()));
    QByteArray packed(static_cast<qsizetype>(length), '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length,
                  reinterpret_cast<const Bytef*>(raw.constData()), static_cast<uLong>(raw.size()),
                  9) != Z_OK)
        return QByteArray();
    packed.resize(static_cast<qsizetype>(length));
    return packed;
}

} // namespace RecordBytes
