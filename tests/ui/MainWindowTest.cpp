#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "app/Log.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "ui/DiagnosticsForm.h"

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void ShowsLoadFailureThenLogsIntoCategoryTabs();
};

void MainWindowTest::ShowsLoadFailureThenLogsIntoCategoryTabs()
{
    QFile snapshot(StartUp::SnapshotPath());
    QVERIFY(snapshot.open(QIODevice::WriteOnly));
    snapshot.write(QByteArray("\x05\x00\x00\x00", 4)); // five types promised, none there
    snapshot.close();

    // The information box is modal: answer it from the event loop and
    // remember what it said.
    QString title, text;
    int boxes = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            title = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(10);

    {
        MainWindow window;
        window.show();
        window.Init();
        closer.stop();
        QCOMPARE(boxes, 1);
        QCOMPARE(title, QString("Error loading configuration data"));
        QCOMPARE(text, QString("Your client configuration data could not be loaded. "
                               "Starting from scratch..."));

        auto* tabs = window.findChild<DiagnosticsForm*>();
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 0);
        Log("server", 1, "Connecting <to> the server");
        Log("server", 2, "detail");
        Log("Shared", 1, "Scanning");
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QString("server"));
        QCOMPARE(tabs->tabText(1), QString("Shared"));
        const QStringList lines = tabs->ViewFor("server")->toPlainText().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith("["));
        QVERIFY(lines[0].endsWith("] Connecting <to> the server"));
        QVERIFY(lines[1].endsWith("]    detail"));
        QVERIFY(tabs->ViewFor("Shared")->toPlainText().endsWith("] Scanning"));
        QVERIFY(!tabs->ViewFor("Search"));
    }

    // Closing the window saved a fresh, readable snapshot over the bad one.
    QVERIFY(QFile::exists(StartUp::SnapshotPath() + ".unreadable"));
    QFile saved(StartUp::SnapshotPath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.size() > 8);
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
