#include <QFile>
#include <QTest>

#include "Bytes.h"
#include "StartUpTestHost.h"
#include "app/StartUp.h"
#include "base/DelayedInvoker.h"
#include "base/Settings.h"
#include "base/TimerManager.h"
#include "search/WishListSearcher.h"
#include "store/Data.h"
#include "store/DataSaver.h"

// One run of start-up and shutdown without a window, as the node runs it.
class StartUpCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void LoadsOverDefaultsThenSavesAndDeletesAtShutdown();
};

namespace {

// Reads a snapshot back into a separate store declared like the program's.
std::string LoadedSetting(const QString& path, const char* key)
{
    Data data;
    Type* global = data.NewType("global", true, false, true);
    Type* value = data.NewType("global_value", false, false, true);
    global->RelateToType(value, MANY, ONE, false);
    DataSaver saver(data);
    saver.Load(QFile::encodeName(path).constData());
    return ItemPtr(global->HasItem(key))["global_value"].AsString();
}

// username=carol and minimize_to_tray=no, as an earlier run saved them.
QByteArray EarlierSnapshot()
{
    ByteBuilder snapshot;
    snapshot.Int32(2).String("global").Byte(0).Int32(2).Int32(1).String("username");
    snapshot.Int32(2).String("minimize_to_tray");
    snapshot.String("global_value").Byte(0).Int32(2).Int32(3).String("carol");
    snapshot.Int32(4).String("no");
    return snapshot.Int32(2).Int32(1).Int32(3).Int32(2).Int32(4);
}

} // namespace

void StartUpCycleTest::LoadsOverDefaultsThenSavesAndDeletesAtShutdown()
{
    const QString snapshot = StartUp::SnapshotPath();
    QCOMPARE(snapshot, qEnvironmentVariable("HOME") + "/.Quorvale");
    QFile file(snapshot);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(EarlierSnapshot());
    file.close();

    StartUpTestHost host;
    StartUp startUp(&host);
    startUp.Init();
    QCOMPARE(host.steps, QStringList({"PrepareLogging", "ManagersCreated", "SnapshotLoaded"}));
    QVERIFY(timerManager && dataSaver && delayedInvoker && wishListSearcher);
    QVERIFY(!g_showIsOver);
    QVERIFY(d.HasType("wish_list_item") && d.HasType("wish_list_item_enabled"));
    // The snapshot is read after the defaults are stored, so saved values win.
    QCOMPARE(Settings::Get("username"), std::string("carol"));
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("no"));
    QVERIFY(Settings::IsYes("expand_new_shares"));
    QVERIFY(!QFile::exists(snapshot + ".unreadable"));

    // The five-minute tick collects garbage and saves.
    Settings::Set("username", "alice");
    d.GetType("global_value")->NewItem(Value("unreferenced"));
    startUp.EveryFiveMinutes();
    QVERIFY(d.GetType("global_value")->HasItem("unreferenced").IsNull());
    dataSaver->WaitForSave(); // the file is written on a thread of its own
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("alice"));

    // A tick with nothing changed since writes nothing; the next change does.
    QVERIFY(QFile::remove(snapshot));
    startUp.EveryFiveMinutes();
    dataSaver->WaitForSave();
    QVERIFY(!QFile::exists(snapshot));
    Settings::Set("username", "dave");
    startUp.EveryFiveMinutes();
    dataSaver->WaitForSave();
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("dave"));

    // Shutdown saves what changed since the tick and lets go of every manager.
    Settings::Set("username", "bob");
    startUp.Shutdown();
    QVERIFY(g_showIsOver);
    QVERIFY(!timerManager && !dataSaver && !delayedInvoker && !wishListSearcher);
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("bob"));
    QVERIFY(!QFile::exists(snapshot + ".1"));
    Settings::Set("username", "erin");
    startUp.Shutdown(); // a second call must do nothing
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("bob"));
}

QTEST_GUILESS_MAIN(StartUpCycleTest)
#include "StartUpCycleTest.moc"
