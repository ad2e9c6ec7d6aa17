#include <QFile>
#include <QTest>

#include "Bytes.h"
#include "StartUpTestHost.h"
#include "app/Settings.h"
#include "app/StartUp.h"

// Start-up reads the snapshot after every type is declared and after the
// defaults are stored, so saved values replace the defaults.
class StartUpLoadTest : public QObject
{
    Q_OBJECT

private slots:
    void LoadedSettingsReplaceDefaults();
};

void StartUpLoadTest::LoadedSettingsReplaceDefaults()
{
    // Two types, "global" with items 1 username and 2 minimize_to_tray and
    // "global_value" with 3 carol and 4 no; then two connections, 1-3 and 2-4.
    ByteBuilder snapshot;
    snapshot.Int32(2);
    snapshot.String("global").Byte(0).Int32(2).Int32(1).String("username");
    snapshot.Int32(2).String("minimize_to_tray");
    snapshot.String("global_value").Byte(0).Int32(2).Int32(3).String("carol");
    snapshot.Int32(4).String("no");
    snapshot.Int32(2).Int32(1).Int32(3).Int32(2).Int32(4);
    QFile file(StartUp::SnapshotPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(snapshot.Data());
    file.close();

    StartUpTestHost host;
    StartUp startUp(&host);
    startUp.Init();
    QCOMPARE(host.steps, QStringList({"PrepareLogging", "ManagersCreated", "SnapshotLoaded"}));
    QCOMPARE(Settings::Get("username"), std::string("carol"));
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("no"));
    QVERIFY(!Settings::IsYes("minimize_to_tray"));
    QVERIFY(Settings::IsYes("expand_new_shares"));
    QVERIFY(!QFile::exists(StartUp::SnapshotPath() + ".unreadable"));
}

QTEST_GUILESS_MAIN(StartUpLoadTest)
#include "StartUpLoadTest.moc"
