#include "TransferTestSupport.h"

using namespace TransferTypes;

// Transfers from request to completion over real loopback connections: the
// peer's side is scripted byte by byte, our side runs the transfer threads.
class TransferNegotiationTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { client = std::make_unique<TransferClient>(); }
    void init() { client->Clear(); }
    void cleanupTestCase() { client.reset(); }

    void DownloadResumesFromThePartialFileAndIsFiledAsComplete();
    void UploadRunsOverOurFileConnectionAndReportsItsSpeed();

private:
    TransferQueueManager& M() { return *client->manager; }
    // A file connection the peer opens to us for a token.
    std::unique_ptr<QTcpSocket> FileConnection(std::uint32_t token)
    {
        auto socket = client->Peers().ConnectPeer();
        if (socket)
            socket->write(InitFrame("bob", "F") + ByteBuilder().UInt32(token));
        return socket;
    }

    std::unique_ptr<TransferClient> client;
};

void TransferNegotiationTest::DownloadResumesFromThePartialFileAndIsFiledAsComplete()
{
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    const QByteArray content = TransferClient::Content(3000);
    ItemPtr download = M().AddDownload("bob", "x.mp3", "music\\album", content.size(), 0);
    QCOMPARE_NEXT(*bob,
                  FileFrame(43, "music\\album\\x.mp3") + FileFrame(51, "music\\album\\x.mp3"));
    QVERIFY(client->WriteDownloaded("downloading/album/x.mp3", content.left(1000)));

    bob->write(TransferRequestFrame(77, "music\\album\\x.mp3", content.size()));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(77));
    auto first = FileConnection(77);
    QVERIFY(first);
    QCOMPARE_NEXT(*first, ByteBuilder().UInt32(1000).UInt32(0));
    QTRY_COMPARE(client->Status(download), std::string("downloading"));
    auto duplicate = FileConnection(77);
    QVERIFY(duplicate);
    QVERIFY(WaitForClosed(*duplicate));
    // A new offer for a running download ends the running transfer and is
    // accepted; the next connection resumes from the same place.
    bob->write(TransferRequestFrame(78, "music\\album\\x.mp3", content.size()));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(78));
    QCOMPARE(client->Status(download), std::string("aborted"));
    QVERIFY(WaitForClosed(*first));
    QSignalSpy recorded(&M(), &TransferQueueManager::CompleteDownloadAdded);
    auto second = FileConnection(78);
    QVERIFY(second);
    QCOMPARE_NEXT(*second, ByteBuilder().UInt32(1000).UInt32(0));
    second->write(content.mid(1000));
    QTRY_COMPARE(client->Status(download), std::string("complete"));
    QFile complete(client->downloads.filePath("complete/album/x.mp3"));
    QVERIFY(complete.open(QIODevice::ReadOnly));
    QCOMPARE(complete.readAll(), content);
    QVERIFY(!QFileInfo::exists(client->downloads.filePath("downloading/album")));
    QCOMPARE(recorded.count(), 1);
    ItemPtr record = ItemsOf(CompleteDownload).first();
    QCOMPARE(record[CompleteDownloadFilename].AsString(), std::string("x.mp3"));
    QCOMPARE(record[CompleteDownloadRelativeFolder].AsString(), std::string("album"));
    QCOMPARE(record[CompleteDownloadFileSize].AsString(), std::string("3000"));
    QCOMPARE(QString::fromStdString(record[CompleteDownloadFolder].AsString()),
             client->downloads.path().replace('/', '\\') + "\\complete\\album");

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
    // Fetching the same file again into the same folder keeps one record.
    M().SetDownloadEntryStatus(download, Download::Queued);
    bob->write(TransferRequestFrame(82, "music\\album\\x.mp3", content.size()));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(82));
    auto third = FileConnection(82);
    QVERIFY(third);
    QCOMPARE_NEXT(*third, ByteBuilder().UInt32(0).UInt32(0));
    third->write(content);
    QTRY_COMPARE(client->Status(download), std::string("complete"));
    QCOMPARE(recorded.count(), 1);
    QCOMPARE(CountOf(CompleteDownload), 1);
    // A file that cannot be created leaves the download in "local error"
    // and the connection is hung up on.
    QVERIFY(client->WriteDownloaded("downloading/blocked"));
    ItemPtr blocked = M().AddDownload("bob", "y.mp3", "blocked", 10, 0);
    QCOMPARE_NEXT(*bob, FileFrame(43, "blocked\\y.mp3") + FileFrame(51, "blocked\\y.mp3"));
    bob->write(TransferRequestFrame(83, "blocked\\y.mp3", 10));
    QCOMPARE_NEXT(*bob, TransferResponseFrame(83));
    auto refused = FileConnection(83);
    QVERIFY(refused);
    QVERIFY(WaitForClosed(*refused));
    QCOMPARE(client->Status(blocked), std::string("local error"));
}

void TransferNegotiationTest::UploadRunsOverOurFileConnectionAndReportsItsSpeed()
{
    // Large enough for the speed to be worth reporting to the server.
    const qint64 size = 1100000;
    // Under a limit the transfer takes long enough to measure its speed.
    M().SetUploadSpeedLimit(4000);
    M().EnableUploadSpeedLimit(true);
    client->SharedFile("big.mp3", size);
    const QByteArray path = client->SharedPath("big.mp3");
    auto bob = client->OnlinePeer("bob");
    QVERIFY(bob);
    ScriptedPeer bobsPort;
    QVERIFY(client->Peers().ReceiveAddress("bob", bobsPort.Port()));
    client->Peers().Server().TakeSent();

    bob->write(PeerFrame(Body(43).String(path)));
    QCOMPARE_NEXT(*bob, TransferRequestFrame(1, path, size));
    ItemPtr upload = ItemsOf(UploadEntry).first();
    bob->write(PeerFrame(Body(41).UInt32(1).Byte(1)));
    // Our file connection announces itself, then the thread sends the token.
    QCOMPARE(bobsPort.Take(26), InitFrame("alice", "F") + ByteBuilder().UInt32(1));
    QTRY_COMPARE(client->Status(upload), std::string("uploading"));
    QTcpSocket* theirs = bobsPort.Connection(0);
    theirs->write(ByteBuilder().UInt32(0).UInt32(0));
    QByteArray received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            received += theirs->readAll();
            return received.size() >= size;
        },
        20000));
    QCOMPARE(received, TransferClient::Content(size));
    theirs->close();
    QTRY_COMPARE(client->Status(upload), std::string("complete"));
    QVERIFY(M().GetUploadPosition(upload) == size);
    // Code 121 with the measured speed goes to the server.
    const QByteArray sent = client->Peers().Server().TakeSent();
    QVERIFY(sent.contains(ByteBuilder().UInt32(8).UInt32(121).Data()));
    QVERIFY(M().IsFreeToUpload());
}

QTEST_GUILESS_MAIN(TransferNegotiationTest)
#include "TransferNegotiationTest.moc"
