#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "ModalAnswerer.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddSharedFolderDialog.h"
#include "ui/DataDialog.h"
#include "ui/ListeningPortDialog.h"
#include "ui/MainWindow.h"
#include "ui/SharedFilesRescannedDialog.h"
#include "ui/SharedFoldersView.h"

using namespace SharingTypes;

// The window offline: the option controls and their dialogs, and the
// shared-folders page.
class MainWindowOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // A step a failed test left behind must not answer the next test's dialog.
    void cleanup() { m_answerer.script.clear(); }
    void RescanShowsCountsInOneDialog();
    void PortDialogRefusesKeepsOrStoresPending();
    void UserNameChangeTrimsAndNeedsBoth();
    void TrayOptionShowsHidesAndClosingHides();
    void DataMenuShowsOneViewer();
    void DownloadFolderFollowsTheSetting();
    void ShareFolderCreatesRootWithItsVisibility();
    void ListFollowsRootsAndUnshareRemovesThem();

private:
    // Alt and the page's place among the tabs, then a button of the set
    // the page's focus shows.
    void Press(const QString& page, const char* id);
    QCheckBox* Box(const char* name) const { return m_window->findChild<QCheckBox*>(name); }
    QString Folder(const QString& name);
    static ItemPtr Root(const QString& path)
    {
        return d.GetType(SharedFolder)->HasItem(path.toStdString());
    }
    QTreeWidgetItem* Row(const QString& path) const;
    // The access text of the folder's row, or a clear mark when it has none.
    QString Access(const QString& path) const;
    static void Tick(QDialog* dialog, const QString& text);
    static void ClickOk(QDialog* dialog);

    // No user name in a fresh home: the first-start login is refused and the
    // client stays offline.
    ModalAnswerer m_answerer;
    MainWindow* m_window = nullptr;
    SharedFoldersView* m_view = nullptr;
    QTemporaryDir m_folders;
};

void MainWindowOptionsTest::initTestCase()
{
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_view = m_window->findChild<SharedFoldersView*>();
    QVERIFY(m_view);
}

void MainWindowOptionsTest::cleanupTestCase()
{
    delete m_window;
}

void MainWindowOptionsTest::Press(const QString& page, const char* id)
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto* pages = qobject_cast<QTabWidget*>(m_window->centralWidget());
    const int index = pages->indexOf(m_window->Page(page));
    QVERIFY(index >= 0);
    QTest::keyClick(m_window, Qt::Key_1 + index, Qt::AltModifier);
    QTRY_VERIFY2(actionBar->findChild<QAction*>(id), id);
    actionBar->findChild<QAction*>(id)->trigger();
}

QString MainWindowOptionsTest::Folder(const QString& name)
{
    QDir(m_folders.path()).mkpath(name);
    return QDir(m_folders.path()).filePath(name);
}

