#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// The longest the event loop went without running a 1 ms timer, and the
// largest resident set seen meanwhile. For the longest gap it also keeps
// how the loop's thread spent it, from the scheduler's own accounts: on a
// core (our code running), or runnable but waiting for a core (the machine
// is busy). What is left is time asleep or blocked in the kernel.
class LoopWatch : public QObject
{
public:
    LoopWatch();
    ~LoopWatch() override;

    void Start();
    void Stop() { m_timer.stop(); }
    double MaxGapMs() const { return double(m_maxGapNs) / 1e6; }
    double MaxRssMiB() const { return m_maxRss; }
    double MaxGapCpuMs() const { return double(m_maxGap.cpuNs) / 1e6; }
    double MaxGapQueuedMs() const { return double(m_maxGap.queuedNs) / 1e6; }
    // The most time on a core between two ticks, wherever it fell: unlike
    // the longest gap, it does not grow when other programs take the cores.
    double MaxTurnCpuMs() const { return double(m_maxTurnCpuNs) / 1e6; }

private:
    struct SchedulerTimes
    {
        qint64 cpuNs = 0;
        qint64 queuedNs = 0;
    };

    void Tick();
    SchedulerTimes ReadSchedulerTimes() const;

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_maxGapNs = 0;
    // The loop thread's scheduler statistics, kept open to be read cheaply
    // on every tick.
    int m_schedstat = -1;
    SchedulerTimes m_lastTimes;
    SchedulerTimes m_maxGap;
    qint64 m_maxTurnCpuNs = 0;
    double m_maxRss = 0;
    int m_ticks = 0;
};
