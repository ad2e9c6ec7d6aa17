# The MP3 frame vote on arbitrary bytes, checked against a plain list-based
# vote.
quorvale_add_fuzzer(fuzz_mp3_scanner fuzz_mp3_scanner.cpp)