QTreeWidgetItem* MainWindowOptionsTest::Row(const QString& path) const
{
    const auto rows = m_view->findItems(path, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows[0] : nullptr;
}

QString MainWindowOptionsTest::Access(const QString& path) const
{
    QTreeWidgetItem* row = Row(path);
    return row ? row->text(1) : "no row for " + path;
}

void MainWindowOptionsTest::Tick(QDialog* dialog, const QString& text)
{
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
        if (box->text() == text)
            box->setChecked(true);
}

void MainWindowOptionsTest::ClickOk(QDialog* dialog)
{
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

void MainWindowOptionsTest::RescanShowsCountsInOneDialog()
{
    // The start-up rescan of an empty share changed nothing: no dialog.
    sharedFoldersManager->WaitForRescan();
    QVERIFY(!m_window->findChild<SharedFilesRescannedDialog*>());

    emit sharedFoldersManager->RescanProgress(2, 5);
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QString("Scanning shares: 2 folders, 5 files"));
    emit sharedFoldersManager->SharedFilesRescanned(3, 1);
    emit sharedFoldersManager->ScanningFinished();
    QCOMPARE(m_window->statusBar()->currentMessage(), QString());
    auto* dialog = m_window->findChild<SharedFilesRescannedDialog*>();
    QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
    QStringList texts;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        texts << label->text();
    QCOMPARE(texts, QStringList({"3 files added.", "1 file removed."}));

    // A later rescan, even one that changed nothing, shows the same dialog.
    dialog->accept();
    emit sharedFoldersManager->SharedFilesRescanned(0, 0);
    QCOMPARE(m_window->findChildren<SharedFilesRescannedDialog*>().size(), 1);
    QVERIFY(dialog->isVisible());
    dialog->accept();
}

void MainWindowOptionsTest::PortDialogRefusesKeepsOrStoresPending()
{
    Settings::Set("listening_port", 2235);
    bool stayedOpen = true;
    auto enter = [&stayedOpen](const char* text) {
        return [text, &stayedOpen](QDialog* dialog) {
            QVERIFY(qobject_cast<ListeningPortDialog*>(dialog));
            stayedOpen = stayedOpen && dialog->isVisible();
            dialog->findChild<QLineEdit*>()->setText(text);
            // Later: the refusal box runs a loop of its own, and the answerer
            // does not fire again until this step has returned.
            QTimer::singleShot(0,
                               dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                               &QAbstractButton::click);
        };
    };
    m_answerer.script << enter("0") << enter("65536") << enter("12ab") << enter("2235");
    Press("Options", "set_listening_port");
    QVERIFY(m_answerer.script.isEmpty());
    QVERIFY(stayedOpen);
    const QString invalid = "Invalid Port Number: Port number must be in the range of 1 to 65535.";
    QCOMPARE(m_answerer.boxes,
             QStringList({invalid, invalid, invalid,
                          "Port Number Not Changed: Port number has not been changed."}));
    QCOMPARE(Settings::Get("new_listening_port"), std::string());

    m_answerer.boxes.clear();
    m_answerer.script << enter(" 4000 ");
    Press("Options", "set_listening_port");
    QCOMPARE(m_answerer.boxes,
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
    m_answerer.script << fill("  carol ", "   ", false) << fill(" carol ", " pw ", true);
    Press("Options", "set_user_pass");
    QVERIFY(m_answerer.script.isEmpty());
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

void MainWindowOptionsTest::DownloadFolderFollowsTheSetting()
{
    // Shown on the shared-folders page and among the options.
    const QString folder = QDir::homePath() + "/Quorvale Downloads";
    for (const char* name : {"download_folder", "options_download_folder"}) {
        auto* field = m_window->findChild<QLineEdit*>(name);
        QVERIFY(field);
        QCOMPARE(field->text(), folder);
        Settings::Set("download_folder", "/srv/incoming");
        QCOMPARE(field->text(), QString("/srv/incoming"));
        Settings::Set("download_folder", folder.toStdString());
    }
}

void MainWindowOptionsTest::ShareFolderCreatesRootWithItsVisibility()
{
    d.GetType(ServerTypes::UserListGroup)->GetItem("rock");
    d.GetType(ServerTypes::UserListGroup)->GetItem("jazz");
    const QString music = Folder("music");

    // Through the tool action, as the user does it: OK without a folder is
    // ignored, then a folder (typed with a trailing separator) is shared
    // with everybody and one group.
    bool stayedOpen = false;
    m_answerer.script << [&](QDialog* dialog) {
        QVERIFY(qobject_cast<AddSharedFolderDialog*>(dialog));
        ClickOk(dialog);
        stayedOpen = dialog->isVisible();
        dialog->findChild<QLineEdit*>()->setText(music + "/");
        Tick(dialog, "Folder accessible to everyone");
        Tick(dialog, "Folder accessible to all user list users");
        Tick(dialog, "jazz");
        ClickOk(dialog);
    };
    Press("Shared Folders", "share_folder");
    QTRY_VERIFY(m_answerer.script.isEmpty());
    QVERIFY(stayedOpen);
    QVERIFY(!m_window->findChild<AddSharedFolderDialog*>());

    ItemPtr root = Root(music);
    QVERIFY(root);
    QVERIFY(root.IsConnected(SharedPublic));
    QVERIFY(!root.IsConnected(SharedUserlist));         // everyone wins over the user list
    QCOMPARE(Access(music), QString("Everyone, jazz")); // and not rock

    // Without the everyone box the user-list box counts.
    const QString films = Folder("films");
    AddSharedFolderDialog dialog(m_window);
    dialog.findChild<QLineEdit*>()->setText(films);
    Tick(&dialog, "Folder accessible to all user list users");
    ClickOk(&dialog);
    QVERIFY(Root(films));
    QCOMPARE(Access(films), QString("User List"));
    sharedFoldersManager->WaitForRescan();
}

void MainWindowOptionsTest::ListFollowsRootsAndUnshareRemovesThem()
{
    const QString books = Folder("books");
    const QString music = Folder("music");
    const QString films = Folder("films");
    const int before = m_view->topLevelItemCount();

    // A root added straight into the store gets a row whose access text
    // follows its links: flags first, then groups in alphabetical order.
    ItemPtr root = d.GetType(SharedFolder)->GetItem(books.toStdString());
    QCOMPARE(m_view->topLevelItemCount(), before + 1);
    root.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem("rock"));
    root.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem("jazz"));
    root.NewItem(SharedUserlist);
    QCOMPARE(Access(books), QString("User List, jazz, rock"));
    root.Disconnect(d.GetType(ServerTypes::UserListGroup)->GetItem("rock"));
    QCOMPARE(Access(books), QString("User List, jazz"));
    sharedFoldersManager->WaitForRescan();

    // Unsharing removes exactly the selected roots and their rows.
    m_view->clearSelection();
    QVERIFY(Row(music) && Row(films));
    Row(music)->setSelected(true);
    Row(films)->setSelected(true);
    Press("Shared Folders", "unshare_folder");
    QVERIFY(!Root(music) && !Root(films));
    QVERIFY(!Row(music) && !Row(films));
    QVERIFY(Root(books) && Row(books));
}

QTEST_MAIN(MainWindowOptionsTest)
#include "MainWindowOptionsTest.moc"
