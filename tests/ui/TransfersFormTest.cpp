#include <QCheckBox>
#include <QMenu>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "OnlineWindow.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/CompleteDownloadsForm.h"
#include "ui/DesktopOpener.h"
#include "ui/DownloadMenuOptions.h"
#include "ui/DownloadNotifier.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBarDelegate.h"
#include "ui/TransferDisplay.h"
#include "ui/TransferTree.h"
#include "ui/TransfersForm.h"

using namespace TransferTypes;

namespace {
constexpr int Slow = 60000;

// The percentage a row's bar shows; -1 for a row without a bar.
int Percent(QTreeWidgetItem* row)
{
    const QVariant percent =
        row->data(TransferTree::ProgressColumn, ProgressBarDelegate::PercentRole);
    return percent.isValid() ? percent.toInt() : -1;
}

// The entry of `menu` whose text starts with `text`, or null.
QAction* MenuEntry(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text().startsWith(text))
            return action;
    return nullptr;
}
} // namespace

// The transfers page of the real window, downloading from and uploading to
// a headless node over the lab server.
class TransfersFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void TextsOfProgressAndTimeLeft();
    void DownloadRunsCompletesAndIsListed();
    void CollapsedRowsSummariseTheirEntries();
    void MenuOffersWhatTheSelectionAllows();
    void CompletionsShareOneNotification();
    void UploadsAreServedAndCleared();

private:
    TransfersForm* Form() const { return m_window->Transfers(); }
    TransferTree* Downloads() const { return Form()->Downloads(); }
    ItemPtr Download(const QString& file, qint64 size);
    void SetStatus(ItemPtr entry, const char* status);

    LabServerProcess m_server;
    NodeProcess m_bob;
    QTemporaryDir m_files;
    MainWindow* m_window = nullptr;
    QTimer m_closer;
    QList<QUrl> m_opened;
};

void TransfersFormTest::initTestCase()
{
    DesktopOpener::SetOpenerForTesting([this](const QUrl& url) { m_opened << url; });
    QVERIFY(m_server.Start({}));
    QVERIFY(m_bob.StartAndLogIn(m_server.Port(), "bob", m_files.path() + "/bob-downloads"));
    QVERIFY(WriteTestFile(m_files.path() + "/bob/music/first.bin", QByteArray(400000, 'q')));
    QVERIFY(WriteTestFile(m_files.path() + "/bob/music/second.bin", QByteArray(1000, 'q')));
    // Slow enough for a download to be seen running.
    m_bob.Send("upload-limit 100 on");
    m_bob.Send("share " + m_files.path() + "/bob/music public");
    m_bob.Send("rescan");
    QVERIFY(!m_bob.WaitForPrefix("rescanned\t", Slow).isEmpty());
    m_window = OpenOnlineWindow(m_closer, m_server.Port());
    QVERIFY(m_window);
    Settings::Set("download_folder", (m_files.path() + "/alice-downloads").toStdString());
}

void TransfersFormTest::cleanupTestCase()
{
    delete m_window;
    QVERIFY(m_bob.Quit());
    QVERIFY(m_server.Stop());
}

ItemPtr TransfersFormTest::Download(const QString& file, qint64 size)
{
    return transferQueueManager->AddDownload(
        "bob", file.toStdString(), ToWire(m_files.path() + "/bob/music").toStdString(), size, 0);
}

void TransfersFormTest::SetStatus(ItemPtr entry, const char* status)
{
    transferQueueManager->SetDownloadEntryStatus(entry, status);
}

void TransfersFormTest::TextsOfProgressAndTimeLeft()
{
    QCOMPARE(TransferDisplay::TimeLeftText(3600, 1), QString("   1h:0m:0s"));
    QCOMPARE(TransferDisplay::TimeLeftText(3599, 1), QString("   59m:59s"));
    QCOMPARE(TransferDisplay::TimeLeftText(5000, 0), QString("   0s"));
    QCOMPARE(TransferDisplay::SpeedText(1536), QString("1.5"));
}

void TransfersFormTest::DownloadRunsCompletesAndIsListed()
{
    QTreeWidget* tree = Downloads()->Tree();
    QTreeWidget* completed = Form()->CompleteDownloads()->List();
    ItemPtr first = Download("first.bin", 400000);
    QTreeWidgetItem* row = Downloads()->EntryRow(first);
    QVERIFY(row);
    // The row learns that bob is online once the server says so.
    QTRY_COMPARE(row->parent()->parent()->text(TransferTree::UserColumn), QString("bob"));

    QTRY_COMPARE_WITH_TIMEOUT(row->text(TransferTree::StatusColumn), QString("downloading"), Slow);
    QTRY_VERIFY_WITH_TIMEOUT(Percent(row) > 0 && Percent(row) < 100, Slow);
    const int midway = Percent(row);
    QVERIFY(row->text(TransferTree::TimeLeftColumn).startsWith("   "));
    QTRY_VERIFY_WITH_TIMEOUT(Percent(row) > midway, Slow);

    QTRY_COMPARE_WITH_TIMEOUT(row->text(TransferTree::StatusColumn), QString("complete"), Slow);
    QCOMPARE(Percent(row), 100);
    // Nothing is left to wait for.
    QCOMPARE(row->text(TransferTree::TimeLeftColumn), QString());
    QTRY_COMPARE(completed->topLevelItemCount(), 1);

    // Double-clicking opens the folder the file went to.
    m_opened.clear();
    Form()->OnDownloadListItemDoubleClicked(row);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].toLocalFile(),
             transferQueueManager->GetDownloadTargetFolder(first, true).replace('\\', '/'));

    // Ticking the box clears what is complete and whatever completes later;
    // the completed list keeps them, newest first.
    QTest::mouseClick(Form()->ClearDownloadsBox(), Qt::LeftButton);
    QCOMPARE(Settings::Get("clear_complete_downloads"), std::string("yes"));
    QVERIFY(!Downloads()->EntryRow(first));
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
    QCOMPARE(Settings::Get("clear_complete_downloads"), std::string());
}

