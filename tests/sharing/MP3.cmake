# tests for the MP3 scanner: files lame made with known settings
# (tests/data/make-mp3s.sh), frames written byte by byte, and results
# reaching the index through the scanner thread.
quorvale_add_test(sharing_mp3_scanner MP3ScannerTest.cpp)
quorvale_add_test(sharing_mp3_index MP3IndexTest.cpp ../app/StartUpTestHost.h)
foreach(test sharing_mp3_scanner sharing_mp3_index)
    target_compile_definitions(${test} PRIVATE
        QUORVALE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/../data")
endforeach()
