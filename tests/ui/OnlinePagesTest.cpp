#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "ModalAnswerer.h"
#include "NodeProcess.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "search/SearchTypes.h"
#include "search/WishListSearcher.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddUserDialog.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/CompleteDownloadsForm.h"
#include "ui/DesktopOpener.h"
#include "ui/DownloadMenuOptions.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBarDelegate.h"
#include "ui/RoomForm.h"
#include "ui/SearchForm.h"
#include "ui/SearchResultListItem.h"
#include "ui/SearchResultsTab.h"
#include "ui/ShareForm.h"
#include "ui/ShareViewTypes.h"
#include "ui/SharesForm.h"
#include "ui/TransferDisplay.h"
#include "ui/TransferTree.h"
#include "ui/TransfersForm.h"
#include "ui/UserMenuOptions.h"
#include "ui/WishListView.h"

using namespace TransferTypes;
using namespace SearchTypes;
using Row = SearchResultListItem;

namespace {
constexpr int Slow = 60000;

std::size_t CountOf(const char* type)
{
    return d.GetType(type)->ItemCount();
}

// -1 for a row without a bar.
int Percent(QTreeWidgetItem* row)
{
    const QVariant percent =
        row->data(TransferTree::ProgressColumn, ProgressBarDelegate::PercentRole);
    return percent.isValid() ? percent.toInt() : -1;
}

QAction* MenuEntry(const QList<QAction*>& actions, const QString& text)
{
    for (QAction* action : actions)
        if (action->text().startsWith(text))
            return action;
    return nullptr;
}

QList<QTreeWidgetItem*> Children(QTreeWidgetItem* row)
{
    QList<QTreeWidgetItem*> rows;
    for (int n = 0; n < row->childCount(); ++n)
        rows << row->child(n);
    return rows;
}

QList<QTreeWidgetItem*> TopRows(QTreeWidget* tree)
{
    return Children(tree->invisibleRootItem());
}

QStringList Texts(const QList<QTreeWidgetItem*>& rows, int column = 0)
{
    QStringList texts;
    for (QTreeWidgetItem* row : rows)
        texts << row->text(column);
    return texts;
}
} // namespace

// The rooms page comes last, as it restarts the server.
class OnlinePagesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void TextsOfProgressAndTimeLeft();
    void DownloadRunsCompletesAndIsListed();
    void CollapsedRowsSummariseTheirEntries();
    void MenuOffersWhatTheSelectionAllows();
    void UploadsAreServedAndCleared();
    void BrowsingOpensATabWithTheFolderTree();
    void FilterAndExpandLevelWorkOnTheFolderTree();
    void DownloadsKeepTheirSaveLevels();
    void NewListingTakesTheTabAndClosingForgetsIt();
    void SearchResultsAreShownAndQueued();
    void OrdersByAvailabilityOrSpeedAndFilters();
    void ClosedTabDropsLateResults();
    void WishListOpensTabsOnResults();
    void PrivateMessagesFromOneUserShareATab();
    void AddsUsersTheServerKnows();
    void EntersARoomAndReentersAfterRestart();
    void RefusesUserChangeOnlineAndReportsWrongPassword();

private:
    TransfersForm* Form() const { return m_window->Transfers(); }
    TransferTree* Downloads() const { return Form()->Downloads(); }
    ItemPtr Download(const QString& file, qint64 size);
    void SetStatus(ItemPtr entry, const char* status);
    ShareForm* Listing() const { return m_window->Shares()->FormOfUser("bob"); }
    std::string Wire(const QString& below) const { return ToWire(m_music + below).toStdString(); }
    QTreeWidgetItem* FolderRow(const QString& below) { return Listing()->FolderRow(Wire(below)); }
    void Press(QWidget* focus, const char* id);
    void PressListingButton(QWidget* focus, const QString& text);
    SearchForm* SearchPage() const { return m_window->Search(); }
    SearchResultsTab* Search(const QString& text);
    void PressResultsButton(SearchResultsTab* tab, const char* id);
    ItemPtr Answer(unsigned int token, const std::string& user, bool free, int queue, int speed,
                   const std::vector<std::pair<std::string, std::string>>& files);
    QAction* MenuAction(const char* name) const { return m_window->findChild<QAction*>(name); }

    LabServerProcess m_server;
    NodeProcess m_bob, m_other;
    QTemporaryDir m_files;
    const QString m_music = m_files.path() + "/bob/music";
    ModalAnswerer m_answerer{"alice", "secret"};
    MainWindow* m_window = nullptr;
    QList<QUrl> m_opened;
};

