// Parses arbitrary text as a result filter and matches it against a few
// fixed folders and file names. No term may be empty (an empty word would
// match everything), and the two-level rule must agree with matching the
// joined text: a file shown under a folder has every word somewhere in the
// folder or its name, and no excluded word in either.
#include <cstddef>
#include <cstdint>

#include <QString>

#include "FuzzCheck.h"
#include "search/FilterParser.h"

namespace {

const char* const Folders[] = {"", "Music\\Album", "C:\\Live\\Tracks", "\u00dcber"};
const char* const Names[] = {"", "Track 01.flac", "track live.mp3", "-", "  ", "ALBUM.MP3"};

bool Contains(const QString& folder, const QString& name, const QString& term)
{
    return folder.contains(term, Qt::CaseInsensitive) || name.contains(term, Qt::CaseInsensitive);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FilterParser parser;
    parser.Parse(text);
    for (const QString& term : parser.IncludeTerms() + parser.ExcludeTerms())
        FUZZ_CHECK(!term.isEmpty() && !term.contains(' '));

    for (const char* folderText : Folders) {
        const QString folder = QString::fromUtf8(folderText);
        FilterParser remaining;
        const int folderResult = parser.IsMatching(folder, &remaining);
        FUZZ_CHECK(folderResult >= 0 && folderResult <= 2);
        for (const char* nameText : Names) {
            const QString name = QString::fromUtf8(nameText);
            bool expected = true;
            for (const QString& term : parser.ExcludeTerms())
                expected = expected && !Contains(folder, name, term);
            for (const QString& term : parser.IncludeTerms())
                expected = expected && Contains(folder, name, term);
            FUZZ_CHECK(parser.IsFileShown(folder, name) == expected);
        }
    }
    return 0;
}
