#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "OnlineWindow.h"
#include "base/Settings.h"
#include "search/SearchTypes.h"
#include "search/WishListSearcher.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/MainWindow.h"
#include "ui/SearchForm.h"
#include "ui/SearchResultListItem.h"
#include "ui/SearchResultsTab.h"
#include "ui/WishListView.h"

using namespace SearchTypes;
using Row = SearchResultListItem;

namespace {
constexpr int Slow = 30000;

QStringList Texts(const QList<QTreeWidgetItem*>& rows, int column)
{
    QStringList texts;
    for (QTreeWidgetItem* row : rows)
        texts << row->text(column);
    return texts;
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
} // namespace

// The search page of the real window against the lab server and two nodes
// sharing real folders, one of them with MP3 files.
class SearchFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void SearchFillsTabGroupedByUserAndFolder();
    void DownloadsQueueTheChosenResults();
    void OrdersByAvailabilityOrSpeedAndFilters();
    void ClosedTabDropsLateResults();
    void WishListOpensTabsOnResults();

private:
    SearchForm* Form() const { return m_window->Search(); }
    bool StartNode(NodeProcess& node, const QString& user, const QString& share);
    SearchResultsTab* Search(const QString& text);
    void Press(SearchResultsTab* tab, const char* id);
    // A result set as a peer's answer leaves it in the store.
    ItemPtr Answer(unsigned int token, const std::string& user, bool free, int queue, int speed,
                   const std::vector<std::pair<std::string, std::string>>& files);

    LabServerProcess m_server;
    NodeProcess m_sharer, m_other;
    QTemporaryDir m_files;
    MainWindow* m_window = nullptr;
    QTimer m_closer;
};

bool SearchFormTest::StartNode(NodeProcess& node, const QString& user, const QString& share)
{
    if (!node.StartAndLogIn(m_server.Port(), user))
        return false;
    node.Send("share " + m_files.filePath(share) + " public");
    node.Send("rescan");
    return !node.WaitForPrefix("rescanned\t", Slow).isEmpty();
}

