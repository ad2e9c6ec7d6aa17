#pragma once

// Checks for programming errors in the stream classes: an empty stream
// pointer, sizing a stream that already holds data, advancing past the end of
// the buffer. They stay on in release builds, because each one guards a write
// outside the buffer rather than a mere inconsistency.
[[noreturn]] void StreamAssertFailed(const char* condition, const char* function, const char* file,
                                     int line);

#define QUORVALE_STREAM_ASSERT_TEXT(condition, text)                                               \
    do {                                                                                           \
        if (!(condition))                                                                          \
            StreamAssertFailed(text, __PRETTY_FUNCTION__, __FILE__, __LINE__);                     \
    } while (0)

#define QUORVALE_STREAM_ASSERT(condition) QUORVALE_STREAM_ASSERT_TEXT(condition, #condition)
