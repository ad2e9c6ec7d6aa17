#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "ui/AddSharedFolderDialog.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/SharedFilesRescannedDialog.h"
#include "ui/SharedFoldersView.h"

using namespace SharingTypes;

class SharedFoldersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void RescanShowsCountsInOneDialog();
    void ShareFolderCreatesRootWithItsVisibility();
    void ListFollowsRootsAndUnshareRemovesThem();

private:
    QString Folder(const QString& name);
    ItemPtr Root(const QString& path)
    {
        return d.GetType(SharedFolder)->HasItem(path.toStdString());
    }
    QTreeWidgetItem* Row(const QString& path);
    // The access text of the folder's row; a clear mark when it has none.
    QString Access(const QString& path);
    // Presses a button of the action tool bar, which shows the folder
    // commands while the folder list has the focus.
    void Trigger(const char* action);
    static void Tick(QDialog* dialog, const QString& text);
    static void ClickOk(QDialog* dialog);

    MainWindow* m_window = nullptr;
    SharedFoldersView* m_view = nullptr;
    QTemporaryDir m_folders;
};

void SharedFoldersTest::initTestCase()
{
    QVERIFY(m_folders.isValid());
    // No user name in a fresh home: the start-up asks for one; leaving it
    // empty keeps the client offline.
    QTimer closer;
    connect(&closer, &QTimer::timeout, [] {
        if (auto* login = qobject_cast<LoginDialog*>(QApplication::activeModalWidget()))
            login->reject();
    });
    closer.start(10);
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    closer.stop();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_view = m_window->findChild<SharedFoldersView*>();
    QVERIFY(m_view);
}

void SharedFoldersTest::cleanupTestCase()
{
    delete m_window;
}

QString SharedFoldersTest::Folder(const QString& name)
{
    QDir(m_folders.path()).mkpath(name);
    return QDir(m_folders.path()).filePath(name);
}

void SharedFoldersTest::Trigger(const char* action)
{
    auto* pages = qobject_cast<QTabWidget*>(m_window->centralWidget());
    QVERIFY(pages);
    pages->setCurrentWidget(m_view->parentWidget());
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_view->setFocus();
    QTRY_VERIFY(m_view->hasFocus());
    QAction* button = m_window->findChild<QAction*>(action);
    QVERIFY2(button, action);
    button->trigger();
}

QTreeWidgetItem* SharedFoldersTest::Row(const QString& path)
{
    const auto rows = m_view->findItems(path, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows[0] : nullptr;
}

QString SharedFoldersTest::Access(const QString& path)
{
    QTreeWidgetItem* row = Row(path);
    return row ? row->text(1) : "no row for " + path;
}

void SharedFoldersTest::Tick(QDialog* dialog, const QString& text)
{
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
        if (box->text() == text)
            box->setChecked(true);
}

void SharedFoldersTest::ClickOk(QDialog* dialog)
{
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

void SharedFoldersTest::RescanShowsCountsInOneDialog()
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

void SharedFoldersTest::ShareFolderCreatesRootWithItsVisibility()
{
    d.GetType(ServerTypes::UserListGroup)->GetItem("rock");
    d.GetType(ServerTypes::UserListGroup)->GetItem("jazz");
    const QString music = Folder("music");

    // Through the tool action, as the user does it: OK without a folder is
    // ignored, then a folder (typed with a trailing separator) is shared
    // with everybody and one group.
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = m_window->findChild<AddSharedFolderDialog*>();
        QVERIFY(dialog);
        ClickOk(dialog);
        stayedOpen = dialog->isVisible();
        dialog->findChild<QLineEdit*>()->setText(music + "/");
        Tick(dialog, "Folder accessible to everyone");
        Tick(dialog, "Folder accessible to all user list users");
        Tick(dialog, "jazz");
        ClickOk(dialog);
    });
    Trigger("share_folder");
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

void SharedFoldersTest::ListFollowsRootsAndUnshareRemovesThem()
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
    Trigger("unshare_folder");
    QVERIFY(!Root(music) && !Root(films));
    QVERIFY(!Row(music) && !Row(films));
    QVERIFY(Root(books) && Row(books));
}

QTEST_MAIN(SharedFoldersTest)
#include "SharedFoldersTest.moc"