void SearchFormTest::initTestCase()
{
    QFile mp3(QStringLiteral(QUORVALE_TEST_DATA "/mp3/cbr128_joint.mp3"));
    QVERIFY(mp3.open(QIODevice::ReadOnly));
    const QByteArray music = mp3.readAll();
    QVERIFY(WriteTestFile(m_files.filePath("sharer/music/Album/Track 01.mp3"), music));
    QVERIFY(WriteTestFile(m_files.filePath("sharer/music/Album/Track 02.mp3"), music));
    QVERIFY(WriteTestFile(m_files.filePath("sharer/music/Album/cover.jpg"), "jpeg"));
    QVERIFY(WriteTestFile(m_files.filePath("sharer/music/Live/track live.mp3"), music));
    QVERIFY(WriteTestFile(m_files.filePath("other/tunes/track other.mp3"), music));
    QVERIFY(m_server.Start());
    QVERIFY(StartNode(m_sharer, "sharer", "sharer/music"));
    QVERIFY(StartNode(m_other, "other", "other/tunes"));
    m_window = OpenOnlineWindow(m_closer, m_server.Port());
    QVERIFY(m_window);
    Settings::Set("download_folder", m_files.filePath("alice").toStdString());
    m_window->ShowPage("Search");
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void SearchFormTest::cleanupTestCase()
{
    delete m_window;
    QVERIFY(m_sharer.Quit());
    QVERIFY(m_other.Quit());
    QVERIFY(m_server.Stop());
}

SearchResultsTab* SearchFormTest::Search(const QString& text)
{
    QTest::keyClicks(Form()->SearchField(), text);
    QTest::keyClick(Form()->SearchField(), Qt::Key_Return);
    return Form()->CurrentResultsTab();
}

void SearchFormTest::Press(SearchResultsTab* tab, const char* id)
{
    Form()->Tabs()->setCurrentWidget(tab);
    tab->Tree()->setFocus();
    QTRY_COMPARE(actionBar->CurrentWidget(), tab->Tree());
    QAction* button = actionBar->findChild<QAction*>(id);
    QVERIFY2(button, id);
    button->trigger();
}

ItemPtr SearchFormTest::Answer(unsigned int token, const std::string& user, bool free, int queue,
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

void SearchFormTest::SearchFillsTabGroupedByUserAndFolder()
{
    SearchResultsTab* tab = Search("track");
    QVERIFY(tab);
    QTRY_COMPARE_WITH_TIMEOUT(tab->ResultCount(), 4, Slow);
    QTreeWidget* tree = tab->Tree();
    QStringList users = Texts(TopRows(tree), Row::UserColumn);
    users.sort();
    QCOMPARE(users, QStringList({"other", "sharer"}));
    QTreeWidgetItem* sharer = tree->findItems("sharer", Qt::MatchExactly).value(0);
    QVERIFY(sharer && sharer->isExpanded());
    // Two files of one folder share its row.
    QCOMPARE(sharer->childCount(), 2);
    QCOMPARE(sharer->child(0)->childCount() + sharer->child(1)->childCount(), 3);

    // Collapsing users is a tab option.
    Press(tab, "expand_users");
    QVERIFY(!sharer->isExpanded());
    Press(tab, "expand_users");
    QVERIFY(sharer->isExpanded());
}

void SearchFormTest::DownloadsQueueTheChosenResults()
{
    SearchResultsTab* tab = Form()->CurrentResultsTab();
    QVERIFY(tab && tab->Text() == "track");
    QTreeWidgetItem* sharer = tab->Tree()->findItems("sharer", Qt::MatchExactly).value(0);
    QVERIFY(sharer);
    const std::string album =
        QString(m_files.filePath("sharer/music/Album")).replace('/', '\\').toStdString();
    const std::string live =
        QString(m_files.filePath("sharer/music/Live")).replace('/', '\\').toStdString();
    auto queued = [](const std::string& folder, const char* name) {
        ItemPtr entry = transferQueueManager->GetDownloadEntry("sharer", name, folder);
        return entry && entry[TransferTypes::SubfolderSaveLevel].AsInt() == 0 &&
               entry[TransferTypes::FileSize].AsInt64() > 0 &&
               entry[SearchRequestText].AsString() == "track";
    };
    QTreeWidgetItem* liveRow = nullptr;
    QTreeWidgetItem* albumRow = nullptr;
    for (QTreeWidgetItem* folder : Children(sharer))
        (folder->toolTip(Row::FolderColumn).endsWith("Live") ? liveRow : albumRow) = folder;
    QVERIFY(liveRow && albumRow);

    // A file row alone: the file action queues it, the folder action nothing.
    tab->Tree()->clearSelection();
    liveRow->child(0)->setSelected(true);
    Press(tab, "download_search_results_folder");
    QVERIFY(!queued(live, "track live.mp3"));
    Press(tab, "download_search_results_file");
    QTRY_VERIFY(queued(live, "track live.mp3"));
    QVERIFY(!queued(album, "Track 01.mp3"));

    // A folder row queues every result in it, each in its own folder.
    tab->Tree()->clearSelection();
    albumRow->setSelected(true);
    Press(tab, "download_search_results_folder");
    QVERIFY(queued(album, "Track 01.mp3") && queued(album, "Track 02.mp3"));

    // A double click on the other user's row takes all of that user's results.
    QTreeWidgetItem* other = tab->Tree()->findItems("other", Qt::MatchExactly).value(0);
    QVERIFY(other);
    emit tab->Tree()->itemDoubleClicked(other, 0);
    const std::string tunes =
        QString(m_files.filePath("other/tunes")).replace('/', '\\').toStdString();
    QVERIFY(transferQueueManager->GetDownloadEntry("other", "track other.mp3", tunes));
}

void SearchFormTest::OrdersByAvailabilityOrSpeedAndFilters()
{
    const unsigned int token = gp_server->FileSearch("zzqx ordering", false);
    SearchResultsTab* tab = Form()->TabOf(token);
    QVERIFY(tab);
    const std::string album = "music\\Album";
    Form()->OnUserSearchResults(Answer(token, "slowfree", true, 0, 100, {{album, "b.mp3"}}));
    Form()->OnUserSearchResults(Answer(token, "queued0", false, 0, 5000, {{album, "c.mp3"}}));
    Form()->OnUserSearchResults(Answer(token, "queued3", false, 3, 9000, {{album, "d.mp3"}}));
    Form()->OnUserSearchResults(Answer(token, "fastfree", true, 7, 1536,
                                       {{album, "Track 01.flac"},
                                        {album, "cover.jpg"},
                                        {"music\\Live", "track live.mp3"},
                                        {"music\\misc", "track live.mp3"},
                                        {"music\\misc", "track.mp3"}}));
    tab->AddAllPending();
    tab->Sort();
    QTreeWidget* tree = tab->Tree();
    QCOMPARE(Texts(TopRows(tree), Row::UserColumn),
             QStringList({"fastfree", "slowfree", "queued0", "queued3"}));
    // Inside a user, folders and files by name.
    QTreeWidgetItem* fast = TopRows(tree)[0];
    QCOMPARE(fast->childCount(), 3);
    QCOMPARE(Texts(Children(Children(fast)[0]), Row::FileColumn),
             QStringList({"cover.jpg", "Track 01.flac"}));

    Press(tab, "order_by_fastest");
    QCOMPARE(Texts(TopRows(tree), Row::UserColumn),
             QStringList({"queued3", "queued0", "fastfree", "slowfree"}));

    // Words found in a folder's path need not occur in its file names; an
    // excluded word in the path hides the whole folder.
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
    Form()->OnUserSearchResults(Answer(token, "late", true, 0, 1, {{"live", "x.mp3"}}));
    tab->AddAllPending();
    QVERIFY(tree->findItems("late", Qt::MatchExactly).isEmpty());
    // ...and a dropped user comes back when a later answer matches.
    Form()->OnUserSearchResults(Answer(token, "late", true, 0, 1, {{"studio", "y.mp3"}}));
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

void SearchFormTest::ClosedTabDropsLateResults()
{
    // Closing takes the tab's rows and results out of the store, and the
    // answers still on their way find no search.
    const int tabsBefore = Form()->Tabs()->count();
    SearchResultsTab* open = Search("cover");
    QTRY_COMPARE_WITH_TIMEOUT(open->ResultCount(), 1, Slow);
    const std::string value = open->WidgetItem()[SearchRequest].AsString();
    emit Form()->Tabs()->tabCloseRequested(Form()->Tabs()->indexOf(open));
    QCOMPARE(Form()->Tabs()->count(), tabsBefore);
    QVERIFY(!d.GetType(SearchRequest)->HasItem(value));
    for (Item* set : d.GetType(SearchResults)->GetItems())
        QVERIFY(ItemPtr(set)[SearchRequest].AsString() != value);
}

void SearchFormTest::WishListOpensTabsOnResults()
{
    // A long period keeps the timer out of the way; the test sends by hand.
    wishListSearcher->OnWishListWait(3600000);

    WishListView* wishes = Form()->WishList();
    auto* add = wishes->findChild<QPushButton*>("add_to_wish_list");
    QVERIFY(add);
    for (const char* text : {"cover", "lighthouse", "zebra", "cover"}) {
        wishes->Field()->setText(text);
        add->click();
    }
    QCheckBox* zebra = wishes->CheckBoxOf("zebra");
    QVERIFY(zebra && zebra->isChecked());
    zebra->click();
    QVERIFY(!WishListSearcher::IsEnabled(WishListSearcher::FindEntry("zebra")));

    std::vector<unsigned int> tokens;
    const auto follow = connect(gp_server, &Server::SearchRequested,
                                [&](unsigned int token, std::string, bool wishList) {
                                    tokens.push_back(wishList ? token : 0);
                                });
    const int tabsBefore = Form()->Tabs()->count();
    for (int n = 0; n < 3; ++n)
        wishListSearcher->OnSearchTimerTimeout();
    disconnect(follow);
    QCOMPARE(tokens.size(), std::size_t(3));
    QVERIFY(tokens[0] && tokens[2]);
    // No tab until results come.
    QCOMPARE(Form()->Tabs()->count(), tabsBefore);
    QTRY_COMPARE_WITH_TIMEOUT(Form()->Tabs()->count(), tabsBefore + 1, Slow);
    auto* tab = qobject_cast<SearchResultsTab*>(Form()->Tabs()->widget(tabsBefore));
    QVERIFY(tab && tab->IsWishList());
    QTRY_COMPARE(tab->ResultCount(), 1);
    // The sharer's answer to the repetition only repeats what we hold; a
    // new answer to it lands in the same tab.
    Form()->OnUserSearchResults(Answer(tokens[2], "other", false, 1, 1, {{"art", "cover.png"}}));
    tab->AddAllPending();
    QCOMPARE(Form()->Tabs()->count(), tabsBefore + 1);
    QCOMPARE(tab->ResultCount(), 2);
    QCOMPARE(tab->WidgetItem().GetItems(SearchRequest).size(), std::size_t(2));

    // The tool bar of the wish list: switch all on, remove the selected one.
    wishes->List()->setFocus();
    Form()->Tabs()->setCurrentWidget(wishes);
    QTRY_COMPARE(actionBar->CurrentSet(), QString("wish_list"));
    QAction* enableAll = actionBar->findChild<QAction*>("enable_all_wish_list_items");
    QAction* remove = actionBar->findChild<QAction*>("remove_wish_list_item");
    QVERIFY(enableAll && remove);
    enableAll->trigger();
    QVERIFY(zebra->isChecked());
    const auto zebraRows = wishes->List()->findItems("zebra", Qt::MatchExactly, 1);
    QCOMPARE(zebraRows.size(), 1);
    wishes->List()->setCurrentItem(zebraRows[0]);
    remove->trigger();
    QVERIFY(!WishListSearcher::FindEntry("zebra"));
    QCOMPARE(wishes->List()->topLevelItemCount(), 2);
}

QTEST_MAIN(SearchFormTest)
#include "SearchFormTest.moc"