void OnlinePagesTest::initTestCase()
{
    DesktopOpener::SetOpenerForTesting([this](const QUrl& url) { m_opened << url; });
    QVERIFY(m_server.Start({"--privileged", "alice"}));
    QVERIFY(m_bob.StartAndLogIn(m_server.Port(), "bob", m_files.path() + "/bob-downloads"));
    m_bob.Send("join lobby");
    QVERIFY(WriteFileAt(m_music + "/first.bin", QByteArray(400000, 'q')));
    QVERIFY(WriteFileAt(m_music + "/Album/notes.txt", QByteArray(5, 'q')));
    QVERIFY(WriteFileAt(m_music + "/Album/01.mp3", QByteArray(300, 'q')));
    QVERIFY(WriteFileAt(m_music + "/Other/x.txt", QByteArray(20, 'q')));
    for (const char* file : {"second.bin", "Album/CD1/a.bin", "Album/CD1/Bonus/b.bin"})
        QVERIFY(WriteFileAt(m_music + "/" + file, QByteArray(1000, 'q')));
    for (const char* file :
         {"Album/Track 01.mp3", "Album/Track 02.mp3", "Album/cover.jpg", "Live/track live.mp3"})
        QVERIFY(WriteFileAt(m_music + "/Songs/" + file, QByteArray(100, 'q')));
    QVERIFY(WriteFileAt(m_files.path() + "/other/tunes/track other.mp3", QByteArray(100, 'q')));
    QVERIFY(m_other.StartAndLogIn(m_server.Port(), "other"));
    m_other.Send("share " + m_files.path() + "/other/tunes public");
    m_other.Send("rescan");
    QVERIFY(!m_other.WaitForPrefix("rescanned\t", Slow).isEmpty());
    // Slow enough for a download to be seen running.
    m_bob.Send("upload-limit 100 on");
    m_bob.Send("share " + m_music + " public");
    m_bob.Send("rescan");
    QVERIFY(!m_bob.WaitForPrefix("rescanned\t", Slow).isEmpty());
    qputenv("QUORVALE_SERVER", "127.0.0.1:" + QByteArray::number(m_server.Port()));
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    // Ports of our own, so that tests running side by side do not collide.
    Settings::Set("listening_port", 0);
    Settings::Set("obfuscated_listening_port", 0);
    QTRY_VERIFY(gp_server->IsConnected());
    QVERIFY(peerMessenger->Listen());
    gp_server->SetWaitPort(static_cast<unsigned>(Settings::GetInt("listening_port", 0)),
                           static_cast<unsigned>(Settings::GetInt("obfuscated_listening_port", 0)));
    // The first page keeps the focus through the login dialog.
    auto* rooms = m_window->findChild<QTreeWidget*>("room_list");
    QVERIFY(rooms);
    QTRY_VERIFY(rooms->hasFocus());
    QVERIFY(MenuAction("connect") && MenuAction("disconnect"));
    Settings::Set("download_folder", (m_files.path() + "/alice-downloads").toStdString());
    Settings::Set("expand_new_shares", "no");
}

void OnlinePagesTest::cleanupTestCase()
{
    delete m_window;
    QVERIFY(m_bob.Quit());
    QVERIFY(m_other.Quit());
    QVERIFY(m_server.Stop());
}

void OnlinePagesTest::Press(QWidget* focus, const char* id)
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());
    QAction* button = actionBar->findChild<QAction*>(id);
    QVERIFY2(button, id);
    button->trigger();
}

ItemPtr OnlinePagesTest::Download(const QString& file, qint64 size)
{
    return transferQueueManager->AddDownload("bob", file.toStdString(), Wire(""), size, 0);
}

void OnlinePagesTest::SetStatus(ItemPtr entry, const char* status)
{
    transferQueueManager->SetDownloadEntryStatus(entry, status);
}

void OnlinePagesTest::TextsOfProgressAndTimeLeft()
{
    QCOMPARE(TransferDisplay::TimeLeftText(3600, 1), QString("   1h:0m:0s"));
    QCOMPARE(TransferDisplay::TimeLeftText(3599, 1), QString("   59m:59s"));
    QCOMPARE(TransferDisplay::TimeLeftText(5000, 0), QString("   0s"));
    QCOMPARE(TransferDisplay::SpeedText(1536), QString("1.5"));
}

void OnlinePagesTest::DownloadRunsCompletesAndIsListed()
{
    QTreeWidget* tree = Downloads()->Tree();
    QTreeWidget* completed = Form()->CompleteDownloads()->List();
    ItemPtr first = Download("first.bin", 400000);
    QTreeWidgetItem* row = Downloads()->EntryRow(first);
    QVERIFY(row);
    QTRY_COMPARE(row->parent()->parent()->text(TransferTree::UserColumn), QString("bob"));
    QTRY_COMPARE_WITH_TIMEOUT(row->text(TransferTree::StatusColumn), QString("downloading"), Slow);
    QTRY_VERIFY_WITH_TIMEOUT(Percent(row) > 0 && Percent(row) < 100, Slow);
    const int midway = Percent(row);
    QVERIFY(row->text(TransferTree::TimeLeftColumn).startsWith("   "));
    QTRY_VERIFY_WITH_TIMEOUT(Percent(row) > midway, Slow);
    QTRY_COMPARE_WITH_TIMEOUT(row->text(TransferTree::StatusColumn), QString("complete"), Slow);
    QCOMPARE(Percent(row), 100);
    QCOMPARE(row->text(TransferTree::TimeLeftColumn), QString());
    QTRY_COMPARE(completed->topLevelItemCount(), 1);

    // Double-clicking opens the folder the file went to, not the file.
    m_opened.clear();
    Form()->OnDownloadListItemDoubleClicked(row);
    QCOMPARE(m_opened.value(0).toLocalFile(),
             transferQueueManager->GetDownloadTargetFolder(first, true).replace('\\', '/'));

    // The completed list keeps what the box clears, newest first.
    QTest::mouseClick(Form()->ClearDownloadsBox(), Qt::LeftButton);
    QCOMPARE(tree->topLevelItemCount(), 0);
    // The completion times have one-second resolution: the next one is later.
    Clock::SetOffsetForTesting(2000);
    ItemPtr second = Download("second.bin", 1000);
    QVERIFY(Downloads()->EntryRow(second));
    QTRY_COMPARE_WITH_TIMEOUT(completed->topLevelItemCount(), 2, Slow);
    Clock::SetOffsetForTesting(0);
    QCOMPARE(completed->topLevelItem(0)->text(CompleteDownloadsForm::FileColumn),
             QString("second.bin"));
    QTRY_COMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(d.GetType(DownloadEntry)->GetItems().empty());
    QTest::mouseClick(Form()->ClearDownloadsBox(), Qt::LeftButton);
}

