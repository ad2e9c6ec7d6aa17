#include "search/FilterParser.h"

void FilterParser::Parse(const QString& text)
{
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        if (!word.startsWith('-'))
            m_include << word;
        else if (word.size() > 1)
            m_exclude << word.mid(1);
    }
}

void FilterParser::ExpectFoldedTexts()
{
    for (QString& term : m_include)
        term = term.toLower();
    for (QString& term : m_exclude)
        term = term.toLower();
    m_case = Qt::CaseSensitive;
}

int FilterParser::IsMatching(const QString& text, FilterParser* remaining) const
{
    if (remaining) {
        remaining->m_include.clear();
        remaining->m_exclude.clear();
        remaining->m_case = m_case;
    }
    for (const QString& term : m_exclude)
        if (text.contains(term, m_case))
            return TermExcluded;
    if (remaining)
        remaining->m_exclude = m_exclude;

    for (const QString& term : m_include) {
        if (text.contains(term, m_case))
            continue;
        if (!remaining)
            return TermMissing;
        remaining->m_include << term;
    }
    return remaining && !remaining->m_include.isEmpty() ? TermMissing : Matching;
}

bool FilterParser::IsFileShown(const QString& folder, const QString& fileName) const
{
    FilterParser remaining;
    if (IsMatching(folder, &remaining) == TermExcluded)
        return false;
    return remaining.IsMatching(fileName) == Matching;
}
