#include <QTimer>
#include <QtTest>

#include "app/TimerManager.h"

class TimerManagerTest : public QObject
{
    Q_OBJECT

private slots:
    void TimersRepeatAtTheirIntervals();
    void FirstTickComesOneIntervalAfterStart();
    void GlobalFollowsTheManager();
};

void TimerManagerTest::TimersRepeatAtTheirIntervals()
{
    TimerManager manager;
    const QList<std::pair<QTimer*, int>> timers = {{manager.everyHalfMinute(), 30000},
                                                   {manager.everyFiveMinutes(), 300000},
                                                   {manager.everyHour(), 3600000}};
    for (const auto& [timer, interval] : timers) {
        QVERIFY(timer);
        QCOMPARE(timer->interval(), interval);
        QVERIFY(!timer->isSingleShot());
        QVERIFY(timer->isActive());
        QCOMPARE(timer->parent(), nullptr);
    }
    QVERIFY(manager.everyHalfMinute() != manager.everyFiveMinutes());
    QVERIFY(manager.everyFiveMinutes() != manager.everyHour());
}

void TimerManagerTest::FirstTickComesOneIntervalAfterStart()
{
    TimerManager manager;
    QSignalSpy halfMinute(manager.everyHalfMinute(), &QTimer::timeout);
    QCoreApplication::processEvents();
    QCOMPARE(halfMinute.count(), 0);
    // Nearly the whole interval is still ahead: the clock started now.
    QVERIFY(manager.everyHalfMinute()->remainingTime() > 29000);
    QVERIFY(manager.everyFiveMinutes()->remainingTime() > 299000);
    QVERIFY(manager.everyHour()->remainingTime() > 3599000);
}

void TimerManagerTest::GlobalFollowsTheManager()
{
    QCOMPARE(timerManager, nullptr);
    {
        TimerManager manager;
        QCOMPARE(timerManager, &manager);
    }
    QCOMPARE(timerManager, nullptr);
}

QTEST_GUILESS_MAIN(TimerManagerTest)
#include "TimerManagerTest.moc"