void OnlinePagesTest::CollapsedRowsSummariseTheirEntries()
{
    // A user who is never online: the entries stay where they are put.
    auto add = [](const char* file) {
        return transferQueueManager->AddDownload("nobody", file, "far\\away", 2048, 0);
    };
    ItemPtr a = add("a.bin");
    ItemPtr b = add("b.bin");
    QVERIFY(Downloads()->EntryRow(a));
    QTreeWidgetItem* user = Downloads()->EntryRow(a)->parent()->parent();
    QCOMPARE(user->text(TransferTree::UserColumn), QString("nobody [offline]"));

    Form()->OnActionBarTriggered("expand_download_users");
    Form()->OnActionBarTriggered("expand_download_folders");
    QTreeWidgetItem* folder = Downloads()->EntryRow(a)->parent();
    const struct
    {
        const char* first;
        const char* second;
        const char* shown;
    } cases[] = {
        {"downloading", "queued", "downloading"}, {"downloading", "complete", "downloading"},
        {"aborted", "queued", "queued"},          {"queued", "queued", "queued"},
        {"complete", "complete", "complete"},     {"complete", "denied", "denied"},
        {"denied", "aborted", "denied"},          {"complete", "aborted", "aborted"},
        {"aborted", "aborted", "aborted"},        {"complete", "local error", ""},
    };
    for (const auto& c : cases) {
        SetStatus(a, c.first);
        SetStatus(b, c.second);
        const QString context = QString("%1 + %2").arg(c.first, c.second);
        for (QTreeWidgetItem* row : {user, folder}) {
            QVERIFY2(row->text(TransferTree::StatusColumn) == c.shown, qPrintable(context));
            const QColor colour =
                row->data(TransferTree::StatusColumn, Qt::ForegroundRole).value<QColor>();
            QVERIFY2(colour == TransferDisplay::StatusColour(c.shown), qPrintable(context));
        }
    }
    Form()->OnActionBarTriggered("expand_download_folders");

    // Complete sizes count whole, what cannot finish not at all.
    SetStatus(b, "queued");
    Form()->RefreshProgress();
    Downloads()->NoteProgress(a);
    Form()->RefreshProgress();
    QCOMPARE(Percent(user), 50);
    QCOMPARE(user->text(TransferTree::ProgressColumn), QString("2,048 (50.0%)"));

    user->setExpanded(true);
    QCOMPARE(user->text(TransferTree::StatusColumn), QString());
    QCOMPARE(Percent(user), -1);
    user->setExpanded(false);
    QCOMPARE(user->text(TransferTree::StatusColumn), QString("queued"));
    Form()->OnActionBarTriggered("expand_download_users");
    QVERIFY(user->isExpanded());

    // A removed entry takes its emptied folder and user rows along.
    transferQueueManager->RemoveDownload(a);
    QVERIFY(!Downloads()->EntryRow(a));
    QCOMPARE(user->childCount(), 1);
    transferQueueManager->RemoveDownload(b);
    QVERIFY(Downloads()->Tree()->findItems("nobody [offline]", Qt::MatchExactly).isEmpty());
}

void OnlinePagesTest::MenuOffersWhatTheSelectionAllows()
{
    ItemPtr queued = transferQueueManager->AddDownload("nobody", "q.bin", "far", 10, 0);
    ItemPtr done = transferQueueManager->AddDownload("nobody", "c.bin", "far", 10, 0);
    SetStatus(done, "complete");

    QMenu one;
    new DownloadMenuOptions(&one, ItemSet{queued}, &one);
    QVERIFY(!MenuEntry(one.actions(), "Open File") && !MenuEntry(one.actions(), "Re-run Search"));
    QMenu complete;
    new DownloadMenuOptions(&complete, ItemSet{done}, &complete);
    QAction* open = MenuEntry(complete.actions(), "Open File");
    QVERIFY(open);
    m_opened.clear();
    open->trigger();
    QCOMPARE(m_opened.value(0).toLocalFile(),
             transferQueueManager->GetDownloadTargetPath(done, true).replace('\\', '/'));

    const ItemSet both{queued, done};
    ItemPtr(both.first()).Connect(d.GetType(SearchTypes::SearchRequestText)->GetItem("tide"));
    QMenu two;
    new DownloadMenuOptions(&two, both, &two);
    QAction* rerun = MenuEntry(two.actions(), "Re-run Search: tide");
    QAction* remove = MenuEntry(two.actions(), "Remove downloads");
    QVERIFY(rerun && remove);
    QSignalSpy searched(gp_server, &Server::SearchRequested);
    rerun->trigger();
    QCOMPARE(searched.size(), 1);
    QCOMPARE(searched[0][1].value<std::string>(), std::string("tide"));
    QVERIFY(!searched[0][2].toBool()); // the user's own, not the wish list's
    remove->trigger();
    QVERIFY(!Downloads()->EntryRow(queued) && !Downloads()->EntryRow(done));
}

