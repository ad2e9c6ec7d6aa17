#include "sharing/SearchTokenizer.h"

std::string SearchTokenizer::LowerCase(std::string_view text)
{
    std::string lower;
    LowerCase(text, lower);
    return lower;
}

void SearchTokenizer::LowerCase(std::string_view text, std::string& out)
{
    out.assign(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
}
