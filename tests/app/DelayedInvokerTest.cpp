#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include "app/DelayedInvoker.h"

namespace {

class SortTarget : public QObject
{
    Q_OBJECT

public:
    int sorts = 0;
    int refreshes = 0;
    qint64 firstSortAt = -1;
    QElapsedTimer* clock = nullptr;
    int resortsWanted = 0;

public slots:
    void Sort()
    {
        ++sorts;
        if (clock && firstSortAt < 0)
            firstSortAt = clock->elapsed();
        if (resortsWanted > 0) {
            --resortsWanted;
            delayedInvoker->Invoke(this, "1Sort()", 50);
        }
    }
    void Refresh() { ++refreshes; }
};

} // namespace

class DelayedInvokerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_invoker = new DelayedInvoker; }
    void cleanup();
    void GlobalFollowsTheInvoker();
    void RepeatedRequestsCoalesceAtTheFirstDeadline();
    void CallNeverComesFromInvokeItself();
    void DifferentSlotsAndTargetsAreSeparate();
    void TargetThatAsksAgainGetsASecondCall();
    void TargetDestroyedBeforeTheTimerDropsTheRequest();

private:
    // Timers still waiting to fire or to be deleted.
    int LiveTimers() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return m_invoker->findChildren<QTimer*>().size();
    }

    DelayedInvoker* m_invoker = nullptr;
};

void DelayedInvokerTest::cleanup()
{
    delete m_invoker;
    m_invoker = nullptr;
}

void DelayedInvokerTest::GlobalFollowsTheInvoker()
{
    QCOMPARE(delayedInvoker, m_invoker);
    delete m_invoker;
    m_invoker = nullptr;
    QCOMPARE(delayedInvoker, nullptr);
}

void DelayedInvokerTest::RepeatedRequestsCoalesceAtTheFirstDeadline()
{
    SortTarget target;
    QElapsedTimer clock;
    target.clock = &clock;
    clock.start();
    delayedInvoker->Invoke(&target, "1Sort()", 1000);
    QTest::qWait(900);
    QCOMPARE(target.sorts, 0);
    delayedInvoker->Invoke(&target, "1Sort()", 1000);

    QTRY_COMPARE_WITH_TIMEOUT(target.sorts, 1, 3000);
    // The second request neither restarted the delay nor added a call. Qt's
    // default timers may fire up to 5% early.
    QVERIFY2(target.firstSortAt >= 940 && target.firstSortAt < 1500,
             qPrintable(QString::number(target.firstSortAt)));
    QCOMPARE(LiveTimers(), 0);
    QCOMPARE(target.sorts, 1);
}

void DelayedInvokerTest::CallNeverComesFromInvokeItself()
{
    SortTarget target;
    delayedInvoker->Invoke(&target, "1Sort()", 0);
    QCOMPARE(target.sorts, 0);
    QTRY_COMPARE(target.sorts, 1);
}

void DelayedInvokerTest::DifferentSlotsAndTargetsAreSeparate()
{
    SortTarget first;
    SortTarget second;
    delayedInvoker->Invoke(&first, "1Sort()", 20);
    delayedInvoker->Invoke(&first, "1Refresh()", 20);
    delayedInvoker->Invoke(&second, "1Sort()", 20);
    delayedInvoker->Invoke(&first, "1Sort()", 20);
    QCOMPARE(LiveTimers(), 3);

    QTRY_COMPARE(first.sorts + first.refreshes + second.sorts, 3);
    QCOMPARE(first.sorts, 1);
    QCOMPARE(first.refreshes, 1);
    QCOMPARE(second.sorts, 1);
    QCOMPARE(LiveTimers(), 0);
}

void DelayedInvokerTest::TargetThatAsksAgainGetsASecondCall()
{
    SortTarget target;
    target.resortsWanted = 1;
    delayedInvoker->Invoke(&target, "1Sort()", 50);
    QTRY_COMPARE(target.sorts, 2);
    QCOMPARE(LiveTimers(), 0);
    QCOMPARE(target.sorts, 2);
}

void DelayedInvokerTest::TargetDestroyedBeforeTheTimerDropsTheRequest()
{
    auto* doomed = new SortTarget;
    delayedInvoker->Invoke(doomed, "1Sort()", 30);
    delete doomed;
    QCOMPARE(LiveTimers(), 0);

    // A new object may reuse the address; its request must not be mistaken
    // for the dead one's and swallowed.
    SortTarget survivor;
    delayedInvoker->Invoke(&survivor, "1Sort()", 30);
    QTRY_COMPARE(survivor.sorts, 1);
}

QTEST_GUILESS_MAIN(DelayedInvokerTest)
#include "DelayedInvokerTest.moc"
