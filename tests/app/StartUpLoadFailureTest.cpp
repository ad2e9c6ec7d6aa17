#include <QFile>
#include <QTest>

#include "Bytes.h"
#include "StartUpTestHost.h"
#include "app/StartUp.h"
#include "base/Settings.h"
#include "store/Data.h"

// An unreadable snapshot is reported once and kept aside for the user.
class StartUpLoadFailureTest : public QObject
{
    Q_OBJECT

private slots:
    void UnreadableSnapshotIsReportedAndKept();
};

void StartUpLoadFailureTest::UnreadableSnapshotIsReportedAndKept()
{
    // A "global" section that promises two items but ends after one.
    const QByteArray truncated =
        ByteBuilder().Int32(1).String("global").Byte(0).Int32(2).Int32(1).String("username");
    const QString path = StartUp::SnapshotPath();
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(truncated);
    file.close();

    StartUpTestHost host;
    StartUp startUp(&host);
    startUp.Init();
    QCOMPARE(host.steps, QStringList({"PrepareLogging", "ManagersCreated", "SnapshotLoadFailed",
                                      "SnapshotLoaded"}));

    // The store was emptied, defaults included.
    QVERIFY(d.GetType("global")->GetItems().empty());
    QVERIFY(!Settings::IsYes("minimize_to_tray"));

    QFile kept(path + ".unreadable");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), truncated);

    // The next save replaces the bad snapshot; the kept copy stays.
    Settings::Set("username", "dave");
    startUp.Shutdown();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() != truncated);
    QVERIFY(QFile::exists(path + ".unreadable"));
}

QTEST_GUILESS_MAIN(StartUpLoadFailureTest)
#include "StartUpLoadFailureTest.moc"
