# The search query parser on arbitrary text.
quorvale_add_fuzzer(fuzz_search_parser fuzz_search_parser.cpp)
