#pragma once

#include <string>
#include <string_view>

// Cuts a path into the words the search index knows a file by. Two passes
// over the same text: one splits at every ASCII byte that is neither a
// letter nor a digit, so "live-2004.mp3" gives live, 2004 and mp3; the other
// splits only at spaces and path separators, so the whole name
// "live-2004.mp3" is a word as well. Bytes of multi-byte UTF-8 characters
// never split a word.
class SearchTokenizer
{
public:
    static bool IsSeparator(unsigned char c)
    {
        return c < 0x80 &&
               !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    }
    static bool IsWordBreak(unsigned char c) { return c == ' ' || c == '/' || c == '\\'; }

    // Lower-cases ASCII letters only: the index must not depend on the
    // locale the program happens to run under.
    static std::string LowerCase(std::string_view text);
    // The same into a buffer the caller keeps, for loops over many names.
    static void LowerCase(std::string_view text, std::string& out);

    // Calls sink(std::string_view) for every word of both passes, in order;
    // a word found by both passes is passed twice.
    template <class Sink> static void ForEachToken(std::string_view text, Sink&& sink)
    {
        Split(text, &IsSeparator, sink);
        Split(text, &IsWordBreak, sink);
    }

private:
    template <class Sink>
    static void Split(std::string_view text, bool (*breaks)(unsigned char), Sink& sink)
    {
        std::size_t start = 0;
        for (std::size_t at = 0; at <= text.size(); ++at) {
            if (at < text.size() && !breaks(static_cast<unsigned char>(text[at])))
                continue;
            if (at > start)
                sink(text.substr(start, at - start));
            start = at + 1;
        }
    }
};
