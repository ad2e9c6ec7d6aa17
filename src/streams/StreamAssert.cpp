#include "streams/StreamAssert.h"

#include <cstdio>
#include <cstdlib>

void StreamAssertFailed(const char* condition, const char* function, const char* file, int line)
{
    std::fprintf(stderr, "ASSERT: \"%s\" in %s (%s:%d)\n", condition, function, file, line);
    std::fflush(stderr);
    std::abort();
}
