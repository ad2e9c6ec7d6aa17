#include "LocalPathSanitizer.h"

#include <algorithm>
#include <vector>

#include <QCryptographicHash>
#include <QStringList>

namespace {

// The spelling of an empty name. Escaping never writes a space, so this
// cannot be the spelling of any other remote name.
const QString EmptyNameSpelling = QStringLiteral("%20");
constexpr int HashDigits = 16;

bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

bool IsAsciiLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool LooksLikeDrive(const QString& name)
{
    return name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == u':';
}

bool IsPairedSurrogateAt(const QString& name, int i)
{
    if (name[i].isHighSurrogate())
        return i + 1 < name.size() && name[i + 1].isLowSurrogate();
    if (name[i].isLowSurrogate())
        return i > 0 && name[i - 1].isHighSurrogate();
    return false;
}

bool IsLoneSurrogateAt(const QString& name, int i)
{
    return name[i].isSurrogate() && !IsPairedSurrogateAt(name, i);
}

bool HoldsEscapeLookalike(const QString& name)
{
    for (int i = 0; i + 2 < name.size(); ++i) {
        if (name[i] == u'%' && IsHexDigit(name[i + 1]) && IsHexDigit(name[i + 2]))
            return true;
    }
    return false;
}

// A name that starts with a byte order mark would not read back from the
// disk as written: decoding a file name as UTF-8 drops a leading one.
bool IsLeadingByteOrderMarkAt(const QString& name, int i)
{
    return i == 0 && name[i].unicode() == 0xFEFF;
}

// The character at i cannot stand in a component as it is.
bool IsUnsafeAt(const QString& name, int i)
{
    const QChar c = name[i];
    return IsControl(c) || c == u'/' || c == u'\\' || IsLoneSurrogateAt(name, i) ||
           IsLeadingByteOrderMarkAt(name, i) || (i == 1 && c == u':' && LooksLikeDrive(name));
}

// Once a name is escaped, "%" is escaped too so the spelling reads back
// one way only.
bool IsOffendingAt(const QString& name, int i)
{
    return name[i] == u'%' || IsUnsafeAt(name, i);
}

bool NeedsEscaping(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u".." || LooksLikeDrive(name) ||
        HoldsEscapeLookalike(name) || name.toUtf8().size() > MaxLocalComponentBytes)
        return true;
    for (int i = 0; i < name.size(); ++i) {
        if (IsUnsafeAt(name, i))
            return true;
    }
    return false;
}

// Appends each byte as "%XX", upper-case hexadecimal.
void AppendEscapes(QString& out, const QByteArray& bytes)
{
    static constexpr char16_t Digits[] = u"0123456789ABCDEF";
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        out += u'%';
        out += QChar(Digits[value >> 4]);
        out += QChar(Digits[value & 0xF]);
    }
}

// The code unit as UTF-8 would write it if it stood alone; for an unpaired
// surrogate that is the three-byte form, which no valid name produces.
QByteArray LoneUnitBytes(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return QByteArray(1, static_cast<char>(u));
    QByteArray bytes;
    bytes += static_cast<char>(0xE0 | (u >> 12));
    bytes += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (u & 0x3F));
    return bytes;
}

int Utf8Length(char16_t unit)
{
    return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
}

// An escaped name and where its pieces end. Every piece is either one escape
// or one whole character, so cutting the spelling at a piece end never
// splits either.
struct Spelling
{
    QString text;
    std::vector<qsizetype> ends; // in UTF-16 units of text
    std::vector<int> byteEnds;   // the same ends, in UTF-8 bytes
};

void EndPiece(Spelling& spelling, int bytes)
{
    spelling.ends.push_back(spelling.text.size());
    spelling.byteEnds.push_back((spelling.byteEnds.empty() ? 0 : spelling.byteEnds.back()) + bytes);
}

Spelling Escaped(const QString& name)
{
    Spelling spelling;
    spelling.text.reserve(name.size() * 2);
    spelling.ends.reserve(name.size());
    spelling.byteEnds.reserve(name.size());
    if (name == u"." || name == u"..") {
        for (int i = 0; i < name.size(); ++i) {
            AppendEscapes(spelling.text, ".");
            EndPiece(spelling, 3);
        }
        return spelling;
    }
    for (int i = 0; i < name.size(); ++i) {
        if (IsOffendingAt(name, i)) {
            const QByteArray bytes = LoneUnitBytes(name[i]);
            AppendEscapes(spelling.text, bytes);
            EndPiece(spelling, 3 * int(bytes.size()));
        } else if (name[i].isHighSurrogate()) {
            spelling.text += name[i];
            spelling.text += name[++i];
            EndPiece(spelling, 4);
        } else {
            spelling.text += name[i];
            EndPiece(spelling, Utf8Length(name[i].unicode()));
        }
    }
    return spelling;
}

QString CutToLimit(const Spelling& spelling)
{
    const QString hash =
        QString::fromLatin1(
            QCryptographicHash::hash(spelling.text.toUtf8(), QCryptographicHash::Sha256).toHex())
            .left(HashDigits)
            .toUpper();
    const int room = MaxLocalComponentBytes - 1 - HashDigits;
    const auto fits = std::upper_bound(spelling.byteEnds.begin(), spelling.byteEnds.end(), room);
    const qsizetype kept =
        fits == spelling.byteEnds.begin() ? 0 : spelling.ends[fits - spelling.byteEnds.begin() - 1];
    return spelling.text.left(kept) + u'%' + hash;
}

} // namespace

QString SafeLocalComponent(const QString& remoteName)
{
    if (!NeedsEscaping(remoteName))
        return remoteName;
    if (remoteName.isEmpty())
        return EmptyNameSpelling;
    const Spelling spelling = Escaped(remoteName);
    if (spelling.byteEnds.back() <= MaxLocalComponentBytes)
        return spelling.text;
    return CutToLimit(spelling);
}

QString SafeRelativeFolder(const QString& remoteFolder, int level)
{
    if (remoteFolder.isEmpty())
        return QString();
    QString folder = remoteFolder;
    if (folder.endsWith(u'\\'))
        folder.chop(1);
    const QStringList components = folder.split(u'\\');
    const qsizetype count =
        std::min<qsizetype>(qsizetype(std::max(level, 0)) + 1, components.size());
    QStringList safe;
    for (qsizetype i = components.size() - count; i < components.size(); ++i)
        safe << SafeLocalComponent(components[i]);
    return safe.join(u'\\');
}
