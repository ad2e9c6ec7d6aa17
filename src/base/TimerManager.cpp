#include "TimerManager.h"

#include <QTimer>

TimerManager* timerManager = nullptr;

namespace {
constexpr int HalfMinuteMs = 30 * 1000;
constexpr int FiveMinutesMs = 5 * 60 * 1000;
constexpr int HourMs = 60 * 60 * 1000;
} // namespace

TimerManager::TimerManager()
    : m_everyHalfMinute(StartRepeating(HalfMinuteMs)),
      m_everyFiveMinutes(StartRepeating(FiveMinutesMs)), m_everyHour(StartRepeating(HourMs))
{
    timerManager = this;
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}

std::unique_ptr<QTimer> TimerManager::StartRepeating(int intervalMs)
{
    // No parent: the timers belong to this manager alone and go with it.
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(intervalMs);
    timer->setSingleShot(false);
    timer->start();
    return timer;
}

void TimerManager::FireNow(QTimer* timer)
{
    const int interval = timer->interval();
    // setInterval on a running timer restarts it, so after this one early
    // tick the next comes a full interval later.
    QObject::connect(
        timer, &QTimer::timeout, timer, [timer, interval] { timer->setInterval(interval); },
        Qt::SingleShotConnection);
    timer->start(0);
}
