#pragma once

#include <set>
#include <string>

// Reads the query text of a search into what a file must have to match:
// words it must be indexed under, strings its name must contain, and
// strings its name must not contain. Words are separated by spaces or tabs;
// a leading "-" excludes, a leading "*" asks for a part of the name, and
// double quotes keep spaces inside one word. Nothing is case folded here.
class SearchParser
{
public:
    // The characters that separate words.
    static const std::string& Whitespace();

    bool SetSearchText(const std::string& text);
    // False for a malformed query (a stray quote, an empty word, a mark with
    // nothing after it) and for one with nothing to look for, such as
    // exclusions alone; the sets are then left empty. Every call starts
    // from empty sets.
    bool Tokenize(const std::string& text);

    const std::set<std::string>& GetIncludedTokenSet() const { return m_includedTokens; }
    const std::set<std::string>& GetIncludedPartTokenSet() const { return m_includedPartTokens; }
    const std::set<std::string>& GetExcludedTokenSet() const { return m_excludedTokens; }

private:
    bool Parse(const std::string& text);
    // Reads the word starting at `pos` into `token` and moves `pos` past it.
    static bool ReadToken(const std::string& text, std::size_t& pos, std::string& token);
    void Clear();

    std::set<std::string> m_includedTokens;
    std::set<std::string> m_includedPartTokens;
    std::set<std::string> m_excludedTokens;
};
