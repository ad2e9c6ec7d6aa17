#include <csignal>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "app/QuitOnSignal.h"
#include "app/StartUp.h"
#include "base/Settings.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"

// SIGTERM while the first-start login dialog is open, before the main loop
// has run: the dialog closes and the window's destructor saves. One run per
// process: the quit ends every event loop for good.
class QuitDuringDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void SignalInStartUpDialogQuitsAndSaves();
};

void QuitDuringDialogTest::SignalInStartUpDialogQuitsAndSaves()
{
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");
    QuitOnSignal quitOnSignal;
    LoginDialog* seen = nullptr;
    QTimer signaller;
    connect(&signaller, &QTimer::timeout, [&] {
        auto* login = qobject_cast<LoginDialog*>(QApplication::activeModalWidget());
        if (!login || seen)
            return;
        seen = login;
        // Typed but not confirmed: it must not be stored.
        login->findChildren<QLineEdit*>()[0]->setText("erin");
        ::raise(SIGTERM);
    });
    signaller.start(10);

    {
        MainWindow window;
        connect(&quitOnSignal, &QuitOnSignal::QuitRequested, &window, &MainWindow::Quit);
        window.show();
        window.Init(); // returns only because the signal closed the dialog
        QVERIFY(seen);
        QVERIFY(QuitOnSignal::IsQuitRequested());
        QVERIFY(window.IsQuitting());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(Settings::Get("username"), std::string());
        // An event loop started now ends at once, as main's would.
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
        QCOMPARE(loop.exec(), -1);
        Settings::Set("upload_slots", 7);
    }

    // The destructor ran the shutdown: the snapshot holds what the store had.
    QFile saved(StartUp::SnapshotPath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QVERIFY(bytes.contains("upload_slots"));
    QVERIFY(!bytes.contains("erin"));
}

QTEST_MAIN(QuitDuringDialogTest)
#include "QuitDuringDialogTest.moc"
