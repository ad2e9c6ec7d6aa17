#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The raw values at the start of a file connection: the uploader sends the
// u32 transfer token, the downloader answers with the u64 offset it already
// has. Both are little-endian and travel outside any frame.
namespace FileConnectionWire {

constexpr int TokenSize = 4;
constexpr int OffsetSize = 8;

QByteArray EncodeToken(quint32 token);
QByteArray EncodeOffset(quint64 offset);
// Reads the value from the first bytes; empty when fewer bytes are given.
std::optional<quint32> DecodeToken(const QByteArray& bytes);
std::optional<quint64> DecodeOffset(const QByteArray& bytes);

// Whether an upload of a file of length bytes can start at offset: at least
// one byte must be left to send, so an offset equal to the length is refused
// (the downloader would not be asking for a file it already has).
bool IsValidUploadOffset(quint64 offset, qint64 length);

} // namespace FileConnectionWire
