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

int LiveTimers()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return delayedInvoker->findChildren<QTimer*>().size();
}

} // namespace

class TimersTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_invoker = std::make_unique<DelayedInvoker>(); }
    void cleanup() { m_invoker.reset(); }

    void ClocksRunWhileTheManagerLives()
    {
        QCOMPARE(timerManager, nullptr);
        {
            TimerManager manager;
            QCOMPARE(timerManager, &manager);
            for (QTimer* timer :
                 {manager.everyHalfMinute(), manager.everyFiveMinutes(), manager.everyHour()})
                QVERIFY(timer->isActive() && !timer->isSingleShot());
        }
        QCOMPARE(timerManager, nullptr);
    }

    void RepeatedRequestsCoalesceAtTheFirstDeadline()
    {
        SortTarget target;
        delayedInvoker->Invoke(&target, "1Sort()", 1000);
        // The second request neither moves the deadline nor adds a call.
        delayedInvoker->Invoke(&target, "1Sort()", 5000);
        const QList<QTimer*> timers = delayedInvoker->findChildren<QTimer*>();
        QCOMPARE(timers.size(), 1);
        QTimer* timer = timers.front();
        QVERIFY(timer->isSingleShot() && timer->interval() == 1000);
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
