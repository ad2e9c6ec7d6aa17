#include "TransferTestSupport.h"
#include "search/SearchTypes.h"
#include "store/DataSaver.h"

using namespace TransferTypes;

// The two queues without file connections: serving order, slots, the speed
// limit, answers to queue requests, keeping downloads queued with peers,
// the folder layout and the half-minute pass.
class TransferQueueTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { client = std::make_unique<TransferClient>(); }
    void init() { client->Clear(); }
    void cleanupTestCase() { client.reset(); }

    void UploadsAreServedByGroupThenPrivilegeThenArrival();
    void OneUploadPerUserAndOnlyToOnlineUsers();
    void SpeedLimitIsDividedAmongActiveUploads();
    void QueueRequestsAreDeniedRepeatedOrRequeued();
    void DownloadsAreQueuedWithThePeerOnce();
    void PeerNoticesAndRestartsChangeDownloadStatus();
    void DownloadFoldersRecreateRemoteSubfolders();
    void EarlyUploadPhasesTimeOutAndPlacesAreRefreshed();

private:
    TransferQueueManager& M() { return *client->manager; }
    ItemPtr Queue(const char* user, const QString& name)
    {
        M().OnQueueUploadRequested(user, client->SharedPath(name).toStdString());
        return ItemsOf(UploadEntry)
            .Connected(UserItem(user))
            .Connected(
                d.GetType(FilenameAsRequested)->HasItem(client->SharedPath(name).toStdString()));
    }

    std::unique_ptr<TransferClient> client;
};

void TransferQueueTest::UploadsAreServedByGroupThenPrivilegeThenArrival()
{
    client->SharedFile("a.mp3", 10);
    for (const char* user : {"ben", "carol", "dave", "erin", "frank"})
        TransferClient::Online(user);
    // ben takes the only slot; the rest arrive while it is busy.
    QCOMPARE(client->Status(Queue("ben", "a.mp3")), std::string("requesting"));
    Queue("carol", "a.mp3");
    Queue("dave", "a.mp3");
    ItemPtr(UserItem("dave")).NewItem(ServerTypes::IsPrivileged);
    M().DetermineUploadsEffectiveOrder();
    Queue("erin", "a.mp3");
    ShareIndex::ListedUser("frank", "friends");
    d.GetType(ServerTypes::UserListGroup)
        ->GetItem("friends")
        ->Connect(d.GetType(ServerTypes::GroupDownloadPriority)->GetItem(5));
    Queue("frank", "a.mp3");
    QCOMPARE(TransferClient::UploadQueue(),
             QStringList(
                 {"frank:queued", "dave:queued", "ben:requesting", "carol:queued", "erin:queued"}));
    // Finishing ben's upload frees the slot for the first in that order.
    M().SetUploadEntryStatus(ItemsOf(UploadEntry).Connected(UserItem("ben")), Upload::Complete);
    M().StartNewUploads();
    QCOMPARE(TransferClient::UploadQueue(),
             QStringList({"frank:requesting", "dave:queued", "ben:complete", "carol:queued",
                          "erin:queued"}));
    QVERIFY(!M().IsFreeToUpload());
    QCOMPARE(M().QueuedUploadCount(), 3u);
    QCOMPARE(UploadAvailability::Current().QueuedUploadCount(), 3u);
}

void TransferQueueTest::OneUploadPerUserAndOnlyToOnlineUsers()
{
    client->SharedFile("a.mp3", 10);
    client->SharedFile("b.mp3", 10);
    M().SetUploadSlots(3);
    TransferClient::Online("ben");
    ItemPtr first = Queue("ben", "a.mp3");
    ItemPtr second = Queue("ben", "b.mp3");
    ItemPtr carols = Queue("carol", "a.mp3");
    QCOMPARE(client->Status(first), std::string("requesting"));
    QCOMPARE(client->Status(second), std::string("queued"));
    QCOMPARE(client->Status(carols), std::string("queued"));
    QVERIFY(M().IsFreeToUpload());
    // carol's turn comes when she is online, ben's second file when the
    // first is done.
    TransferClient::Online("carol");
    QCOMPARE(client->Status(carols), std::string("requesting"));
    M().SetUploadEntryStatus(first, Upload::Complete);
    M().StartNewUploads();
    QCOMPARE(client->Status(second), std::string("requesting"));
    // Lowering the slots stops nothing and starts nothing new.
    M().SetUploadSlots(1);
    QCOMPARE(client->Status(carols), std::string("requesting"));
    M().SetUploadSlots(0);
    QCOMPARE(Settings::GetInt("upload_slots", 0), 1LL);
}

