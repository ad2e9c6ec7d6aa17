#include <QFile>
#include <QTest>

#include "StartUpTestHost.h"
#include "app/DelayedInvoker.h"
#include "app/Settings.h"
#include "app/StartUp.h"
#include "app/TimerManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"

// One whole run of the shared start-up and shutdown sequence without a
// window, as the headless node will run it.
class StartUpCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void RunsStartUpThenSavesAndDeletesAtShutdown();
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
    ItemPtr keyItem = global->HasItem(key);
    return keyItem["global_value"].AsString();
}

} // namespace

void StartUpCycleTest::RunsStartUpThenSavesAndDeletesAtShutdown()
{
    StartUpTestHost host;
    const QString snapshot = StartUp::SnapshotPath();
    QVERIFY(snapshot.startsWith(qEnvironmentVariable("HOME")));
    QVERIFY(snapshot.endsWith("/.Quorvale"));
    QVERIFY(!QFile::exists(snapshot));

    StartUp startUp(&host);
    startUp.Init();
    QCOMPARE(host.steps, QStringList({"PrepareLogging", "ManagersCreated", "SnapshotLoaded"}));
    QVERIFY(timerManager && dataSaver && delayedInvoker);
    QVERIFY(!g_showIsOver);
    QVERIFY(Settings::IsYes("minimize_to_tray"));
    QVERIFY(Settings::IsYes("expand_new_shares"));
    QVERIFY(d.HasType("wish_list_item") && d.HasType("wish_list_item_enabled"));

    // The five-minute tick collects garbage and saves: an unreachable value
    // goes, the settings stay and reach the file.
    Settings::Set("username", "alice");
    Item* stray = d.GetType("global_value")->NewItem(Value("unreferenced"));
    Q_UNUSED(stray);
    startUp.EveryFiveMinutes();
    QVERIFY(d.GetType("global_value")->HasItem("unreferenced").IsNull());
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("alice"));

    // Shutdown saves what changed since the last tick and lets go of every
    // manager.
    Settings::Set("username", "bob");
    startUp.Shutdown();
    QVERIFY(g_showIsOver);
    QVERIFY(!timerManager && !dataSaver && !delayedInvoker);
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("bob"));
    QVERIFY(!QFile::exists(snapshot + ".1"));

    startUp.Shutdown(); // a second call must do nothing
    QCOMPARE(LoadedSetting(snapshot, "username"), std::string("bob"));
}

QTEST_GUILESS_MAIN(StartUpCycleTest)
#include "StartUpCycleTest.moc"