void OnlinePagesTest::UploadsAreServedAndCleared()
{
    const QString share = m_files.path() + "/alice/Night Owls/Harbour Lights";
    QVERIFY(WriteFileAt(share + "/long.bin", QByteArray(200000, 'q')));
    sharedFoldersManager->ShareFolder(share.toStdString(), true, false, {});
    sharedFoldersManager->WaitForRescan();
    // Slow enough for the upload to be seen running.
    transferQueueManager->SetUploadSpeedLimit(20);
    transferQueueManager->EnableUploadSpeedLimit(true);
    TransferTree* uploads = Form()->Uploads();

    m_bob.Send("download alice\t" + ToWire(share) + "\tlong.bin\t200000");
    QTRY_COMPARE_WITH_TIMEOUT(uploads->Entries().size(), std::size_t(1), Slow);
    QTreeWidgetItem* bob = uploads->EntryRow(uploads->Entries().front());
    QVERIFY(bob);
    QTRY_COMPARE_WITH_TIMEOUT(bob->text(TransferTree::StatusColumn), QString("uploading"), Slow);
    QCOMPARE(Form()->UploadSlotsBox()->value(), 1);
    Form()->UploadSlotsBox()->setFocus();
    QTest::keyClick(Form()->UploadSlotsBox(), Qt::Key_Up);
    QCOMPARE(Settings::GetInt("upload_slots", 1), 2);
    transferQueueManager->EnableUploadSpeedLimit(false);
    QTRY_COMPARE_WITH_TIMEOUT(bob->text(TransferTree::StatusColumn), QString("complete"), Slow);

    // Finished uploads go once the box is ticked and five minutes passed.
    Clock::SetOffsetForTesting(TransfersForm::UploadKeepMs);
    Form()->EveryHalfMinute();
    QCOMPARE(uploads->Entries().size(), std::size_t(1));
    Clock::SetOffsetForTesting(0);
    QTest::mouseClick(Form()->ClearUploadsBox(), Qt::LeftButton);
    Form()->EveryHalfMinute();
    QCOMPARE(uploads->Entries().size(), std::size_t(1));
    Clock::SetOffsetForTesting(TransfersForm::UploadKeepMs);
    Form()->EveryHalfMinute();
    Clock::SetOffsetForTesting(0);
    QCOMPARE(uploads->Tree()->topLevelItemCount(), 0);
    QVERIFY(d.GetType(UploadEntry)->GetItems().empty());
}

void OnlinePagesTest::PressListingButton(QWidget* focus, const QString& text)
{
    focus->setFocus();
    QTRY_VERIFY(actionBar->CurrentWidget() == focus || actionBar->CurrentWidget() == Listing());
    QAction* button = MenuEntry(actionBar->actions(), text);
    QVERIFY2(button, qPrintable(text));
    button->trigger();
}

void OnlinePagesTest::BrowsingOpensATabWithTheFolderTree()
{
    QMenu menu;
    new UserMenuOptions(&menu, "bob", &menu);
    QAction* browseBob = MenuEntry(menu.actions(), "Browse user's files");
    QVERIFY(browseBob);
    browseBob->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Listing(), Slow);

    QTreeWidget* folders = Listing()->Folders();
    QCOMPARE(folders->topLevelItemCount(), 1);
    QCOMPARE(Listing()->Files()->topLevelItem(0)->text(0), QString("first.bin"));

    // Names sort; sizes sort as numbers, also for a folder chosen afterwards.
    folders->setCurrentItem(FolderRow("/Album"));
    QTreeWidget* files = Listing()->Files();
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("01.mp3"));
    files->header()->setSortIndicator(ShareForm::SizeColumn, Qt::AscendingOrder);
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("notes.txt"));
    folders->setCurrentItem(FolderRow(""));
    folders->setCurrentItem(FolderRow("/Album"));
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("notes.txt"));
    files->header()->setSortIndicator(ShareForm::FileColumn, Qt::AscendingOrder);
    QCOMPARE(files->topLevelItem(0)->text(ShareForm::FileColumn), QString("01.mp3"));
}

void OnlinePagesTest::FilterAndExpandLevelWorkOnTheFolderTree()
{
    QVERIFY(Listing());
    QLineEdit* filter = Listing()->FilterField();
    Listing()->Folders()->setCurrentItem(FolderRow("/Album/CD1"));
    QCOMPARE(Listing()->Files()->topLevelItemCount(), 1);
    auto shown = [this](const QString& below) {
        QTreeWidgetItem* row = FolderRow(below);
        return row && !row->isHidden();
    };

    // An excluded word in a folder name drops it with everything below.
    QTest::keyClicks(filter, "-cd1");
    QVERIFY(!shown("/Album/CD1") && shown("/Album") && shown(""));
    QCOMPARE(Listing()->Files()->topLevelItemCount(), 0);
    filter->clear();
    QTest::keyClicks(filter, "b.bin");
    QVERIFY(shown("") && shown("/Album") && shown("/Album/CD1") && shown("/Album/CD1/Bonus"));
    QVERIFY(!shown("/Other"));
    // Words the folder's name holds need not appear in its files.
    filter->setText("other x");
    QVERIFY(shown("/Other") && !shown("/Album"));
    Listing()->Folders()->setCurrentItem(FolderRow(""));
    QTreeWidget* files = Listing()->Files();
    QCOMPARE(files->topLevelItemCount(), 0);
    filter->clear();
    QVERIFY(shown("/Album/CD1/Bonus") && shown("/Other"));
    QCOMPARE(files->topLevelItemCount(), 2);

    QTreeWidget* folders = Listing()->Folders();
    PressListingButton(folders, "Collapse All");
    auto opened = [this] {
        QStringList rows;
        for (const char* below : {"", "/Album", "/Album/CD1"})
            rows << (!FolderRow(below) ? "?" : FolderRow(below)->isExpanded() ? "+" : "-");
        return rows.join("");
    };
    QCOMPARE(opened(), QString("---"));
    for (const char* step : {"+--", "++-", "+++", "+++"}) {
        PressListingButton(folders, "Expand Level");
        QCOMPARE(opened(), QString(step));
    }
    PressListingButton(folders, "Collapse All");
    QCOMPARE(opened(), QString("---"));
    PressListingButton(folders, "Expand Level");
    QCOMPARE(opened(), QString("+--"));
    QVERIFY(MenuEntry(actionBar->actions(), "Expand Level [2]"));
    // The commands are there while the filter has the focus, too.
    PressListingButton(Listing()->FilterField(), "Expand All");
    QCOMPARE(opened(), QString("+++"));
}

