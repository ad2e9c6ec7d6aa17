#include "BenchSupport.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "base/Log.h"
#include "base/LogSink.h"

namespace BenchSupport {

void Print(const char* name, double value, int decimals)
{
    std::printf("%s %.*f\n", name, decimals, value);
    std::fflush(stdout);
}

namespace {

double StatusMiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::strtod(line.c_str() + length, nullptr) / 1024.0;
    return 0.0;
}

} // namespace

double ResidentMiB()
{
    return StatusMiB("VmRSS:");
}

double PeakResidentMiB()
{
    return StatusMiB("VmHWM:");
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

namespace {

[[noreturn]] void Usage(const char* program, std::initializer_list<Option> options)
{
    std::fprintf(stderr, "usage: %s", program);
    for (const Option& option : options)
        std::fprintf(stderr, " [%s N]", option.name);
    std::fprintf(stderr, "\n");
    std::exit(2);
}

const Option* Find(const char* name, std::initializer_list<Option> options)
{
    for (const Option& option : options)
        if (std::strcmp(name, option.name) == 0)
            return &option;
    return nullptr;
}

} // namespace

void ParseOptions(int argc, char** argv, const char* program, std::initializer_list<Option> options)
{
    for (int n = 1; n < argc; n += 2) {
        const Option* option = Find(argv[n], options);
        if (!option || n + 1 >= argc)
            Usage(program, options);
        *option->value = std::atoi(argv[n + 1]);
        if (*option->value <= 0)
            Usage(program, options);
    }
}

namespace {
struct StderrSink : LogSink
{
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(category), qPrintable(line));
    }
};
} // namespace

void Host::PrepareLogging()
{
    static StderrSink sink;
    if (qEnvironmentVariableIsSet("QUORVALE_BENCH_LOG"))
        SetLogSink(&sink);
}

} // namespace BenchSupport
