#pragma once

#include <cstdint>

#include <QByteArray>
#include <QCryptographicHash>

// Expected bytes written by hand, field by field, little-endian.
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

// A message body as the tables lay it out: the u32 code, then the fields.
inline ByteBuilder Body(std::uint32_t code)
{
    return ByteBuilder().UInt32(code);
}

// A frame as both sides send it: the body's length, then the body.
inline QByteArray Frame(const QByteArray& body)
{
    return ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body);
}

// The login body a client sends, its digest computed here from the two fields.
inline QByteArray LoginBody(const QByteArray& user, const QByteArray& password)
{
    const QByteArray digest =
        QCryptographicHash::hash(user + password, QCryptographicHash::Md5).toHex();
    return Body(1).String(user).String(password).UInt32(157).String(digest).UInt32(100);
}
