#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// The longest the event loop went without running a 1 ms timer, and the
// largest resident set seen meanwhile.
class LoopWatch : public QObject
{
public:
    LoopWatch();

    void Start();
    void Stop() { m_timer.stop(); }
    double MaxGapMs() const { return double(m_maxGapMs); }
    double MaxRssMiB() const { return m_maxRss; }

private:
    void Tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_maxGapMs = 0;
    double m_maxRss = 0;
    int m_ticks = 0;
};