void TransfersFormTest::CollapsedRowsSummariseTheirEntries()
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
    QVERIFY(!user->isExpanded());
    // Folders collapsed too: both rows above the entries summarise them.
    Form()->OnActionBarTriggered("expand_download_folders");
    QTreeWidgetItem* folder = Downloads()->EntryRow(a)->parent();
    QVERIFY(!folder->isExpanded());
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

    // The collapsed row's bar counts complete sizes whole and nothing of
    // what cannot finish.
    SetStatus(b, "queued");
    Form()->RefreshProgress();
    Downloads()->NoteProgress(a);
    Form()->RefreshProgress();
    QCOMPARE(Percent(user), 50);
    QCOMPARE(user->text(TransferTree::ProgressColumn), QString("2,048 (50.0%)"));

    // Expanding hands the details to the rows below.
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

void TransfersFormTest::MenuOffersWhatTheSelectionAllows()
{
    ItemPtr queued = transferQueueManager->AddDownload("nobody", "q.bin", "far", 10, 0);
    ItemPtr done = transferQueueManager->AddDownload("nobody", "c.bin", "far", 10, 0);
    SetStatus(done, "complete");

    // Only a complete file can be opened.
    QMenu one;
    new DownloadMenuOptions(&one, ItemSet{queued}, &one);
    QVERIFY(!MenuEntry(one, "Open File") && !MenuEntry(one, "Re-run Search"));
    QMenu complete;
    new DownloadMenuOptions(&complete, ItemSet{done}, &complete);
    QAction* open = MenuEntry(complete, "Open File");
    QVERIFY(open);
    m_opened.clear();
    open->trigger();
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].toLocalFile(),
             transferQueueManager->GetDownloadTargetPath(done, true).replace('\\', '/'));

    const ItemSet both{queued, done};
    ItemPtr(both.first()).Connect(d.GetType(SearchTypes::SearchRequestText)->GetItem("tide"));
    QMenu two;
    new DownloadMenuOptions(&two, both, &two);
    QAction* rerun = MenuEntry(two, "Re-run Search: tide");
    QAction* remove = MenuEntry(two, "Remove downloads");
    QVERIFY(rerun && remove);
    // The search goes out again as the user's own, not the wish list's.
    QStringList searched;
    const auto follow = connect(gp_server, &Server::SearchRequested,
                                [&](unsigned int, const std::string& text, bool wishList) {
                                    searched
                                        << QString::fromStdString(text) + (wishList ? "*" : "");
                                });
    rerun->trigger();
    disconnect(follow);
    QCOMPARE(searched, QStringList({"tide"}));
    remove->trigger();
    QVERIFY(!Downloads()->EntryRow(queued));
    QVERIFY(!Downloads()->EntryRow(done));
}

void TransfersFormTest::CompletionsShareOneNotification()
{
    DownloadNotifier notifier;
    QStringList shown;
    connect(&notifier, &DownloadNotifier::Notify,
            [&](const QString& title, const QString& text) { shown << title + ": " + text; });
    for (const char* name : {"a", "b", "a", "c", "d", "e"})
        notifier.Add(QString("/x/") + name, name);
    QVERIFY(notifier.Timer()->isActive());
    notifier.Flush();
    QCOMPARE(shown, QStringList({"5 downloads complete: a, b, c and 2 more"}));
    notifier.Add("/x/a", "a");
    notifier.Add("/x/f", "f");
    notifier.Flush();
    QCOMPARE(shown.last(), QString("Download complete: f"));
}

void TransfersFormTest::UploadsAreServedAndCleared()
{
    const QString share = m_files.path() + "/alice/Night Owls/Harbour Lights";
    QVERIFY(WriteTestFile(share + "/long.bin", QByteArray(200000, 'q')));
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
    // The page's slot box is the upload queue's setting.
    QCOMPARE(Form()->UploadSlotsBox()->value(), 1);
    Form()->UploadSlotsBox()->setFocus();
    QTest::keyClick(Form()->UploadSlotsBox(), Qt::Key_Up);
    QCOMPARE(Settings::GetInt("upload_slots", 1), 2);
    transferQueueManager->EnableUploadSpeedLimit(false);
    QTRY_COMPARE_WITH_TIMEOUT(bob->text(TransferTree::StatusColumn), QString("complete"), Slow);

    // The housekeeping leaves finished uploads alone until the box is
    // ticked and they have been finished for five minutes.
    Clock::SetOffsetForTesting(TransfersForm::UploadKeepMs);
    Form()->EveryHalfMinute();
    QCOMPARE(uploads->Entries().size(), std::size_t(1));
    Clock::SetOffsetForTesting(0);
    QTest::mouseClick(Form()->ClearUploadsBox(), Qt::LeftButton);
    QCOMPARE(Settings::Get("clear_complete_aborted_uploads"), std::string("yes"));
    Form()->EveryHalfMinute();
    QCOMPARE(uploads->Entries().size(), std::size_t(1));
    Clock::SetOffsetForTesting(TransfersForm::UploadKeepMs);
    Form()->EveryHalfMinute();
    Clock::SetOffsetForTesting(0);
    QCOMPARE(uploads->Tree()->topLevelItemCount(), 0);
    QVERIFY(d.GetType(UploadEntry)->GetItems().empty());
}

QTEST_MAIN(TransfersFormTest)
#include "TransfersFormTest.moc"
