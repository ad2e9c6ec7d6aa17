#pragma once

#include <QtGlobal>

#include <functional>

class UploadSpeedLimits;

// The pacing of one upload: the throttle that holds it to its share of the
// speed limit, and the speed it reports, an average since the start or since
// the per-upload limit last changed (a new share makes the old average
// meaningless). The clock and the sleep are injectable so the arithmetic can
// be checked without waiting; by default they are a monotonic millisecond
// clock and QThread::msleep.
class UploadThrottle
{
public:
    using ClockFunction = std::function<qint64()>;
    // Returns false when the sleep was cut short because the upload is
    // stopping; the throttle then gives up waiting.
    using SleepFunction = std::function<bool(qint64 ms)>;

    explicit UploadThrottle(UploadSpeedLimits* limits, ClockFunction clock = {},
                            SleepFunction sleep = {});

    // Starts the measurement and the throttle timer.
    void Start();
    // Before each chunk: reads the per-upload limit, restarts the average
    // when it changed, and sleeps off what this upload owes beyond its
    // allowance and what the pool could lend. While there is no limit the
    // throttle idles: nothing is owed, so a limit switched on in the middle
    // of an upload paces from then on instead of charging for every byte
    // sent before it.
    void BeforeChunk();
    // After each chunk of bytes was sent: returns the average speed in bytes
    // per second.
    int AfterChunk(qint64 bytes);

    qint64 Owed() const { return m_owed; }

private:
    void Step(int limit);
    void SleepUntil(qint64 target);
    void Idle();

    UploadSpeedLimits* m_limits;
    ClockFunction m_clock;
    SleepFunction m_sleep;
    qint64 m_speedStart = 0;
    qint64 m_sentSinceStart = 0;
    qint64 m_throttleStart = 0;
    qint64 m_owed = 0;
    int m_limit = 0;
    int m_previousLimit = 0;
};
