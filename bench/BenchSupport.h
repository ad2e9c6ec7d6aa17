#pragma once

#include <chrono>
#include <initializer_list>

#include "app/StartUpHost.h"

// What every benchmark prints and measures the same way.
namespace BenchSupport {

using Clock = std::chrono::steady_clock;

// One figure as a "name value" line, flushed at once so a slow later
// measurement never hides the earlier ones.
void Print(const char* name, double value, int decimals);
// The resident set of this process.
double ResidentMiB();
// The largest resident set this process has had so far.
double PeakResidentMiB();
double SecondsSince(Clock::time_point start);
// User plus system CPU time of this process, in seconds.
double CpuSeconds();
// The same for the calling thread alone.
double ThreadCpuSeconds();

// A "--name N" option taking a positive whole number.
struct Option
{
    const char* name;
    int* value;
};
// Reads the options into their targets, which hold the defaults; prints
// the usage line and exits with 2 on anything else.
void ParseOptions(int argc, char** argv, const char* program,
                  std::initializer_list<Option> options);

// Start-up without a window: a failed snapshot load is not a question here.
// With QUORVALE_BENCH_LOG set the core's log lines go to stderr, which is
// how one finds out why a benchmark's transfers stand still.
class Host : public StartUpHost
{
public:
    void PrepareLogging() override;
    void SnapshotLoadFailed(const char*, const char*) override {}
};

} // namespace BenchSupport
