#include <QFile>
#include <QTest>

#include "ModalAnswerer.h"
#include "app/StartUp.h"
#include "base/Settings.h"
#include "ui/MainWindow.h"

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void StartsFromScratchAndAsksForLogin();
};

void MainWindowTest::StartsFromScratchAndAsksForLogin()
{
    QFile snapshot(StartUp::SnapshotPath());
    QVERIFY(snapshot.open(QIODevice::WriteOnly));
    snapshot.write(QByteArray("\x05\x00\x00\x00", 4)); // five types promised, none there
    snapshot.close();
    // Nothing listens on port 1: the first connection attempt fails at once.
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");

    ModalAnswerer answerer("tester", "secret");
    {
        MainWindow window;
        window.show();
        window.Init();

        // The unreadable snapshot is reported; the emptied store has no user
        // name, so the login is asked for.
        QCOMPARE(answerer.logins, 1);
        QCOMPARE(answerer.boxes,
                 QStringList("Error loading configuration data: Your client configuration "
                             "data could not be loaded. Starting from scratch..."));
        QCOMPARE(Settings::Get("username"), std::string("tester"));
        QCOMPARE(Settings::Get("password"), std::string("secret"));

        // The refused connection is shown with the reason.
        QTRY_COMPARE(answerer.boxes.size(), 2);
        QCOMPARE(answerer.boxes[1],
                 QString("Login Failure: Login failed. Reported failure reason: socket "
                         "error. Please change your login settings in the Options tab "
                         "and try reconnecting."));
        answerer.stop();
    }
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
