#pragma once

#include <memory>

class QTimer;

// The three clocks that drive all periodic housekeeping. Managers connect to
// the accessor they need; each first tick comes one full interval after the
// manager is constructed, never at start.
class TimerManager
{
public:
    TimerManager();
    ~TimerManager();
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;

    QTimer* everyHalfMinute() const { return m_everyHalfMinute.get(); }
    QTimer* everyFiveMinutes() const { return m_everyFiveMinutes.get(); }
    QTimer* everyHour() const { return m_everyHour.get(); }

    // Makes `timer` tick as soon as the event loop runs, then go on at its
    // usual interval: lets a driving program or a test skip the wait.
    static void FireNow(QTimer* timer);

private:
    static std::unique_ptr<QTimer> StartRepeating(int intervalMs);

    std::unique_ptr<QTimer> m_everyHalfMinute;
    std::unique_ptr<QTimer> m_everyFiveMinutes;
    std::unique_ptr<QTimer> m_everyHour;
};

extern TimerManager* timerManager;
