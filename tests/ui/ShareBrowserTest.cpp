#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "OnlineWindow.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/MainWindow.h"
#include "ui/ShareForm.h"
#include "ui/ShareViewTypes.h"
#include "ui/SharesForm.h"
#include "ui/UserMenuOptions.h"

namespace {
constexpr int Slow = 60000;

std::size_t CountOf(const char* type)
{
    return d.GetType(type)->ItemCount();
}
} // namespace

// Browsing a headless node's real share from the window, over the lab server.
class ShareBrowserTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void BrowsingOpensATabWithTheFolderTree();
    void FilterJudgesFoldersByNameAndFiles();
    void ExpandLevelOpensOneLevelAtATime();
    void DownloadsKeepTheirSaveLevels();
    void NewListingTakesTheTabAndClosingForgetsIt();

private:
    ShareForm* Form() const { return m_window->Shares()->FormOfUser("bob"); }
    // A folder of bob's share as his listing names it.
    std::string Wire(const QString& below) const
    {
        return QString(m_root + below).replace('/', '\\').toStdString();
    }
    QTreeWidgetItem* Row(const QString& below) { return Form()->FolderRow(Wire(below)); }
    // Presses a tool-bar button of the set `focus` shows, as the user would.
    void Press(QWidget* focus, const QString& text);

    LabServerProcess m_server;
    NodeProcess m_bob;
    QTemporaryDir m_files;
    QString m_root;
    MainWindow* m_window = nullptr;
    QTimer m_closer;
};

void ShareBrowserTest::Press(QWidget* focus, const QString& text)
{
    focus->setFocus();
    QTRY_VERIFY(actionBar->CurrentWidget() == focus || actionBar->CurrentWidget() == Form());
    for (QAction* action : actionBar->actions())
        if (action->text().startsWith(text)) {
            action->trigger();
            return;
        }
    QFAIL(qPrintable("no button " + text));
}

void ShareBrowserTest::initTestCase()
{
    m_root = m_files.path() + "/bob/music";
    QVERIFY(WriteTestFile(m_root + "/readme.txt", QByteArray(10, 'q')));
    QVERIFY(WriteTestFile(m_root + "/Album/notes.txt", QByteArray(5, 'q')));
    QVERIFY(QFile::copy(QUORVALE_TEST_DATA "/mp3/cbr128_joint.mp3", m_root + "/Album/01.mp3"));
    QVERIFY(WriteTestFile(m_root + "/Album/CD1/a.bin", QByteArray(1000, 'q')));
    QVERIFY(WriteTestFile(m_root + "/Album/CD1/Bonus/b.bin", QByteArray(1000, 'q')));
    QVERIFY(WriteTestFile(m_root + "/Other/x.txt", QByteArray(20, 'q')));

    QVERIFY(m_server.Start({}));
    QVERIFY(m_bob.Start(m_server.Port()));
    QVERIFY(!m_bob.WaitForPrefix("rescanned\t").isEmpty());
    m_bob.Send("ports 0 0");
    QVERIFY(!m_bob.WaitForPrefix("listening\t").isEmpty());
    m_bob.Send("login bob secret");
    QVERIFY(m_bob.WaitFor("connected"));
    m_bob.Send("share " + m_root + " public");
    QVERIFY(!m_bob.WaitForPrefix("mp3-scanned\t", Slow).isEmpty());
    m_window = OpenOnlineWindow(m_closer, m_server.Port());
    QVERIFY(m_window);
    Settings::Set("download_folder", (m_files.path() + "/alice-downloads").toStdString());
    Settings::Set("expand_new_shares", "no");
}

void ShareBrowserTest::cleanupTestCase()
{
    delete m_window;
    QVERIFY(m_bob.Quit());
    QVERIFY(m_server.Stop());
}

void ShareBrowserTest::BrowsingOpensATabWithTheFolderTree()
{
    auto* pages = qobject_cast<QTabWidget*>(m_window->centralWidget());
    QVERIFY(pages);
    QMenu menu;
    new UserMenuOptions(&menu, "bob", &menu);
    auto browseBob = [&menu] {
        for (QAction* action : menu.actions())
            if (action->text() == "Browse user's files")
                action->trigger();
    };
    browseBob();
    QTRY_VERIFY_WITH_TIMEOUT(Form(), Slow);
    QCOMPARE(m_window->Shares()->Tabs()->count(), 1);
    const int browse = pages->currentIndex();
    // Asking again with the tab open only brings it forward.
    pages->setCurrentIndex(0);
    ShareForm* open = Form();
    browseBob();
    QCOMPARE(pages->currentIndex(), browse);
    QCOMPARE(Form(), open);

    // The share's root is the one top folder, and it is chosen at once.
    QTreeWidget* folders = Form()->Folders();
    QCOMPARE(folders->topLevelItemCount(), 1);
    QCOMPARE(Form()->Files()->topLevelItem(0)->text(0), QString("readme.txt"));

    // Names sort; sizes sort as numbers, also for a folder chosen afterwards.
    folders->setCurrentItem(Row("/Album"));
    QTreeWidget* files = Form()->Files();
    QCOMPARE(files->topLevelItemCount(), 2);
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("01.mp3"));
    files->header()->setSortIndicator(ShareForm::SizeColumn, Qt::AscendingOrder);
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("notes.txt"));
    folders->setCurrentItem(Row(""));
    folders->setCurrentItem(Row("/Album"));
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("notes.txt"));
    files->header()->setSortIndicator(ShareForm::FileColumn, Qt::AscendingOrder);
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("01.mp3"));
}