void TransferQueueTest::SpeedLimitIsDividedAmongActiveUploads()
{
    client->SharedFile("a.mp3", 10);
    M().SetUploadSlots(5);
    M().SetUploadSpeedLimit(100);
    QCOMPARE(M().SpeedLimits().Total(), 0);
    M().EnableUploadSpeedLimit(true);
    QCOMPARE(M().SpeedLimits().PerUpload(), 100);
    for (const char* user : {"ben", "carol", "dave"}) {
        TransferClient::Online(user);
        Queue(user, "a.mp3");
    }
    QCOMPARE(M().GetUploadSpeed(), 100);
    QCOMPARE(M().SpeedLimits().PerUpload(), 33);
    M().SetUploadSpeedLimit(2);
    QCOMPARE(M().SpeedLimits().PerUpload(), 1);
    // An upload leaving the active statuses gives its share back.
    M().SetUploadSpeedLimit(100);
    M().SetUploadEntryStatus(ItemsOf(UploadEntry).Connected(UserItem("dave")), Upload::Complete);
    QCOMPARE(M().SpeedLimits().PerUpload(), 50);
    M().EnableUploadSpeedLimit(false);
    QCOMPARE(M().SpeedLimits().PerUpload(), 0);
}

void TransferQueueTest::QueueRequestsAreDeniedRepeatedOrRequeued()
{
    client->SharedFile("a.mp3", 10);
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray path = client->SharedPath("a.mp3");
    // Requests travel through the messenger from a real connection.
    bob->write(PeerFrame(Body(43).String("\\nowhere\\x.mp3")));
    QCOMPARE_NEXT(*bob, UploadDeniedFrame("\\nowhere\\x.mp3", "File not shared."));
    bob->write(PeerFrame(Body(43).String(path)));
    const QByteArray request = TransferRequestFrame(1, path, 10);
    QCOMPARE_NEXT(*bob, request);
    ItemPtr upload = ItemsOf(UploadEntry).first();
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(client->Status(upload), std::string("requesting"));
    QCOMPARE(CountOf(UploadEntry), 1);
    // A refusal is kept with its reason; asking again queues it once more
    // and starts it again under a new token.
    bob->write(PeerFrame(Body(41).UInt32(1).Byte(0).String("Queued")));
    QTRY_COMPARE(client->Status(upload), std::string("denied"));
    QCOMPARE(upload[DenialReason].AsString(), std::string("Queued"));
    const long long order = upload[UploadOrder].AsInt64();
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(client->Status(upload), std::string("requesting"));
    QCOMPARE(upload[UploadOrder].AsInt64(), order);
    const QByteArray again = TransferRequestFrame(2, path, 10);
    QCOMPARE_NEXT(*bob, again);
    // Hiding our shares from bob drops his uploads and tells him why.
    M().UnshareUser("bob");
    QCOMPARE(CountOf(UploadEntry), 0);
    QCOMPARE_NEXT(*bob, UploadDeniedFrame(path, "File not shared."));
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(CountOf(UploadEntry), 0);
    M().ReshareUser("bob");
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(CountOf(UploadEntry), 1);
}

void TransferQueueTest::DownloadsAreQueuedWithThePeerOnce()
{
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    ItemPtr download = M().AddDownload("bob", "x.mp3", "music\\album", 500, 0);
    QCOMPARE(client->Status(download), std::string("queued"));
    const QByteArray expected =
        FileFrame(43, "music\\album\\x.mp3") + FileFrame(51, "music\\album\\x.mp3");
    QCOMPARE_NEXT(*bob, expected);
    QCOMPARE(M().AddDownload("bob", "x.mp3", "music\\album", 500, 0), download);
    bob->write(PeerFrame(Body(44).String("music\\album\\x.mp3").UInt32(7)));
    QTRY_COMPARE(download[PlaceInLine].AsInt(), 7);
    // A file already in the complete folder is not asked for.
    QVERIFY(client->WriteDownloaded("complete/album/y.mp3"));
    ItemPtr complete = M().AddDownload("bob", "y.mp3", "music\\album", 0, 0);
    QCOMPARE(client->Status(complete), std::string("complete"));
    QVERIFY(!bob->waitForReadyRead(200));
    QVERIFY(download[DownloadOrder].AsInt64() < complete[DownloadOrder].AsInt64());
}

