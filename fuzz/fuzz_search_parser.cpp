// Parses arbitrary text as a search query. Whatever parses must leave
// something to look for, and no word may be empty or hold a quote: an empty
// word would match every name, and a quote means the text was cut wrongly.
// Whatever is refused must leave all three sets empty.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "sharing/SearchParser.h"

namespace {

void CheckWords(const std::set<std::string>& words)
{
    for (const std::string& word : words)
        FUZZ_CHECK(!word.empty() && word.find('"') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    SearchParser parser;
    if (!parser.Tokenize(text)) {
        FUZZ_CHECK(parser.GetIncludedTokenSet().empty() &&
                   parser.GetIncludedPartTokenSet().empty() &&
                   parser.GetExcludedTokenSet().empty());
        return 0;
    }
    FUZZ_CHECK(!parser.GetIncludedTokenSet().empty() || !parser.GetIncludedPartTokenSet().empty());
    CheckWords(parser.GetIncludedTokenSet());
    CheckWords(parser.GetIncludedPartTokenSet());
    CheckWords(parser.GetExcludedTokenSet());
    // Parsing the same text again gives the same sets.
    SearchParser again;
    FUZZ_CHECK(again.SetSearchText(text));
    FUZZ_CHECK(again.GetIncludedTokenSet() == parser.GetIncludedTokenSet() &&
               again.GetIncludedPartTokenSet() == parser.GetIncludedPartTokenSet() &&
               again.GetExcludedTokenSet() == parser.GetExcludedTokenSet());
    return 0;
}
