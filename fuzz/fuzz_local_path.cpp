// Remote names as local path components. The input holds two names split at
// the first 0xFF byte (read as UTF-8, and the whole input also as UTF-16 so
// unpaired surrogates are reached). Every spelling must stay one harmless
// component, two different names must never share a spelling, and a folder
// built from the names must only hold such components.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <QStringList>

#include "FuzzCheck.h"
#include "transfers/LocalPathSanitizer.h"

namespace {

void CheckComponent(const QString& component)
{
    FUZZ_CHECK(!component.isEmpty() && component != u"." && component != u"..");
    FUZZ_CHECK(!component.contains(u'/') && !component.contains(u'\\'));
    FUZZ_CHECK(!component.contains(QChar(0)));
    const QByteArray bytes = component.toUtf8();
    FUZZ_CHECK(bytes.size() <= MaxLocalComponentBytes);
    // Only whole characters: the bytes read back to the same text.
    FUZZ_CHECK(QString::fromUtf8(bytes) == component);
}

void CheckName(const QString& name)
{
    const QString spelling = SafeLocalComponent(name);
    CheckComponent(spelling);
    // A changed name's spelling is never itself a name left unchanged, or
    // the two would share a local file.
    if (spelling != name)
        FUZZ_CHECK(SafeLocalComponent(spelling) != spelling);
}

void CheckPair(const QString& first, const QString& second)
{
    CheckName(first);
    CheckName(second);
    FUZZ_CHECK((first == second) == (SafeLocalComponent(first) == SafeLocalComponent(second)));
}

void CheckFolder(const QString& folder, int level)
{
    const QString relative = SafeRelativeFolder(folder, level);
    if (folder.isEmpty()) {
        FUZZ_CHECK(relative.isEmpty());
        return;
    }
    const QStringList components = relative.split(u'\\');
    FUZZ_CHECK(components.size() <= level + 1);
    for (const QString& component : components)
        CheckComponent(component);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const void* split = std::memchr(data, 0xFF, size);
    const size_t firstSize = split ? static_cast<const uint8_t*>(split) - data : size;
    const QString first = QString::fromUtf8(text, firstSize);
    const QString second =
        split ? QString::fromUtf8(text + firstSize + 1, size - firstSize - 1) : QString();
    CheckPair(first, second);

    // Copied so the UTF-16 units are aligned.
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    const QString wide = QString::fromUtf16(units.data(), units.size());
    CheckPair(wide, first);
    CheckPair(wide, wide.left(wide.size() - 1));

    CheckFolder(first, size % 4);
    CheckFolder(wide, 8);
    return 0;
}