void TransferQueueTest::PeerNoticesAndRestartsChangeDownloadStatus()
{
    ItemPtr denied = M().AddDownload("bob", "a.mp3", "f", 1, 0);
    ItemPtr aborted = M().AddDownload("bob", "b.mp3", "f", 1, 0);
    ItemPtr failed = M().AddDownload("bob", "c.mp3", "f", 1, 0);
    ItemPtr complete = M().AddDownload("bob", "d.mp3", "f", 1, 0);
    M().OnUploadDeniedNotification("bob", "f\\a.mp3", "Too many files");
    QCOMPARE(client->Status(denied), std::string("denied"));
    QCOMPARE(denied[DenialReason].AsString(), std::string("Too many files"));
    M().SetDownloadEntryStatus(aborted, Download::Aborted);
    M().SetDownloadEntryStatus(failed, Download::LocalError);
    M().SetDownloadEntryStatus(complete, Download::Complete);
    // The five-minute check re-queues aborted downloads, never local errors;
    // the user coming online re-queues both, but not denied ones.
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    QByteArray expected;
    for (const char* file : {"f\\b.mp3", "f\\c.mp3"})
        expected += FileFrame(43, file) + FileFrame(51, file);
    QCOMPARE_NEXT(*bob, expected);
    M().PeriodicCheck();
    QCOMPARE_NEXT(*bob, FileFrame(43, "f\\b.mp3"));
    // A restart puts everything unfinished back in the queue, and a queued
    // download keeps the search it came from, while a bare search is gone.
    denied.Connect(d.GetType(SearchTypes::SearchRequestText)->GetItem("first album"));
    d.GetType(SearchTypes::SearchRequestText)->GetItem("never downloaded");
    const QString snapshot = client->downloads.filePath("snapshot");
    QVERIFY(dataSaver->Save(QFile::encodeName(snapshot).constData()));
    QFile saved(snapshot);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QVERIFY(bytes.contains("first album") && !bytes.contains("never downloaded"));
    M().DataLoaded();
    QCOMPARE(client->Status(denied), std::string("queued"));
    QCOMPARE(client->Status(aborted), std::string("queued"));
    QCOMPARE(client->Status(failed), std::string("queued"));
    QCOMPARE(client->Status(complete), std::string("complete"));
}

void TransferQueueTest::DownloadFoldersRecreateRemoteSubfolders()
{
    Settings::Set("download_folder", "/home/u/Quorvale Downloads");
    ItemPtr album = M().AddDownload("bob", "x.mp3", "music\\album", 1, 0);
    QCOMPARE(TransferQueueManager::FileSystemPath(M().GetDownloadTargetPath(album, false)),
             QString("/home/u/Quorvale Downloads/downloading/album/x.mp3"));
    ItemPtr deep = M().AddDownload("bob", "y.mp3", "a\\b\\c", 1, 1);
    QCOMPARE(M().GetDownloadTargetFolder(deep, true),
             QString("\\home\\u\\Quorvale Downloads\\complete\\b\\c"));
    QCOMPARE(M().GetDownloadRelativeDownloadFolder(deep), QString("b\\c"));
    // Nothing a peer names leads out of the download folder.
    ItemPtr hostile = M().AddDownload("bob", "..", "x\\..\\..", 1, 5);
    const QString path =
        TransferQueueManager::FileSystemPath(M().GetDownloadTargetPath(hostile, false));
    QVERIFY(path.startsWith("/home/u/Quorvale Downloads/downloading/"));
    QVERIFY(!path.split('/').contains(".."));
    // Only emptied folders of finished downloads are removed.
    Settings::Set("download_folder", client->downloads.path().toStdString());
    QVERIFY(QDir().mkpath(client->downloads.filePath("downloading/b/c")));
    M().SetDownloadEntryStatus(deep, Download::Complete);
    M().RemoveDownloadDownloadingFolderIfAppropriate(deep);
    QVERIFY(!QFileInfo::exists(client->downloads.filePath("downloading/b")));
    QVERIFY(QFileInfo::exists(client->downloads.filePath("downloading")));
}

void TransferQueueTest::EarlyUploadPhasesTimeOutAndPlacesAreRefreshed()
{
    client->SharedFile("a.mp3", 10);
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray path = client->SharedPath("a.mp3");
    ItemPtr upload = Queue("bob", "a.mp3");
    ItemPtr download = M().AddDownload("bob", "x.mp3", "f", 1, 0);
    const QByteArray sent =
        TransferRequestFrame(1, path, 10) + FileFrame(43, "f\\x.mp3") + FileFrame(51, "f\\x.mp3");
    QCOMPARE_NEXT(*bob, sent);
    // Half a minute on, the request is given up and bob is told; his place
    // in line is asked for at the first pass and then once per ten minutes.
    AtSeconds(28);
    M().EveryHalfMinute();
    QCOMPARE(client->Status(upload), std::string("requesting"));
    QCOMPARE_NEXT(*bob, FileFrame(51, "f\\x.mp3"));
    AtSeconds(31);
    M().EveryHalfMinute();
    QCOMPARE(client->Status(upload), std::string("aborted"));
    QCOMPARE_NEXT(*bob, FileFrame(46, path));
    AtSeconds(28 + 598);
    M().EveryHalfMinute();
    QVERIFY(!bob->waitForReadyRead(200));
    AtSeconds(28 + 601);
    M().EveryHalfMinute();
    QCOMPARE_NEXT(*bob, FileFrame(51, "f\\x.mp3"));
    QCOMPARE(client->Status(download), std::string("queued"));
}

QTEST_GUILESS_MAIN(TransferQueueTest)
#include "TransferQueueTest.moc"