void OnlinePagesTest::DownloadsKeepTheirSaveLevels()
{
    QVERIFY(Listing());
    // The whole album: its own files at level 0, everything deeper at 1.
    Listing()->Folders()->setCurrentItem(FolderRow("/Album"));
    PressListingButton(Listing()->Folders(), "Download Folder");
    Listing()->Folders()->setCurrentItem(FolderRow("/Other"));
    Listing()->Files()->setCurrentItem(Listing()->Files()->topLevelItem(0));
    PressListingButton(Listing()->Files(), "Download Files");
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

void OnlinePagesTest::NewListingTakesTheTabAndClosingForgetsIt()
{
    using namespace ShareViewTypes;
    QVERIFY(WriteFileAt(m_music + "/New/n.txt", QByteArray(3, 'q')));
    m_bob.Send("rescan");
    QVERIFY(!m_bob.WaitForPrefix("rescanned\t", Slow).isEmpty());
    QTabWidget* tabs = m_window->Shares()->Tabs();
    // The old form is deleted before the new one is made, which may then
    // take its address: only a guarded pointer tells them apart.
    QPointer<ShareForm> first = Listing();
    QVERIFY(first);
    Settings::Set("expand_new_shares", "yes");
    PressListingButton(first->Folders(), "Refresh Listing");
    QTRY_VERIFY_WITH_TIMEOUT(!first && Listing(), Slow);

    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->widget(0), Listing());
    QVERIFY(FolderRow("/New") && FolderRow("/Album/CD1"));
    QVERIFY(FolderRow("/Album/CD1")->isExpanded());
    QCOMPARE(CountOf(UserShareTab), std::size_t(1));

    QTest::mouseClick(tabs->tabBar()->tabButton(0, QTabBar::RightSide), Qt::LeftButton);
    QCOMPARE(tabs->count(), 0);
    QVERIFY(!ItemPtr(d.GetType(ServerTypes::User)->GetItem("bob"))[SharingTypes::UserShare]);
    for (const char* type : {UserShareTab, UserShareFolderNode, UserShareFileNode,
                             SharingTypes::UserShareFolder, SharingTypes::UserShareFile})
        QCOMPARE(CountOf(type), std::size_t(0));
}

SearchResultsTab* OnlinePagesTest::Search(const QString& text)
{
    QTest::keyClicks(SearchPage()->SearchField(), text);
    QTest::keyClick(SearchPage()->SearchField(), Qt::Key_Return);
    return SearchPage()->CurrentResultsTab();
}

void OnlinePagesTest::PressResultsButton(SearchResultsTab* tab, const char* id)
{
    SearchPage()->Tabs()->setCurrentWidget(tab);
    Press(tab->Tree(), id);
}

ItemPtr OnlinePagesTest::Answer(unsigned int token, const std::string& user, bool free, int queue,
                                int speed,
                                const std::vector<std::pair<std::string, std::string>>& files)
{
    ItemPtr set = d.GetType(SearchResults)->NewItem();
    for (const auto& [folder, name] : files) {
        ItemPtr result = d.GetType(SearchResult)->NewItem();
        result.Connect(d.GetType(SearchResultFileName)->GetItem(name));
        result.Connect(d.GetType(SearchResultFileFolder)->GetItem(folder));
        result.Connect(d.GetType(SearchResultFileSize)->GetItem(1000));
        set.Connect(result);
    }
    set.Connect(d.GetType(SearchRequest)->HasItem(token));
    set.Connect(d.GetType(ServerTypes::User)->GetItem(user));
    set.Connect(d.GetType(SearchResultsUserAvailable)->GetItem(free ? "yes" : "no"));
    set.Connect(d.GetType(SearchResultsUserSpeed)->GetItem(speed));
    set.Connect(d.GetType(SearchResultsUploadsInQueue)->GetItem(queue));
    return set;
}

