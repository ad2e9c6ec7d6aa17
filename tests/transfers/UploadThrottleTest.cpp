#include <QtTest>

#include <vector>

#include "transfers/UploadSpeedLimits.h"
#include "transfers/UploadThrottle.h"

// On a clock the test moves: every sleep is recorded and advances the clock
// by what was asked (or by what the test lets it), so no test waits.
class UploadThrottleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void OwedBytesAreSleptOffAfterThePoolPays_data();
    void OwedBytesAreSleptOffAfterThePoolPays();
    void ShortSleepsResumeUntilTheTargetUnlessStopping();
    void LimitChangeRestartsTheAverage();
    void ALimitSwitchedOnLateChargesOnlyWhatFollows();

private:
    UploadThrottle MakeThrottle();

    UploadSpeedLimits m_limits;
    qint64 m_now = 0;
    std::vector<qint64> m_sleeps;
    // How much of each requested sleep really passes.
    qint64 m_sleepDivisor = 1;
    bool m_stopping = false;
};

void UploadThrottleTest::init()
{
    m_limits.Set(0, 0);
    m_now = 1000;
    m_sleeps.clear();
    m_sleepDivisor = 1;
    m_stopping = false;
}

UploadThrottle UploadThrottleTest::MakeThrottle()
{
    return UploadThrottle(
        &m_limits, [this] { return m_now; },
        [this](qint64 ms) {
            m_sleeps.push_back(ms);
            m_now += qMax<qint64>(1, ms / m_sleepDivisor);
            return !m_stopping;
        });
}

void UploadThrottleTest::OwedBytesAreSleptOffAfterThePoolPays_data()
{
    QTest::addColumn<qint64>("pool");
    QTest::addColumn<qint64>("sleep");
    QTest::addColumn<qint64>("poolAfter");
    // 8192 owed at 100: 81 ms, then 100 * 1024 * 81 / 1000 - 8192 = 102
    // bytes of unused allowance go to the pool.
    QTest::newRow("empty pool") << qint64(0) << qint64(81) << qint64(102);
    // The pool pays 5000; 3192 / 100 = 31 ms earns 3174 < 3192, no credit.
    QTest::newRow("pool pays part") << qint64(5000) << qint64(31) << qint64(0);
    // The pool pays all; no sleep, no time passed, no credit.
    QTest::newRow("pool pays all") << qint64(10000) << qint64(0) << qint64(1808);
}

void UploadThrottleTest::OwedBytesAreSleptOffAfterThePoolPays()
{
    QFETCH(qint64, pool);
    QFETCH(qint64, sleep);
    QFETCH(qint64, poolAfter);
    m_limits.Set(100, 100);
    UploadThrottle throttle = MakeThrottle();
    throttle.Start();
    throttle.BeforeChunk();
    QVERIFY(m_sleeps.empty());
    throttle.AfterChunk(8192);
    m_limits.AddToPool(pool);

    const qint64 before = m_now;
    throttle.BeforeChunk();
    QCOMPARE(m_now - before, sleep);
    QCOMPARE(m_sleeps.size(), std::size_t(sleep > 0 ? 1 : 0));
    QCOMPARE(m_limits.Pool(), poolAfter);
    QCOMPARE(throttle.Owed(), qint64(0));
}

void UploadThrottleTest::ShortSleepsResumeUntilTheTargetUnlessStopping()
{
    m_sleepDivisor = 2;
    for (bool stopping : {false, true}) {
        m_limits.Set(100, 100);
        m_sleeps.clear();
        m_stopping = stopping;
        UploadThrottle throttle = MakeThrottle();
        throttle.Start();
        throttle.BeforeChunk();
        throttle.AfterChunk(8192);
        const qint64 before = m_now;
        throttle.BeforeChunk();
        QCOMPARE(m_sleeps.front(), qint64(81));
        QCOMPARE(m_sleeps.size() > 1, !stopping);
        QCOMPARE(m_now - before, stopping ? qint64(40) : qint64(81));
    }
}

void UploadThrottleTest::LimitChangeRestartsTheAverage()
{
    m_limits.Set(1000000, 1000000);
    UploadThrottle throttle = MakeThrottle();
    throttle.Start();
    for (int i = 0; i < 2; ++i) {
        throttle.BeforeChunk();
        m_now += 1000;
        QCOMPARE(throttle.AfterChunk(8192), 8192);
    }
    // A slower second half is averaged with the first as long as the limit
    // stays: 8192 + 8192 + 8192 bytes in 4000 ms.
    throttle.BeforeChunk();
    m_now += 2000;
    QCOMPARE(throttle.AfterChunk(8192), 24576 * 1000 / 4000);

    // A new share starts a new average: one chunk in the 500 ms since.
    m_limits.Set(2000000, 1000000 / 3);
    throttle.BeforeChunk();
    m_now += 500;
    QCOMPARE(throttle.AfterChunk(8192), 8192 * 2);
    // The same share again does not restart it: two chunks in 2000 ms.
    throttle.BeforeChunk();
    m_now += 1500;
    QCOMPARE(throttle.AfterChunk(8192), 8192 * 2 * 1000 / 2000);
}

void UploadThrottleTest::ALimitSwitchedOnLateChargesOnlyWhatFollows()
{
    UploadThrottle throttle = MakeThrottle();
    throttle.Start();
    for (int i = 0; i < 100; ++i) {
        throttle.BeforeChunk();
        throttle.AfterChunk(8192);
        m_now += 1;
    }
    QVERIFY(m_sleeps.empty());
    m_limits.Set(100, 100);
    throttle.BeforeChunk();
    QVERIFY(m_sleeps.empty());
    throttle.AfterChunk(8192);
    throttle.BeforeChunk();
    // One chunk's worth, less the 102 bytes the millisecond since the last
    // unlimited chunk earned: (8192 - 102) / 100.
    QCOMPARE(m_sleeps, std::vector<qint64>{80});
}

QTEST_GUILESS_MAIN(UploadThrottleTest)
#include "UploadThrottleTest.moc"
