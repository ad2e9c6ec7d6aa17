#include "transfers/UploadThrottle.h"

#include <QElapsedTimer>
#include <QThread>

#include "transfers/UploadSpeedLimits.h"

UploadThrottle::UploadThrottle(UploadSpeedLimits* limits, ClockFunction clock, SleepFunction sleep)
    : m_limits(limits), m_clock(std::move(clock)), m_sleep(std::move(sleep))
{
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] { return timer->elapsed(); };
    }
    if (!m_sleep)
        m_sleep = [](qint64 ms) {
            QThread::msleep(static_cast<unsigned long>(ms));
            return true;
        };
}

void UploadThrottle::Start()
{
    const qint64 now = m_clock();
    m_speedStart = now;
    m_throttleStart = now;
    m_sentSinceStart = 0;
    m_owed = 0;
    m_previousLimit = m_limits->Total();
    m_limit = m_previousLimit;
}

void UploadThrottle::BeforeChunk()
{
    m_limit = m_limits->PerUpload();
    if (m_limit != m_previousLimit) {
        m_speedStart = m_clock();
        m_sentSinceStart = 0;
    }
    // The manager never hands out a negative share; treat one as unlimited
    // rather than dividing by it.
    if (m_limit > 0)
        Step(m_limit);
    else
        Idle();
}

int UploadThrottle::AfterChunk(qint64 bytes)
{
    m_sentSinceStart += bytes;
    if (m_limit > 0)
        m_owed += bytes;
    m_previousLimit = m_limit;
    const qint64 elapsed = m_clock() - m_speedStart;
    if (elapsed <= 0)
        return 0;
    return static_cast<int>(m_sentSinceStart * 1000 / elapsed);
}

void UploadThrottle::Step(int limit)
{
    m_owed = m_limits->PayFromPool(m_owed);
    SleepUntil(m_clock() + m_owed / limit);
    const qint64 now = m_clock();
    const qint64 dt = now - m_throttleStart;
    m_throttleStart = now;
    m_limits->AddToPool(qint64(limit) * 1024 * dt / 1000 - m_owed);
    m_owed = 0;
}

void UploadThrottle::Idle()
{
    m_owed = 0;
    m_throttleStart = m_clock();
}

void UploadThrottle::SleepUntil(qint64 target)
{
    // A sleep may end early (or the clock be coarse); keep sleeping the rest
    // rather than polling.
    for (qint64 now = m_clock(); now < target; now = m_clock()) {
        if (!m_sleep(target - now))
            return;
    }
}
