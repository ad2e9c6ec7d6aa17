#include <functional>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "base/Settings.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"
#include "ui/DataDialog.h"
#include "ui/ListeningPortDialog.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"

// The window offline: its pages, the tool bar, the option controls and
// their dialogs.
class MainWindowOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void PortDialogRefusesKeepsOrStoresPending();
    void UserNameChangeTrimsAndNeedsBoth();
    void TrayOptionShowsHidesAndClosingHides();
    void DataMenuShowsOneViewer();
    void DownloadFolderFollowsTheSetting();

private:
    QTabWidget* Pages() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    void Press(const QString& page, const char* id);
    // Alt and the page's place among the tabs, found by the page's title.
    void AltToPage(const QString& title);
    QCheckBox* Box(const char* name) const { return m_window->findChild<QCheckBox*>(name); }

    MainWindow* m_window = nullptr;
    QTimer m_answerer;
    QStringList m_boxes;
    // What to do with the next dialog that is not a message box.
    QList<std::function<void(QDialog*)>> m_script;
};

void MainWindowOptionsTest::initTestCase()
{
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");
    connect(&m_answerer, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_boxes << box->windowTitle() + ": " + box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && !m_script.isEmpty()) {
            m_script.takeFirst()(dialog);
        }
    });
    m_answerer.start(10);
    // No user name: the first-start dialog is left, and the client stays
    // offline.
    m_script << [](QDialog* login) { login->reject(); };
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    QVERIFY(m_script.isEmpty());
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void MainWindowOptionsTest::DownloadFolderFollowsTheSetting()
{
    // Shown on the shared-folders page and among the options.
    for (const char* name : {"download_folder", "options_download_folder"}) {
        auto* field = m_window->findChild<QLineEdit*>(name);
        QVERIFY(field);
        QCOMPARE(field->text(), QDir::homePath() + "/Quorvale Downloads");
        Settings::Set("download_folder", "/srv/incoming");
        QCOMPARE(field->text(), QString("/srv/incoming"));
        Settings::Set("download_folder", (QDir::homePath() + "/Quorvale Downloads").toStdString());
    }
}

void MainWindowOptionsTest::cleanupTestCase()
{
    delete m_window;
}

void MainWindowOptionsTest::AltToPage(const QString& title)
{
    const int index = Pages()->indexOf(m_window->Page(title));
    QVERIFY(index >= 0);
    QTest::keyClick(m_window, Qt::Key_1 + index, Qt::AltModifier);
}

void MainWindowOptionsTest::Press(const QString& page, const char* id)
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    AltToPage(page);
    QTRY_VERIFY2(actionBar->findChild<QAction*>(id), id);
    actionBar->findChild<QAction*>(id)->trigger();
}

void MainWindowOptionsTest::PortDialogRefusesKeepsOrStoresPending()
{
    Settings::Set("listening_port", 2235);
    Settings::Set("new_listening_port", "");
    bool stayedOpen = true;
    auto enter = [&stayedOpen](const char* text) {
        return [text, &stayedOpen](QDialog* dialog) {
            QVERIFY(qobject_cast<ListeningPortDialog*>(dialog));
            stayedOpen = stayedOpen && dialog->isVisible();
            dialog->findChild<QLineEdit*>()->setText(text);
            // Later: the refusal box runs a loop of its own, and this timer
            // does not fire again until its handler has returned.
            QTimer::singleShot(0,
                               dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                               &QAbstractButton::click);
        };
    };
    m_boxes.clear();
    m_script << enter("0") << enter("65536") << enter("12ab") << enter("2235");
    Press("Options", "set_listening_port");
    QVERIFY(m_script.isEmpty());
    QVERIFY(stayedOpen);
    const QString invalid = "Invalid Port Number: Port number must be in the range of 1 to 65535.";
    QCOMPARE(m_boxes, QStringList({invalid, invalid, invalid,
                                   "Port Number Not Changed: Port number has not been changed."}));
    QCOMPARE(Settings::Get("new_listening_port"), std::string());

    m_boxes.clear();
    m_script << enter(" 4000 ");
    Press("Options", "set_listening_port");
    QCOMPARE(m_boxes,
             QStringList({"Change to Listening Port Pending: Changes to the listening port "
                          "will take effect after a client restart."}));
    QCOMPARE(Settings::Get("new_listening_port"), std::string("4000"));
    QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
}

void MainWindowOptionsTest::UserNameChangeTrimsAndNeedsBoth()
{
    bool stayedOpen = false;
    auto fill = [&stayedOpen](const char* name, const char* password, bool check) {
        return [=, &stayedOpen](QDialog* dialog) {
            QVERIFY(qobject_cast<LoginDialog*>(dialog));
            if (check)
                stayedOpen = dialog->isVisible();
            const auto fields = dialog->findChildren<QLineEdit*>();
            fields[0]->setText(name);
            fields[1]->setText(password);
            dialog->accept();
        };
    };
    m_script << fill("  carol ", "   ", false) << fill(" carol ", " pw ", true);
    Press("Options", "set_user_pass");
    QVERIFY(m_script.isEmpty());
    QVERIFY(stayedOpen);
    QCOMPARE(Settings::Get("username"), std::string("carol"));
    QCOMPARE(Settings::Get("password"), std::string("pw"));
}

void MainWindowOptionsTest::TrayOptionShowsHidesAndClosingHides()
{
    QSystemTrayIcon* tray = m_window->TrayIcon();
    QCheckBox* toTray = Box("minimize_to_tray");
    QVERIFY(toTray && toTray->isChecked()); // the default
    toTray->click();
    QVERIFY(!tray->isVisible());
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("no"));
    toTray->click();
    QVERIFY(tray->isVisible());

    // With the tray on, closing hides; a click on the tray icon brings the
    // window back. (The offscreen desktop has no tray; stand in for one.)
    m_window->SetSystemTrayAvailable(true);
    m_window->close();
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->IsQuitting());
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!m_window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(m_window->isVisible());

    // The other check boxes write their settings as they change.
    QVERIFY(Box("use_upnp") && Box("expand_new_shares"));
    Box("use_upnp")->click();
    QCOMPARE(Settings::Get("use_upnp"), std::string(Box("use_upnp")->isChecked() ? "yes" : "no"));
    Box("expand_new_shares")->click();
    QCOMPARE(Settings::Get("expand_new_shares"), std::string("no"));
}

void MainWindowOptionsTest::DataMenuShowsOneViewer()
{
    QAction* data = m_window->findChild<QAction*>("show_data");
    QVERIFY(data);
    data->trigger();
    auto* viewer = m_window->findChild<DataDialog*>();
    QVERIFY(viewer && viewer->isVisible() && !viewer->isModal());
    viewer->close();
    data->trigger();
    QCOMPARE(m_window->findChildren<DataDialog*>().size(), 1);
    QVERIFY(viewer->isVisible());
    viewer->close();
}

QTEST_MAIN(MainWindowOptionsTest)
#include "MainWindowOptionsTest.moc"
