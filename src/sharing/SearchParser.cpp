#include "sharing/SearchParser.h"

#include <algorithm>

namespace {

constexpr char Quote = '"';
constexpr char ExcludeMark = '-';
constexpr char PartMark = '*';

} // namespace

const std::string& SearchParser::Whitespace()
{
    static const std::string whitespace = " \t";
    return whitespace;
}

bool SearchParser::SetSearchText(const std::string& text)
{
    return Tokenize(text);
}

bool SearchParser::Tokenize(const std::string& text)
{
    Clear();
    if (Parse(text))
        return true;
    // A refused query leaves nothing behind that a caller could act on.
    Clear();
    return false;
}

bool SearchParser::Parse(const std::string& text)
{
    std::size_t pos = 0;
    for (;;) {
        pos = text.find_first_not_of(Whitespace(), pos);
        if (pos == std::string::npos)
            // Exclusions only narrow what the other words find; alone they
            // would ask for everything we share.
            return !m_includedTokens.empty() || !m_includedPartTokens.empty();

        std::set<std::string>* target = &m_includedTokens;
        if (text[pos] == ExcludeMark || text[pos] == PartMark) {
            target = text[pos] == ExcludeMark ? &m_excludedTokens : &m_includedPartTokens;
            if (++pos == text.size())
                return false;
        }
        std::string token;
        if (!ReadToken(text, pos, token))
            return false;
        target->insert(std::move(token));
    }
}

bool SearchParser::ReadToken(const std::string& text, std::size_t& pos, std::string& token)
{
    if (text[pos] == Quote) {
        // An unterminated quote runs to the end of the text.
        const std::size_t close = text.find(Quote, pos + 1);
        const std::size_t end = close == std::string::npos ? text.size() : close;
        token = text.substr(pos + 1, end - pos - 1);
        pos = close == std::string::npos ? text.size() : close + 1;
    } else {
        const std::size_t end = std::min(text.find_first_of(Whitespace(), pos), text.size());
        token = text.substr(pos, end - pos);
        pos = end;
    }
    // A quote inside a word means the query is not what its sender meant to
    // send; an empty word would match every name.
    return !token.empty() && token.find(Quote) == std::string::npos;
}

void SearchParser::Clear()
{
    m_includedTokens.clear();
    m_includedPartTokens.clear();
    m_excludedTokens.clear();
}