void ShareBrowserTest::FilterJudgesFoldersByNameAndFiles()
{
    QVERIFY(Form());
    QLineEdit* filter = Form()->FilterField();
    Form()->Folders()->setCurrentItem(Row("/Album/CD1"));
    QCOMPARE(Form()->Files()->topLevelItemCount(), 1);
    auto shown = [this](const QString& below) {
        QTreeWidgetItem* row = Row(below);
        return row && !row->isHidden();
    };

    // An excluded word in a folder name drops it with everything below;
    // the folder that was showing its files shows none.
    QTest::keyClicks(filter, "-cd1");
    QVERIFY(!shown("/Album/CD1") && shown("/Album") && shown(""));
    QCOMPARE(Form()->Files()->topLevelItemCount(), 0);
    // A folder stays for a file that matches or a folder below that stays.
    filter->clear();
    QTest::keyClicks(filter, "b.bin");
    QVERIFY(shown("") && shown("/Album") && shown("/Album/CD1") && shown("/Album/CD1/Bonus"));
    QVERIFY(!shown("/Other"));
    // Words the folder's name holds need not appear in its files.
    filter->setText("other x");
    QVERIFY(shown("/Other") && !shown("/Album"));
    // The file list keeps to the files that match.
    Form()->Folders()->setCurrentItem(Row(""));
    QTreeWidget* files = Form()->Files();
    QCOMPARE(files->topLevelItemCount(), 0);
    filter->clear();
    QVERIFY(shown("/Album/CD1/Bonus") && shown("/Other"));
    QCOMPARE(files->topLevelItemCount(), 1);
}

void ShareBrowserTest::ExpandLevelOpensOneLevelAtATime()
{
    QVERIFY(Form());
    QTreeWidget* folders = Form()->Folders();
    Press(folders, "Collapse All");
    auto opened = [this] {
        QStringList rows;
        for (const char* below : {"", "/Album", "/Album/CD1"})
            rows << (!Row(below) ? "?" : Row(below)->isExpanded() ? "+" : "-");
        return rows.join("");
    };
    QCOMPARE(opened(), QString("---"));
    for (const char* step : {"+--", "++-", "+++", "+++"}) {
        Press(folders, "Expand Level");
        QCOMPARE(opened(), QString(step));
    }
    Press(folders, "Collapse All");
    QCOMPARE(opened(), QString("---"));
    Press(folders, "Expand Level");
    QCOMPARE(opened(), QString("+--"));
    // The button names the level the next press opens.
    bool named = false;
    for (QAction* action : actionBar->actions())
        named = named || action->text() == "Expand Level [2]";
    QVERIFY(named);
    // The commands are there while the filter has the focus, too.
    Press(Form()->FilterField(), "Expand All");
    QCOMPARE(opened(), QString("+++"));
}

void ShareBrowserTest::DownloadsKeepTheirSaveLevels()
{
    using namespace TransferTypes;
    QVERIFY(Form());
    // The whole album: its own files at level 0, everything deeper at 1.
    Form()->Folders()->setCurrentItem(Row("/Album"));
    Press(Form()->Folders(), "Download Folder");
    // One file of another folder, from the file list.
    Form()->Folders()->setCurrentItem(Row("/Other"));
    Form()->Files()->setCurrentItem(Form()->Files()->topLevelItem(0));
    Press(Form()->Files(), "Download Files");
    QCOMPARE(m_window->statusBar()->currentMessage(), QString("Queued 1 file(s) from bob"));

    QStringList queued;
    for (Item* item : d.GetType(DownloadEntry)->GetItems()) {
        ItemPtr entry(item);
        const QString folder =
            QString::fromStdString(entry[RemoteFolder].AsString()).mid(Wire("").size());
        queued << QString("%1 %2 %3")
                      .arg(folder, entry[FileName].AsCStr(), entry[SubfolderSaveLevel].AsCStr());
    }
    queued.sort();
    QCOMPARE(queued, QStringList({"\\Album 01.mp3 0", "\\Album notes.txt 0", "\\Album\\CD1 a.bin 1",
                                  "\\Album\\CD1\\Bonus b.bin 1", "\\Other x.txt 0"}));
}

void ShareBrowserTest::NewListingTakesTheTabAndClosingForgetsIt()
{
    using namespace ShareViewTypes;
    QVERIFY(WriteTestFile(m_root + "/New/n.txt", QByteArray(3, 'q')));
    m_bob.Send("rescan");
    QVERIFY(!m_bob.WaitForPrefix("rescanned\t", Slow).isEmpty());
    QTabWidget* tabs = m_window->Shares()->Tabs();
    // The old form is deleted before the new one is made, which may then
    // take its address: only a guarded pointer tells them apart.
    QPointer<ShareForm> first = Form();
    QVERIFY(first);
    Settings::Set("expand_new_shares", "yes");
    Press(first->Folders(), "Refresh Listing");
    QTRY_VERIFY_WITH_TIMEOUT(!first && Form(), Slow);

    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->widget(0), Form());
    QVERIFY(Row("/New") && Row("/Album/CD1"));
    QVERIFY(Row("/Album/CD1")->isExpanded());
    QCOMPARE(CountOf(UserShareTab), std::size_t(1));

    QTest::mouseClick(tabs->tabBar()->tabButton(0, QTabBar::RightSide), Qt::LeftButton);
    QCOMPARE(tabs->count(), 0);
    QVERIFY(!ItemPtr(d.GetType(ServerTypes::User)->GetItem("bob"))[SharingTypes::UserShare]);
    for (const char* type : {UserShareTab, UserShareFolderNode, UserShareFileNode,
                             SharingTypes::UserShareFolder, SharingTypes::UserShareFile})
        QCOMPARE(CountOf(type), std::size_t(0));
}

QTEST_MAIN(ShareBrowserTest)
#include "ShareBrowserTest.moc"