void OnlinePagesTest::SearchResultsAreShownAndQueued()
{
    m_window->ShowPage("Search");
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    SearchResultsTab* tab = Search("track");
    QVERIFY(tab);
    QTRY_COMPARE_WITH_TIMEOUT(tab->ResultCount(), 4, Slow);
    QTreeWidget* tree = tab->Tree();
    QTRY_COMPARE(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* bob = tree->findItems("bob", Qt::MatchExactly).value(0);
    QVERIFY(bob && bob->isExpanded());

    const std::string album = Wire("/Songs/Album");
    const std::string live = Wire("/Songs/Live");
    auto queued = [](const std::string& folder, const char* name) {
        ItemPtr entry = transferQueueManager->GetDownloadEntry("bob", name, folder);
        return entry && entry[TransferTypes::SubfolderSaveLevel].AsInt() == 0 &&
               entry[TransferTypes::FileSize].AsInt64() > 0 &&
               entry[SearchRequestText].AsString() == "track";
    };
    QTreeWidgetItem* liveRow = nullptr;
    QTreeWidgetItem* albumRow = nullptr;
    for (QTreeWidgetItem* folder : Children(bob))
        (folder->toolTip(Row::FolderColumn).endsWith("Live") ? liveRow : albumRow) = folder;
    QVERIFY(liveRow && albumRow);

    // A file row alone: the file action queues it, the folder action nothing.
    tab->Tree()->clearSelection();
    liveRow->child(0)->setSelected(true);
    PressResultsButton(tab, "download_search_results_folder");
    QVERIFY(!queued(live, "track live.mp3"));
    PressResultsButton(tab, "download_search_results_file");
    QTRY_VERIFY(queued(live, "track live.mp3"));
    QVERIFY(!queued(album, "Track 01.mp3"));

    // A folder row queues every result in it, each in its own folder.
    tab->Tree()->clearSelection();
    albumRow->setSelected(true);
    PressResultsButton(tab, "download_search_results_folder");
    QVERIFY(queued(album, "Track 01.mp3") && queued(album, "Track 02.mp3"));

    // A double click on the other user's row takes all of that user's results.
    QTreeWidgetItem* other = tab->Tree()->findItems("other", Qt::MatchExactly).value(0);
    QVERIFY(other);
    emit tab->Tree()->itemDoubleClicked(other, 0);
    const std::string tunes =
        QString(m_files.filePath("other/tunes")).replace('/', '\\').toStdString();
    QVERIFY(transferQueueManager->GetDownloadEntry("other", "track other.mp3", tunes));
}

void OnlinePagesTest::OrdersByAvailabilityOrSpeedAndFilters()
{
    const unsigned int token = gp_server->FileSearch("zzqx ordering", false);
    SearchResultsTab* tab = SearchPage()->TabOf(token);
    QVERIFY(tab);
    const std::string album = "music\\Album";
    SearchPage()->OnUserSearchResults(Answer(token, "slowfree", true, 0, 100, {{album, "b.mp3"}}));
    SearchPage()->OnUserSearchResults(Answer(token, "queued0", false, 0, 5000, {{album, "c.mp3"}}));
    SearchPage()->OnUserSearchResults(Answer(token, "queued3", false, 3, 9000, {{album, "d.mp3"}}));
    SearchPage()->OnUserSearchResults(Answer(token, "fastfree", true, 7, 1536,
                                             {{album, "Track 01.flac"},
                                              {album, "cover.jpg"},
                                              {"music\\Live", "track live.mp3"},
                                              {"music\\misc", "track live.mp3"},
                                              {"music\\misc", "track.mp3"}}));
    tab->AddAllPending();
    tab->Sort();
    QTreeWidget* tree = tab->Tree();
    QCOMPARE(Texts(TopRows(tree)), QStringList({"fastfree", "slowfree", "queued0", "queued3"}));
    // Inside a user, folders and files by name.
    QTreeWidgetItem* fast = TopRows(tree)[0];
    QCOMPARE(Texts(Children(Children(fast)[0]), Row::FileColumn),
             QStringList({"cover.jpg", "Track 01.flac"}));

    // Path words need not occur in file names; an excluded one hides all.
    auto shownFiles = [&] {
        QStringList files;
        for (QTreeWidgetItem* user : TopRows(tree))
            for (QTreeWidgetItem* folder : Children(user))
                for (QTreeWidgetItem* file : Children(folder))
                    files << user->text(0) + ":" + file->text(Row::FileColumn);
        files.sort();
        return files;
    };
    // What the user closed stays closed as the filter changes.
    QTreeWidgetItem* slowAlbum = Children(TopRows(tree)[3])[0];
    for (QTreeWidgetItem* row : {fast, slowAlbum}) {
        tree->setCurrentItem(row);
        QTest::keyClick(tree, Qt::Key_Left);
    }
    QVERIFY(!fast->isExpanded() && !slowAlbum->isExpanded());
    QTest::keyClicks(tab->FilterField(), "  album   track ");
    QCOMPARE(shownFiles(), QStringList({"fastfree:Track 01.flac"}));
    tab->FilterField()->setText("mp3 -live");
    QCOMPARE(shownFiles(), QStringList({"fastfree:track.mp3", "queued0:c.mp3", "queued3:d.mp3",
                                        "slowfree:b.mp3"}));
    // A row arriving under a filter is hidden at once when it does not match.
    SearchPage()->OnUserSearchResults(Answer(token, "late", true, 0, 1, {{"live", "x.mp3"}}));
    tab->AddAllPending();
    QVERIFY(tree->findItems("late", Qt::MatchExactly).isEmpty());
    // ...and a dropped user comes back when a later answer matches.
    SearchPage()->OnUserSearchResults(Answer(token, "late", true, 0, 1, {{"studio", "y.mp3"}}));
    tab->AddAllPending();
    QVERIFY(shownFiles().contains("late:y.mp3"));
    QCOMPARE(tab->StatusLine()->text(), QString("10 results from 5 users, 5 shown"));
    tab->FilterField()->setText("-");
    QCOMPARE(shownFiles().size(), 10);
    QVERIFY(!fast->isExpanded() && !slowAlbum->isExpanded());
    QVERIFY(slowAlbum->parent()->isExpanded() && Children(fast)[0]->isExpanded());
    QTreeWidgetItem* late = tree->findItems("late", Qt::MatchExactly).value(0);
    QVERIFY(late);
    QVERIFY(late->isExpanded() && late->child(0)->isExpanded());
}

void OnlinePagesTest::ClosedTabDropsLateResults()
{
    // Answers still on their way find no search.
    const int tabsBefore = SearchPage()->Tabs()->count();
    SearchResultsTab* open = Search("cover");
    QTRY_COMPARE_WITH_TIMEOUT(open->ResultCount(), 1, Slow);
    const std::string value = open->WidgetItem()[SearchRequest].AsString();
    emit SearchPage()->Tabs()->tabCloseRequested(SearchPage()->Tabs()->indexOf(open));
    QCOMPARE(SearchPage()->Tabs()->count(), tabsBefore);
    QVERIFY(!d.GetType(SearchRequest)->HasItem(value));
    for (Item* set : d.GetType(SearchResults)->GetItems())
        QVERIFY(ItemPtr(set)[SearchRequest].AsString() != value);
}

void OnlinePagesTest::WishListOpensTabsOnResults()
{
    // A long period keeps the timer out of the way; the test sends by hand.
    wishListSearcher->OnWishListWait(3600000);
    WishListView* wishes = SearchPage()->WishList();
    auto* add = wishes->findChild<QPushButton*>("add_to_wish_list");
    QVERIFY(add);
    for (const char* text : {"cover", "zebra", "cover"}) {
        wishes->Field()->setText(text);
        add->click();
    }
    QCheckBox* zebra = wishes->CheckBoxOf("zebra");
    QVERIFY(zebra && zebra->isChecked());
    zebra->click();

    // Only "cover" is on, so both ticks send it.
    QSignalSpy tokens(gp_server, &Server::SearchRequested);
    const int tabsBefore = SearchPage()->Tabs()->count();
    wishListSearcher->OnSearchTimerTimeout();
    wishListSearcher->OnSearchTimerTimeout();
    QVERIFY(tokens.size() == 2 && tokens[0][2].toBool() && tokens[1][2].toBool());
    QCOMPARE(SearchPage()->Tabs()->count(), tabsBefore); // no tab until results come
    QTRY_COMPARE_WITH_TIMEOUT(SearchPage()->Tabs()->count(), tabsBefore + 1, Slow);
    auto* tab = qobject_cast<SearchResultsTab*>(SearchPage()->Tabs()->widget(tabsBefore));
    QVERIFY(tab && tab->IsWishList());
    QTRY_COMPARE(tab->ResultCount(), 1);
    // A new answer to the repetition lands in the same tab.
    SearchPage()->OnUserSearchResults(
        Answer(tokens[1][0].toUInt(), "other", false, 1, 1, {{"art", "cover.png"}}));
    tab->AddAllPending();
    QCOMPARE(SearchPage()->Tabs()->count(), tabsBefore + 1);
    QCOMPARE(tab->ResultCount(), 2);
    QCOMPARE(tab->WidgetItem().GetItems(SearchRequest).size(), std::size_t(2));

    SearchPage()->Tabs()->setCurrentWidget(wishes);
    Press(wishes->List(), "enable_all_wish_list_items");
    QVERIFY(zebra->isChecked());
    QTreeWidgetItem* zebraRow = wishes->List()->findItems("zebra", Qt::MatchExactly, 1).value(0);
    QVERIFY(zebraRow);
    wishes->List()->setCurrentItem(zebraRow);
    Press(wishes->List(), "remove_wish_list_item");
    QVERIFY(!WishListSearcher::FindEntry("zebra"));
    QCOMPARE(wishes->List()->topLevelItemCount(), 1);
}

void OnlinePagesTest::PrivateMessagesFromOneUserShareATab()
{
    auto* chats = m_window->findChild<QTabWidget*>("chat_tabs");
    QVERIFY(chats);
    const int before = chats->count();
    m_bob.Send("pm alice hello there");
    QTRY_COMPARE(chats->count(), before + 1);
    auto* form = qobject_cast<ChatFormClass*>(chats->widget(before));
    QVERIFY(form);
    QTRY_VERIFY(form->View()->toPlainText().contains("[bob] hello there"));

    m_bob.Send("pm alice second <b>line</b>");
    QTRY_VERIFY(form->View()->toPlainText().contains("[bob] second <b>line</b>"));
    QCOMPARE(chats->count(), before + 1);
    QTest::keyClicks(form->Entry(), "hi back");
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QVERIFY(m_bob.WaitFor("pm\talice\thi back"));

    // Closing the tab forgets the form; the next message opens a new one.
    emit chats->tabCloseRequested(before);
    QCOMPARE(chats->count(), before);
    QVERIFY(!d.GetType(ServerTypes::User)->HasItem("bob")[ChatTypes::UserChatWidget]);
    m_bob.Send("pm alice again");
    QTRY_COMPARE(chats->count(), before + 1);
    QVERIFY(m_window->GetChatForm("bob") != form);
}

void OnlinePagesTest::AddsUsersTheServerKnows()
{
    NodeProcess carol;
    QVERIFY(carol.StartAndLogIn(m_server.Port(), "carol"));
    QVERIFY(carol.Quit());

    AddUserDialog dialog;
    const auto add = [&](const QString& name) {
        dialog.Name()->setText(name);
        dialog.AddButton()->click();
    };
    auto listed = [](const char* name) {
        return d.GetType(ServerTypes::User)->GetItem(name)->IsConnected(ServerTypes::InUserList);
    };
    add("  carol ");
    QCOMPARE(dialog.Status(), QString("Adding user..."));
    QVERIFY(!dialog.AddButton()->isEnabled());
    QTRY_COMPARE(dialog.Status(), QString("User added to list."));
    QVERIFY(listed("carol"));
    add("carol");
    QCOMPARE(dialog.Status(), QString("User already in list."));
    add("nobody-here");
    QTRY_COMPARE(dialog.Status(), QString("User name does not exist."));
    QVERIFY(!listed("nobody-here"));
    add("   ");
    QCOMPARE(dialog.Status(), QString("User name must not be empty."));

    MenuAction("disconnect")->trigger();
    QTRY_VERIFY(MenuAction("connect")->isEnabled());
    add("dora");
    QCOMPARE(dialog.Status(), QString("Must be online to add a user to your list."));
    MenuAction("connect")->trigger();
    QTRY_VERIFY(gp_server->IsConnected());
}

void OnlinePagesTest::EntersARoomAndReentersAfterRestart()
{
    QTRY_VERIFY(MenuAction("disconnect")->isEnabled());
    QTRY_COMPARE(actionBar->PrivilegesButton()->text(), QString("30 Days Left"));

    m_window->ShowPage("Rooms");
    auto* rooms = m_window->findChild<QTreeWidget*>("room_list");
    auto* roomTabs = m_window->findChild<QTabWidget*>("room_tabs");
    QVERIFY(rooms && roomTabs);
    Press(rooms, "refresh_room_list");
    QTRY_COMPARE(rooms->topLevelItemCount(), 1);
    QCOMPARE(rooms->topLevelItem(0)->text(1), QString("1"));

    // A double click enters the room; its focused form takes the bar.
    const QRect row = rooms->visualItemRect(rooms->topLevelItem(0));
    QTest::mouseClick(rooms->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(rooms->viewport(), Qt::LeftButton, {}, row.center());
    QTRY_COMPARE(roomTabs->count(), 1);
    QTRY_COMPARE(actionBar->CurrentSet(), QString("room"));
    QCOMPARE(actionBar->GetKey("room"), QString("lobby"));
    ItemPtr lobby = d.GetType(ServerTypes::Room)->HasItem("lobby");
    QVERIFY(lobby[ChatTypes::RoomForm]);

    // An empty line sends nothing, so the next line bob hears is the real one.
    auto* room = qobject_cast<RoomForm*>(roomTabs->widget(0));
    QVERIFY(room);
    QTRY_COMPARE(Texts(TopRows(room->Members())), (QStringList{"alice", "bob"}));
    m_bob.Send("say lobby <b>hi</b>");
    QTRY_VERIFY(room->View()->toPlainText().endsWith("[bob] <b>hi</b>"));
    room->Entry()->setFocus();
    QTRY_VERIFY(room->Entry()->hasFocus());
    QTest::keyClick(room->Entry(), Qt::Key_Return);
    QTest::keyClicks(room->Entry(), "hello bob");
    QTest::keyClick(room->Entry(), Qt::Key_Return);
    QVERIFY(room->Entry()->text().isEmpty());
    QCOMPARE(m_bob.WaitForPrefix("room-chat\tlobby\talice"),
             QString("room-chat\tlobby\talice\thello bob"));
    QTRY_VERIFY(room->View()->toPlainText().endsWith("[alice] hello bob"));

    // After a restart the room is entered again, with the new member list.
    const quint16 port = m_server.Port();
    QVERIFY(m_server.Stop());
    QTRY_VERIFY(room->View()->toPlainText().endsWith("* Disconnected."));
    QVERIFY(m_server.Start({"--privileged", "alice"}, port));
    gp_server->AttemptReconnect();
    QTRY_VERIFY(room->View()->toPlainText().endsWith("* Disconnected.\n* Reconnected."));
    QTRY_COMPARE(Texts(TopRows(room->Members())), QStringList{"alice"});

    // "Leave Room" from the form's own bar: the form and its item go.
    Press(roomTabs->widget(0), "leave_room");
    QTRY_COMPARE(roomTabs->count(), 0);
    QTRY_VERIFY(!lobby[ChatTypes::RoomForm]);
}

void OnlinePagesTest::RefusesUserChangeOnlineAndReportsWrongPassword()
{
    m_answerer.boxes.clear();
    QWidget* options = m_window->Page("Options");
    m_window->ShowPage("Options");
    Press(options->findChild<QLineEdit*>("username"), "set_user_pass");
    QCOMPARE(m_answerer.boxes, QStringList({"Cannot change username while online: You must be "
                                            "disconnected from the Quorvale server to change your "
                                            "username."}));
    QCOMPARE(m_answerer.logins, 1);

    MenuAction("disconnect")->trigger();
    QTRY_VERIFY(MenuAction("connect")->isEnabled());
    QCOMPARE(m_answerer.boxes.size(), 1); // leaving on purpose is no failure

    Settings::Set("password", "wrong");
    MenuAction("connect")->trigger();
    QTRY_COMPARE(m_answerer.boxes.size(), 2);
    QCOMPARE(m_answerer.boxes[1],
             QString("Login Failure: Wrong Password: Login failed. The password you "
                     "supplied does not match your username. Please change your "
                     "login settings in the Options tab and try reconnecting."));
    QVERIFY(MenuAction("connect")->isEnabled());
}

QTEST_MAIN(OnlinePagesTest)
#include "OnlinePagesTest.moc"
