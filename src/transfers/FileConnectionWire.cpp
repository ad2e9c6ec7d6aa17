#include "transfers/FileConnectionWire.h"

#include <QtEndian>

namespace FileConnectionWire {

QByteArray EncodeToken(quint32 token)
{
    QByteArray bytes(TokenSize, '\0');
    qToLittleEndian(token, bytes.data());
    return bytes;
}

QByteArray EncodeOffset(quint64 offset)
{
    QByteArray bytes(OffsetSize, '\0');
    qToLittleEndian(offset, bytes.data());
    return bytes;
}

std::optional<quint32> DecodeToken(const QByteArray& bytes)
{
    if (bytes.size() < TokenSize)
        return std::nullopt;
    return qFromLittleEndian<quint32>(bytes.constData());
}

std::optional<quint64> DecodeOffset(const QByteArray& bytes)
{
    if (bytes.size() < OffsetSize)
        return std::nullopt;
    return qFromLittleEndian<quint64>(bytes.constData());
}

bool IsValidUploadOffset(quint64 offset, qint64 length)
{
    return length > 0 && offset < static_cast<quint64>(length);
}

} // namespace FileConnectionWire
