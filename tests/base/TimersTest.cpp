#include <QTimer>
#include <QtTest>

#include "base/DelayedInvoker.h"
#include "base/TimerManager.h"

namespace {

class SortTarget : public QObject
{
    Q_OBJECT

public:
    int sorts = 0;
    int refreshes = 0;
    int resortsWanted = 0;

public slots:
    void Sort()
    {
        ++sorts;
        if (resortsWanted-- > 0)
            delayedInvoker->Invoke(this, "1Sort()", 50);
    }
    void Refresh() { ++refreshes; }
};

// Timers still waiting to fire or to be deleted.
int LiveTimers()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return delayedInvoker->findChildren<QTimer*>().size();
}

} // namespace

// The housekeeping clocks and the delayed invoker, on a real event loop.
class TimersTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_invoker = std::make_unique<DelayedInvoker>(); }
    void cleanup() { m_invoker.reset(); }

    void ClocksTickAtTheirIntervalsFromConstruction()
    {
        QCOMPARE(timerManager, nullptr);
        {
            TimerManager manager;
            QCOMPARE(timerManager, &manager);
            const QList<std::pair<QTimer*, int>> timers = {{manager.everyHalfMinute(), 30000},
                                                           {manager.everyFiveMinutes(), 300000},
                                                           {manager.everyHour(), 3600000}};
            for (const auto& [timer, interval] : timers) {
                QCOMPARE(timer->interval(), interval);
                QVERIFY(timer->isActive() && !timer->isSingleShot());
                // Nearly the whole interval is still ahead: the clock started now.
                QVERIFY(timer->remainingTime() > interval - 1000);
            }
        }
        QCOMPARE(timerManager, nullptr);
    }

    void RepeatedRequestsCoalesceAtTheFirstDeadline()
    {
        QCOMPARE(delayedInvoker, m_invoker.get());
        SortTarget target;
        delayedInvoker->Invoke(&target, "1Sort()", 1000);
        const QList<QTimer*> timers = delayedInvoker->findChildren<QTimer*>();
        QCOMPARE(timers.size(), 1);
        QTimer* timer = timers.front();
        QVERIFY(timer->isSingleShot() && timer->interval() == 1000);
        const int remaining = timer->remainingTime();
        QTest::qWait(20);
        // The second request neither restarts the delay nor adds a call.
        delayedInvoker->Invoke(&target, "1Sort()", 1000);
        QCOMPARE(LiveTimers(), 1);
        QVERIFY(timer->remainingTime() < remaining);
        timer->start(0);
        QTRY_COMPARE(target.sorts, 1);
        QCOMPARE(LiveTimers(), 0);
        QCOMPARE(target.sorts, 1);
    }

    void EachRequestRunsOnceFromTheLoopUnlessItsTargetWentFirst()
    {
        SortTarget first;
        SortTarget second;
        delayedInvoker->Invoke(&first, "1Sort()", 0);
        delayedInvoker->Invoke(&first, "1Refresh()", 0);
        delayedInvoker->Invoke(&second, "1Sort()", 0);
        delayedInvoker->Invoke(&first, "1Sort()", 0);
        QCOMPARE(first.sorts, 0); // never from Invoke itself
        QCOMPARE(LiveTimers(), 3);
        QTRY_COMPARE(first.sorts + first.refreshes + second.sorts, 3);
        QVERIFY(first.sorts == 1 && first.refreshes == 1 && second.sorts == 1);
        QCOMPARE(LiveTimers(), 0);

        // A target may ask again from inside the call.
        first.resortsWanted = 1;
        delayedInvoker->Invoke(&first, "1Sort()", 50);
        QTRY_COMPARE(first.sorts, 3);
        QCOMPARE(LiveTimers(), 0);

        auto* doomed = new SortTarget;
        delayedInvoker->Invoke(doomed, "1Sort()", 30);
        delete doomed;
        QCOMPARE(LiveTimers(), 0);
        // A new object at the dead one's address still gets its call.
        SortTarget survivor;
        delayedInvoker->Invoke(&survivor, "1Sort()", 30);
        QTRY_COMPARE(survivor.sorts, 1);
        QCOMPARE(first.sorts, 3);
        m_invoker.reset();
        QCOMPARE(delayedInvoker, nullptr);
    }

private:
    std::unique_ptr<DelayedInvoker> m_invoker;
};

QTEST_GUILESS_MAIN(TimersTest)
#include "TimersTest.moc"
