#pragma once

#include <cstdint>

#include <QByteArray>

// Builds expected file and frame contents by hand, field by field, in
// little-endian order. Tests write the bytes they expect with this rather
// than asking the code under test to produce them.
class ByteBuilder
{
public:
    ByteBuilder& Int32(std::int32_t v) { return UInt32(static_cast<std::uint32_t>(v)); }
    ByteBuilder& UInt32(std::uint32_t v)
    {
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.append(static_cast<char>((v >> shift) & 0xff));
        return *this;
    }
    ByteBuilder& Byte(std::uint8_t v)
    {
        m_bytes.append(static_cast<char>(v));
        return *this;
    }
    // A 32-bit length followed by the bytes, no terminator.
    ByteBuilder& String(const QByteArray& text)
    {
        Int32(static_cast<std::int32_t>(text.size()));
        m_bytes.append(text);
        return *this;
    }
    ByteBuilder& Raw(const QByteArray& bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }

    const QByteArray& Data() const { return m_bytes; }
    operator QByteArray() const { return m_bytes; }

private:
    QByteArray m_bytes;
};
