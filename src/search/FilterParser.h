#pragma once

#include <QString>
#include <QStringList>

// The text of a filter field as words every matching text must contain and
// words none may contain, compared case-insensitively as substrings. A word
// led by "-" excludes; a lone "-" means nothing.
//
// Rows are matched on two levels: whatever the words of a folder's path
// already satisfy need not appear again in the names of its files, so
// "album track" keeps "Track 01.flac" inside a folder named "Album".
class FilterParser
{
public:
    enum Result
    {
        Matching = 0,
        TermMissing = 1,
        TermExcluded = 2
    };

    // Appends the words of `text`; parse into a fresh parser to start over.
    void Parse(const QString& text);

    // Matching, TermMissing or TermExcluded. With `remaining` given it is
    // refilled with what a more specific text (a file inside this folder)
    // still has to satisfy: every exclude and the includes not found here.
    int IsMatching(const QString& text, FilterParser* remaining = nullptr) const;

    // The two-level rule for one file: its folder's text first, then the
    // file name against what the folder left over.
    bool IsFileShown(const QString& folder, const QString& fileName) const;

    // For many texts: the terms are lower-cased once and texts must come
    // lower-cased (QString::toLower) from then on, which turns every test
    // into a plain substring search. Parse first.
    void ExpectFoldedTexts();

    bool IsEmpty() const { return m_include.isEmpty() && m_exclude.isEmpty(); }
    const QStringList& IncludeTerms() const { return m_include; }
    const QStringList& ExcludeTerms() const { return m_exclude; }

private:
    QStringList m_include;
    QStringList m_exclude;
    Qt::CaseSensitivity m_case = Qt::CaseInsensitive;
};
