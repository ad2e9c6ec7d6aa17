#include "LoopWatch.h"

#include <algorithm>

#include "BenchSupport.h"

LoopWatch::LoopWatch()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
}

void LoopWatch::Start()
{
    m_maxGapMs = 0;
    m_maxRss = BenchSupport::ResidentMiB();
    m_ticks = 0;
    m_clock.start();
    m_timer.start();
}

void LoopWatch::Tick()
{
    m_maxGapMs = std::max(m_maxGapMs, m_clock.restart());
    if (++m_ticks % 100 == 0)
        m_maxRss = std::max(m_maxRss, BenchSupport::ResidentMiB());
}
