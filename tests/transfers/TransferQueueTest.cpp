#include <memory>

#include <QTemporaryDir>

#include "../sharing/SharingTestSupport.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

// The bytes a peer receives next are exactly these.
#define QCOMPARE_NEXT(peer, bytes)                                                                 \
    do {                                                                                           \
        const QByteArray expected_ = (bytes);                                                      \
        QCOMPARE(ReadAtLeast(peer, expected_.size()), expected_);                                  \
    } while (false)

// Frames another peer receives from us, written from the message tables.
inline QByteArray FileFrame(std::uint32_t code, const QByteArray& file)
{
    return PeerHelpers::PeerFrame(Body(code).String(file));
}
inline QByteArray TransferRequestFrame(std::uint32_t token, const QByteArray& file, quint64 size)
{
    return PeerHelpers::PeerFrame(Body(40)
                                      .UInt32(1)
                                      .UInt32(token)
                                      .String(file)
                                      .UInt32(std::uint32_t(size))
                                      .UInt32(std::uint32_t(size >> 32)));
}
inline QByteArray TransferResponseFrame(std::uint32_t token, const QByteArray& reason = {})
{
    ByteBuilder body = Body(41).UInt32(token).Byte(reason.isEmpty() ? 1 : 0);
    if (!reason.isEmpty())
        body.String(reason);
    return PeerHelpers::PeerFrame(body);
}
inline QByteArray UploadDeniedFrame(const QByteArray& file, const QByteArray& reason)
{
    return PeerHelpers::PeerFrame(Body(50).String(file).String(reason));
}

using namespace TransferTypes;

// Logged in to a scripted server with the transfer manager. Types live as
// long as the process, so one world serves every test and init resets it.
class TransferQueueTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_sharing = std::make_unique<SharingClient>();
        QVERIFY(m_sharing->peers->LogIn());
        m_manager = std::make_unique<TransferQueueManager>();
    }
    void init()
    {
        for (Item* download : ItemsOf(DownloadEntry))
            m_manager->RemoveDownload(download);
        for (Item* upload : ItemsOf(UploadEntry))
            m_manager->RemoveUpload(upload);
        d.GetType(CompleteDownload)->RemoveAllItems();
        d.GetType(ServerTypes::IsOnline)->RemoveAllItems();
        d.GetType(ServerTypes::IsPrivileged)->RemoveAllItems();
        d.GetType(LastPlaceInLineRequestTime)->RemoveAllItems();
        SharingClient::Clear();
        Settings::Set("download_folder", m_downloads.path().toStdString());
        Settings::Set("upload_slots", 1);
        Settings::Set("transfer_req_counter", 1);
        Settings::Set("upload_speed_limit", 0);
        Settings::SetYes("upload_speed_limit_enabled", false);
        Clock::SetOffsetForTesting(0);
    }

    void cleanupTestCase()
    {
        m_manager.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_sharing.reset();
    }

    void UploadsAreServedByGroupThenPrivilegeThenArrival();
    void OneUploadPerUserAndOnlyToOnlineUsers();
    void SpeedLimitIsDividedAmongActiveUploads();
    void QueueRequestsAreDeniedRepeatedOrRequeued();
    void DownloadsAreQueuedWithThePeerOnce();
    void PeerNoticesAndRestartsChangeDownloadStatus();
    void EarlyUploadPhasesTimeOutAndPlacesAreRefreshed();
    void DownloadResumesFromThePartialFileAndIsFiledAsComplete();

