#include "LoopWatch.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>

#include "BenchSupport.h"

LoopWatch::LoopWatch()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/schedstat", long(::syscall(SYS_gettid)));
    m_schedstat = ::open(path, O_RDONLY);
}

LoopWatch::~LoopWatch()
{
    if (m_schedstat >= 0)
        ::close(m_schedstat);
}

// "on-cpu-ns runqueue-wait-ns timeslices"
LoopWatch::SchedulerTimes LoopWatch::ReadSchedulerTimes() const
{
    SchedulerTimes times;
    char text[128];
    const ssize_t n = m_schedstat >= 0 ? ::pread(m_schedstat, text, sizeof text - 1, 0) : -1;
    if (n <= 0)
        return times;
    text[n] = '\0';
    char* end = nullptr;
    times.cpuNs = std::strtoll(text, &end, 10);
    times.queuedNs = std::strtoll(end, nullptr, 10);
    return times;
}

void LoopWatch::Start()
{
    m_maxGapNs = 0;
    m_maxGap = SchedulerTimes();
    m_maxTurnCpuNs = 0;
    m_lastTimes = ReadSchedulerTimes();
    m_maxRss = BenchSupport::ResidentMiB();
    m_ticks = 0;
    m_clock.start();
    m_timer.start();
}

void LoopWatch::Tick()
{
    const qint64 gap = m_clock.nsecsElapsed();
    m_clock.restart();
    const SchedulerTimes times = ReadSchedulerTimes();
    if (gap > m_maxGapNs) {
        m_maxGapNs = gap;
        m_maxGap = {times.cpuNs - m_lastTimes.cpuNs, times.queuedNs - m_lastTimes.queuedNs};
    }
    m_maxTurnCpuNs = std::max(m_maxTurnCpuNs, times.cpuNs - m_lastTimes.cpuNs);
    m_lastTimes = times;
    if (++m_ticks % 100 == 0)
        m_maxRss = std::max(m_maxRss, BenchSupport::ResidentMiB());
}