private:
    TransferQueueManager& M() { return *m_manager; }
    PeerSession& Peers() { return *m_sharing->peers; }
    // A messaging connection from `user`, who is online; null when it fails.
    std::unique_ptr<QTcpSocket> OnlinePeer(const char* user)
    {
        auto socket = Peers().ConnectMessagingPeer(user);
        Online(user);
        return socket;
    }

    static ItemPtr Online(const char* name)
    {
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name);
        if (!user.IsConnected(ServerTypes::IsOnline))
            user.NewItem(ServerTypes::IsOnline);
        return user;
    }
    // A file of `size` bytes in a public root, on disk.
    ItemPtr SharedFile(const QString& name, qint64 size)
    {
        const std::string root = m_shares.path().toStdString();
        QFile file(m_shares.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write a shared file");
        file.write(Content(size));
        return ShareIndex::File(ShareIndex::Folder(ShareIndex::PublicRoot(root), root),
                                name.toStdString(), size);
    }
    QByteArray SharedPath(const QString& name) const
    {
        return QDir::toNativeSeparators(m_shares.filePath(name)).replace('/', '\\').toUtf8();
    }
    bool WriteDownloaded(const QString& path, const QByteArray& content = {})
    {
        QDir().mkpath(QFileInfo(m_downloads.filePath(path)).path());
        QFile file(m_downloads.filePath(path));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    static QByteArray Content(qint64 size)
    {
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        return bytes;
    }

    static std::string Status(ItemPtr entry)
    {
        return entry[entry.IsConnected(DownloadEntryStatus) ? DownloadEntryStatus
                                                            : UploadEntryStatus]
            .AsString();
    }
    // Each upload's user and status in serving order, "user:status".
    static QStringList UploadQueue()
    {
        QStringList queue;
        for (Item* upload : ItemsOf(UploadEntry).SortNumericBy(EffectiveUploadOrder, true))
            queue << QString::fromStdString(ItemPtr(upload)[ServerTypes::User].AsString() + ":" +
                                            Status(upload));
        return queue;
    }

    ItemPtr Queue(const char* user, const QString& name)
    {
        M().OnQueueUploadRequested(user, SharedPath(name).toStdString());
        return ItemsOf(UploadEntry)
            .Connected(UserItem(user))
            .Connected(d.GetType(FilenameAsRequested)->HasItem(SharedPath(name).toStdString()));
    }
    // A file connection the peer opens to us for a token.
    std::unique_ptr<QTcpSocket> FileConnection(std::uint32_t token)
    {
        auto socket = Peers().ConnectPeer();
        if (socket)
            socket->write(InitFrame("bob", "F") + ByteBuilder().UInt32(token));
        return socket;
    }

    std::unique_ptr<SharingClient> m_sharing;
    std::unique_ptr<TransferQueueManager> m_manager;
    QTemporaryDir m_downloads;
    QTemporaryDir m_shares;
};

void TransferQueueTest::UploadsAreServedByGroupThenPrivilegeThenArrival()
{
    SharedFile("a.mp3", 10);
    for (const char* user : {"ben", "carol", "dave", "erin", "frank"})
        Online(user);
    QCOMPARE(Status(Queue("ben", "a.mp3")), std::string("requesting"));
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
    QCOMPARE(UploadQueue(), QStringList({"frank:queued", "dave:queued", "ben:requesting",
                                         "carol:queued", "erin:queued"}));
    M().SetUploadEntryStatus(ItemsOf(UploadEntry).Connected(UserItem("ben")), Upload::Complete);
    M().StartNewUploads();
    QCOMPARE(UploadQueue(), QStringList({"frank:requesting", "dave:queued", "ben:complete",
                                         "carol:queued", "erin:queued"}));
    QVERIFY(!M().IsFreeToUpload());
    QCOMPARE(UploadAvailability::Current().QueuedUploadCount(), 3u);
}

void TransferQueueTest::OneUploadPerUserAndOnlyToOnlineUsers()
{
    SharedFile("a.mp3", 10);
    SharedFile("b.mp3", 10);
    M().SetUploadSlots(3);
    Online("ben");
    ItemPtr first = Queue("ben", "a.mp3");
    ItemPtr second = Queue("ben", "b.mp3");
    ItemPtr carols = Queue("carol", "a.mp3");
    QCOMPARE(Status(first), std::string("requesting"));
    QCOMPARE(Status(second), std::string("queued"));
    QCOMPARE(Status(carols), std::string("queued"));
    QVERIFY(M().IsFreeToUpload());
    Online("carol");
    QCOMPARE(Status(carols), std::string("requesting"));
    M().SetUploadEntryStatus(first, Upload::Complete);
    M().StartNewUploads();
    QCOMPARE(Status(second), std::string("requesting"));
    // Lowering the slots stops nothing and starts nothing new.
    M().SetUploadSlots(1);
    QCOMPARE(Status(carols), std::string("requesting"));
    M().SetUploadSlots(0);
    QCOMPARE(Settings::GetInt("upload_slots", 0), 1LL);
}

void TransferQueueTest::SpeedLimitIsDividedAmongActiveUploads()
{
    SharedFile("a.mp3", 10);
    M().SetUploadSlots(5);
    M().SetUploadSpeedLimit(100);
    QCOMPARE(M().SpeedLimits().Total(), 0);
    M().EnableUploadSpeedLimit(true);
    QCOMPARE(M().SpeedLimits().PerUpload(), 100);
    for (const char* user : {"ben", "carol", "dave"}) {
        Online(user);
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
    SharedFile("a.mp3", 10);
    auto bob = OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray path = SharedPath("a.mp3");
    bob->write(PeerFrame(Body(43).String("\\nowhere\\x.mp3")));
    QCOMPARE_NEXT(*bob, UploadDeniedFrame("\\nowhere\\x.mp3", "File not shared."));
    bob->write(PeerFrame(Body(43).String(path)));
    const QByteArray request = TransferRequestFrame(1, path, 10);
    QCOMPARE_NEXT(*bob, request);
    ItemPtr upload = ItemsOf(UploadEntry).first();
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(Status(upload), std::string("requesting"));
    QCOMPARE(CountOf(UploadEntry), 1);
    // A refusal is kept with its reason; asking again queues it once more
    // and starts it again under a new token.
    bob->write(PeerFrame(Body(41).UInt32(1).Byte(0).String("Queued")));
    QTRY_COMPARE(Status(upload), std::string("denied"));
    QCOMPARE(upload[DenialReason].AsString(), std::string("Queued"));
    const long long order = upload[UploadOrder].AsInt64();
    M().OnQueueUploadRequested("bob", path.toStdString());
    QCOMPARE(Status(upload), std::string("requesting"));
    QCOMPARE(upload[UploadOrder].AsInt64(), order);
    const QByteArray again = TransferRequestFrame(2, path, 10);
    QCOMPARE_NEXT(*bob, again);
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
    auto bob = OnlinePeer("bob");
    QVERIFY(bob);
    ItemPtr download = M().AddDownload("bob", "x.mp3", "music\\album", 500, 0);
    QCOMPARE(Status(download), std::string("queued"));
    const QByteArray expected =
        FileFrame(43, "music\\album\\x.mp3") + FileFrame(51, "music\\album\\x.mp3");
    QCOMPARE_NEXT(*bob, expected);
    QCOMPARE(M().AddDownload("bob", "x.mp3", "music\\album", 500, 0), download);
    bob->write(PeerFrame(Body(44).String("music\\album\\x.mp3").UInt32(7)));
    QTRY_COMPARE(download[PlaceInLine].AsInt(), 7);
    // A file already in the complete folder is not asked for.
    QVERIFY(WriteDownloaded("complete/album/y.mp3"));
    ItemPtr complete = M().AddDownload("bob", "y.mp3", "music\\album", 0, 0);
    QCOMPARE(Status(complete), std::string("complete"));
    QVERIFY(!bob->waitForReadyRead(200));
    // Nothing a peer names leads out of the download folder.
    ItemPtr hostile = M().AddDownload("bob", "..", "x\\..\\..", 1, 5);
    const QString path = M().FileSystemPath(M().GetDownloadTargetPath(hostile, false));
    QVERIFY(path.startsWith(m_downloads.path() + "/downloading/"));
    QVERIFY(!path.split('/').contains(".."));
}

void TransferQueueTest::PeerNoticesAndRestartsChangeDownloadStatus()
{
    ItemPtr denied = M().AddDownload("bob", "a.mp3", "f", 1, 0);
    ItemPtr aborted = M().AddDownload("bob", "b.mp3", "f", 1, 0);
    ItemPtr failed = M().AddDownload("bob", "c.mp3", "f", 1, 0);
    ItemPtr complete = M().AddDownload("bob", "d.mp3", "f", 1, 0);
    M().OnUploadDeniedNotification("bob", "f\\a.mp3", "Too many files");
    QCOMPARE(Status(denied), std::string("denied"));
    QCOMPARE(denied[DenialReason].AsString(), std::string("Too many files"));
    M().SetDownloadEntryStatus(aborted, Download::Aborted);
    M().SetDownloadEntryStatus(failed, Download::LocalError);
    M().SetDownloadEntryStatus(complete, Download::Complete);
    // The five-minute check re-queues aborted downloads, never local errors;
    // the user coming online re-queues both, but not denied ones.
    auto bob = OnlinePeer("bob");
    QVERIFY(bob);
    QByteArray expected;
    for (const char* file : {"f\\b.mp3", "f\\c.mp3"})
        expected += FileFrame(43, file) + FileFrame(51, file);
    QCOMPARE_NEXT(*bob, expected);
    M().PeriodicCheck();
    QCOMPARE_NEXT(*bob, FileFrame(43, "f\\b.mp3"));
    // A restart puts everything unfinished back in the queue.
    M().DataLoaded();
    QCOMPARE(Status(denied), std::string("queued"));
    QCOMPARE(Status(aborted), std::string("queued"));
    QCOMPARE(Status(failed), std::string("queued"));
    QCOMPARE(Status(complete), std::string("complete"));
}

void TransferQueueTest::EarlyUploadPhasesTimeOutAndPlacesAreRefreshed()
{
    SharedFile("a.mp3", 10);
    auto bob = OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray path = SharedPath("a.mp3");
    ItemPtr upload = Queue("bob", "a.mp3");
    ItemPtr download = M().AddDownload("bob", "x.mp3", "f", 1, 0);
    const QByteArray sent =
        TransferRequestFrame(1, path, 10) + FileFrame(43, "f\\x.mp3") + FileFrame(51, "f\\x.mp3");
    QCOMPARE_NEXT(*bob, sent);
    // Half a minute on, the request is given up and bob is told; his place
    // in line is asked for at the first pass and then once per ten minutes.
    AtSeconds(28);
    M().EveryHalfMinute();
    QCOMPARE(Status(upload), std::string("requesting"));
    QCOMPARE_NEXT(*bob, FileFrame(51, "f\\x.mp3"));
    AtSeconds(31);
    M().EveryHalfMinute();
    QCOMPARE(Status(upload), std::string("aborted"));
    QCOMPARE_NEXT(*bob, FileFrame(46, path));
    AtSeconds(28 + 598);
    M().EveryHalfMinute();
    QVERIFY(!bob->waitForReadyRead(200));
    AtSeconds(28 + 601);
    M().EveryHalfMinute();
    QCOMPARE_NEXT(*bob, FileFrame(51, "f\\x.mp3"));
    QCOMPARE(Status(download), std::string("queued"));
}

void TransferQueueTest::DownloadResumesFromThePartialFileAndIsFiledAsComplete()
{
    auto bob = OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray content = Content(3000);
    ItemPtr download = M().AddDownload("bob", "x.mp3", "music\\album", content.size(), 0);
    QCOMPARE_NEXT(*bob,
                  FileFrame(43, "music\\album\\x.mp3") + FileFrame(51, "music\\album\\x.mp3"));
    QVERIFY(WriteDownloaded("downloading/album/x.mp3", content.left(1000)));

    bob->write(TransferRequestFrame(77, "music\\album\\x.mp3", content.size()));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(77));
    auto first = FileConnection(77);
    QVERIFY(first);
    QCOMPARE_NEXT(*first, ByteBuilder().UInt32(1000).UInt32(0));
    QTRY_COMPARE(Status(download), std::string("downloading"));
    auto duplicate = FileConnection(77);
    QVERIFY(duplicate);
    QVERIFY(WaitForClosed(*duplicate));
    // A new offer for a running download ends the running transfer and is
    // accepted; the next connection resumes from the same place.
    bob->write(TransferRequestFrame(78, "music\\album\\x.mp3", content.size()));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(78));
    QCOMPARE(Status(download), std::string("aborted"));
    QVERIFY(WaitForClosed(*first));
    auto second = FileConnection(78);
    QVERIFY(second);
    QCOMPARE_NEXT(*second, ByteBuilder().UInt32(1000).UInt32(0));
    second->write(content.mid(1000));
    QTRY_COMPARE(Status(download), std::string("complete"));
    QVERIFY(!QFileInfo::exists(m_downloads.filePath("downloading/album")));
    QVERIFY(QFileInfo::exists(m_downloads.filePath("downloading")));
    ItemPtr record = ItemsOf(CompleteDownload).first();
    QCOMPARE(record[CompleteDownloadFilename].AsString(), std::string("x.mp3"));
    QCOMPARE(record[CompleteDownloadRelativeFolder].AsString(), std::string("album"));
    QCOMPARE(record[CompleteDownloadFileSize].AsString(), std::string("3000"));
    QCOMPARE(QString::fromStdString(record[CompleteDownloadFolder].AsString()),
             m_downloads.path().replace('/', '\\') + "\\complete\\album");

    // Offers of what we have or never asked for are turned down, and an
    // unknown token on a file connection is hung up on.
    bob->write(TransferRequestFrame(79, "music\\album\\x.mp3", content.size()) +
               TransferRequestFrame(80, "music\\other.mp3", 5));
    QCOMPARE_NEXT(*bob,
                  TransferResponseFrame(79, "Complete") + TransferResponseFrame(80, "Cancelled"));
    auto stray = FileConnection(81);
    QVERIFY(stray);
    QVERIFY(WaitForClosed(*stray));
    QCOMPARE(stray->bytesAvailable(), qint64(0));
    // A file that cannot be created leaves the download in "local error"
    // and the connection is hung up on.
    QVERIFY(WriteDownloaded("downloading/blocked"));
    ItemPtr blocked = M().AddDownload("bob", "y.mp3", "blocked", 10, 0);
    QCOMPARE_NEXT(*bob, FileFrame(43, "blocked\\y.mp3") + FileFrame(51, "blocked\\y.mp3"));
    bob->write(TransferRequestFrame(83, "blocked\\y.mp3", 10));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(83));
    auto refused = FileConnection(83);
    QVERIFY(refused);
    QVERIFY(WaitForClosed(*refused));
    QCOMPARE(Status(blocked), std::string("local error"));
}

QTEST_GUILESS_MAIN(TransferQueueTest)
#include "TransferQueueTest.moc"
