#include <QSignalSpy>
#include <QtTest>

#include "PeerTestSupport.h"
#include "search/SearchTypes.h"

using namespace PeerTypes;

namespace {

constexpr std::uint32_t MaxFrame = 1048576;

// A peer's frame, scrambled with a key of its own when the connection is.
class PeerWriter
{
public:
    explicit PeerWriter(bool obfuscated) : m_obfuscated(obfuscated) {}

    QByteArray operator()(const QByteArray& body) { return Wrap(PeerFrame(body)); }
    QByteArray Wrap(const QByteArray& frame)
    {
        return m_obfuscated ? ScrambleByHand(frame, m_key++ * 0x01000193u) : frame;
    }

private:
    bool m_obfuscated;
    std::uint32_t m_key = 0x7f4a7c15;
};

QByteArray QueueUpload(const QByteArray& file)
{
    return Body(43).String(file);
}

// zlib stream of the bytes, without the length qCompress puts first.
QByteArray Zlib(const QByteArray& bytes)
{
    return qCompress(bytes, 9).mid(4);
}

QStringList Files(const QSignalSpy& spy, int argument)
{
    QStringList files;
    for (const QList<QVariant>& call : spy)
        files << QString::fromStdString(call.at(argument).value<std::string>());
    return files;
}

} // namespace

class PeerInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclarePeerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_peers = std::make_unique<PeerSession>();
        QVERIFY(m_peers->LogIn());
    }
    void cleanup() { m_peers.reset(); }

    void SplitAndMergedFramesAreHandledInOrder_data();
    void SplitAndMergedFramesAreHandledInOrder();
    void FramesUpToOneMebibyteAreAccepted_data();
    void FramesUpToOneMebibyteAreAccepted();
    void ZeroLengthFrameIsHandledOnlyWhenMoreBytesCome();
    void FileConnectionWaitsForItsRawToken();
    void DNetConnectionLeavesTheBytesAfterItsFirstFrame();
    void UnacceptableFirstFramesCloseTheConnection_data();
    void UnacceptableFirstFramesCloseTheConnection();
    void MessagesReachTheirReceivers();
    void UnreadableMessageClosesOnlyItsConnection();

private:
    PeerSession& P() { return *m_peers; }
    PeerMessenger& messenger() { return *m_peers->messenger; }

    std::unique_ptr<PeerSession> m_peers;
};

void PeerInputTest::SplitAndMergedFramesAreHandledInOrder_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::newRow("plain") << false;
    QTest::newRow("scrambled") << true;
}

void PeerInputTest::SplitAndMergedFramesAreHandledInOrder()
{
    QFETCH(bool, obfuscated);
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    auto bob = P().ConnectMessagingPeer("bob", obfuscated);
    QVERIFY(bob);
    QTcpSocket* ours = OurEndOf(*bob);
    QVERIFY(ours);
    PeerWriter write(obfuscated);

    // A header is taken only whole: until then the bytes stay unread.
    const QByteArray first = write(QueueUpload("one"));
    const int headerSize = obfuscated ? 8 : 4;
    QVERIFY(WriteBytewise(*bob, *ours, first.left(headerSize - 1)));
    QCOMPARE(ours->bytesAvailable(), qint64(headerSize - 1));
    QVERIFY(WriteBytewise(*bob, *ours, first.mid(headerSize - 1) + write(QueueUpload("two"))));
    QCOMPARE(Files(queued, 1), QStringList({"one", "two"}));
    QCOMPARE(queued.at(0).at(0).value<std::string>(), std::string("bob"));

    bob->write(write(QueueUpload("a")) + write(QueueUpload("b")) + write(QueueUpload("c")));
    QTRY_COMPARE(queued.count(), 5);
    QCOMPARE(Files(queued, 1), QStringList({"one", "two", "a", "b", "c"}));
    QCOMPARE(bob->state(), QAbstractSocket::ConnectedState);
}

void PeerInputTest::FramesUpToOneMebibyteAreAccepted_data()
{
    SplitAndMergedFramesAreHandledInOrder_data();
}

void PeerInputTest::FramesUpToOneMebibyteAreAccepted()
{
    QFETCH(bool, obfuscated);
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    LogCapture log;
    auto bob = P().ConnectMessagingPeer("bob", obfuscated);
    QVERIFY(bob);
    PeerWriter write(obfuscated);

    // An unknown code padded to the largest frame, then a message behind it.
    const QByteArray largest = ByteBuilder().UInt32(1234).Raw(QByteArray(MaxFrame - 4, 'x'));
    bob->write(write(largest) + write(QueueUpload("after")));
    QTRY_COMPARE(queued.count(), 1);
    QCOMPARE(log.Count("Received 1234 (unknown) message from user bob"), 1);

    bob->write(write.Wrap(ByteBuilder().UInt32(MaxFrame + 1)));
    QVERIFY(WaitForClosed(*bob));
    QVERIFY(PeerSocketsOf("bob").empty());
    QCOMPARE(log.Count("Identified as peer socket"), 1);
}

void PeerInputTest::ZeroLengthFrameIsHandledOnlyWhenMoreBytesCome()
{
    LogCapture log;
    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);
    QTcpSocket* ours = OurEndOf(*bob);
    QVERIFY(WriteAndWait(*bob, *ours, ByteBuilder().UInt32(0)));
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    QCOMPARE(log.Count("Could not read message code on connection to user bob, disposing of "
                       "socket"),
             0);

    // The next byte starts a pass, which finds the empty body complete.
    bob->write(QByteArray(1, '\0'));
    QVERIFY(WaitForClosed(*bob));
    QCOMPARE(log.Count("Could not read message code on connection to user bob, disposing of "
                       "socket"),
             1);
    QVERIFY(PeerSocketsOf("bob").empty());
}

void PeerInputTest::FileConnectionWaitsForItsRawToken()
{
    QSignalSpy requested(&messenger(), &PeerMessenger::FileConnectionRequested);

    // The token may come in the same read as the init frame; what follows
    // the token is the file manager's.
    auto bob = P().ConnectPeer();
    QVERIFY(bob);
    QTcpSocket* ours = OurEndOf(*bob);
    bob->write(PeerFrame(InitBody("bob", "F")) + ByteBuilder().UInt32(0xcafe0042).UInt32(99));
    QTRY_COMPARE(requested.count(), 1);
    QCOMPARE(requested.at(0).at(0).value<std::string>(), std::string("bob"));
    QCOMPARE(requested.at(0).at(1).value<QTcpSocket*>(), ours);
    QCOMPARE(requested.at(0).at(2).toUInt(), 0xcafe0042u);
    QCOMPARE(ours->bytesAvailable(), qint64(4));
    QVERIFY(!IsRecorded(ours));
    delete ours;

    // On a scrambled connection the init frame is scrambled, the token is
    // not; it may trickle in.
    auto carol = P().ConnectPeer(true);
    QVERIFY(carol);
    ours = OurEndOf(*carol);
    QVERIFY(
        WriteAndWait(*carol, *ours, ScrambleByHand(PeerFrame(InitBody("carol", "F")), 0x5a5a5a5a)));
    QVERIFY(WriteBytewise(*carol, *ours, QByteArray::fromHex("010203")));
    QCOMPARE(requested.count(), 1);
    QVERIFY(WriteBytewise(*carol, *ours, QByteArray::fromHex("04")));
    QCOMPARE(requested.count(), 2);
    QCOMPARE(requested.at(1).at(0).value<std::string>(), std::string("carol"));
    QCOMPARE(requested.at(1).at(2).toUInt(), 0x04030201u);
    delete ours;
}

void PeerInputTest::DNetConnectionLeavesTheBytesAfterItsFirstFrame()
{
    QSignalSpy requested(&messenger(), &PeerMessenger::DNetConnectionRequested);
    LogCapture log;
    auto bob = P().ConnectPeer();
    QVERIFY(bob);
    QTcpSocket* ours = OurEndOf(*bob);
    bob->write(PeerFrame(InitBody("bob", "D")) + QByteArray::fromHex("050000000300"));
    QTRY_COMPARE(requested.count(), 1);
    QCOMPARE(requested.at(0).at(0).value<std::string>(), std::string("bob"));
    QCOMPARE(requested.at(0).at(1).value<QTcpSocket*>(), ours);
    QCOMPARE(ours->bytesAvailable(), qint64(6));
    QVERIFY(!IsRecorded(ours));
    QCOMPARE(log.Count("Accepted DNet connection to user bob"), 1);
    QCOMPARE(log.Count("Peer connection of type D opened from user bob"), 1);
    delete ours;
}

void PeerInputTest::UnacceptableFirstFramesCloseTheConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << PeerFrame(QByteArray()) + QByteArray(1, '\1')
                           << "Failed to read direction from new peer connection";
    QTest::newRow("indirect without token") << PeerFrame(ByteBuilder().Byte(0).Raw("\1\2"))
                                            << "Failed to read req from indirect peer connection";
    QTest::newRow("unknown token")
        << PeerFrame(IndirectResponseBody(999)) << "Req sent on indirect peer connection not found";
    QTest::newRow("unknown type") << PeerFrame(InitBody("bob", "X"))
                                  << "Peer connection of type X opened from user bob";
    QTest::newRow("truncated init")
        << PeerFrame(ByteBuilder().Byte(1).String("bob").String("P")) << "";
    QTest::newRow("name too long") << PeerFrame(InitBody(QByteArray(131073, 'n'), "P")) << "";
}

void PeerInputTest::UnacceptableFirstFramesCloseTheConnection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    LogCapture log;
    auto peer = P().ConnectPeer();
    QVERIFY(peer);
    peer->write(bytes);
    QVERIFY(WaitForClosed(*peer));
    QCOMPARE(log.Count("Failure initializing peer connection, disposing of socket"), 1);
    if (!reason.isEmpty())
        QCOMPARE(log.Count(reason), 1);
    QVERIFY(ItemsOf(UninitializedSocket).empty());
    QVERIFY(ItemsOf(PeerSocket).empty());

    // The longest name there may be is accepted.
    const QByteArray longest(131072, 'n');
    auto accepted = P().ConnectPeer();
    QVERIFY(accepted);
    accepted->write(PeerFrame(InitBody(longest, "P")));
    QTRY_COMPARE(PeerSocketsOf(longest.constData()).size(), std::size_t(1));
}

void PeerInputTest::MessagesReachTheirReceivers()
{
    QSignalSpy folder(&messenger(), &PeerMessenger::SharedFilesInFolderRequested);
    QSignalSpy transfer(&messenger(), &PeerMessenger::FileTransferRequested);
    QSignalSpy response(&messenger(), &PeerMessenger::FileTransferResponse);
    QSignalSpy place(&messenger(), &PeerMessenger::DownloadPlaceInLine);
    QSignalSpy failed(&messenger(), &PeerMessenger::UploadFailed);
    QSignalSpy denied(&messenger(), &PeerMessenger::UploadDenied);
    QSignalSpy results(&messenger(), &PeerMessenger::SearchResults);
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    int shares = 0;
    connect(&messenger(), &PeerMessenger::UserShare, this,
            [&shares](std::string user, FileInfoMap& share, AttributeTranslationTable& table) {
                QCOMPARE(user, std::string("bob"));
                QVERIFY(share.empty() && table.empty());
                ++shares;
            });
    d.GetType(SearchTypes::SearchRequest)->NewItem(55);
    LogCapture log;
    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);

    ByteBuilder withSize = Body(40).UInt32(1).UInt32(9).String("a\\b.mp3");
    ByteBuilder acceptedWithSize = Body(41).UInt32(12).Byte(1);
    ByteBuilder searchResult = ByteBuilder().String("bob").UInt32(55).UInt32(1);
    UInt64(searchResult.Byte(1).String("Music\\a.mp3"), 100).String("mp3").UInt32(0);
    searchResult.Byte(1).UInt32(10).UInt32(0).UInt32(0);
    bob->write(PeerFrame(Body(36).UInt32(7).String("Music\\Rock")) +
               PeerFrame(UInt64(withSize, 5000000000ULL)) +
               PeerFrame(Body(40).UInt32(0).UInt32(10).String("c")) +
               PeerFrame(Body(41).UInt32(11).Byte(1)) + PeerFrame(UInt64(acceptedWithSize, 123)) +
               PeerFrame(Body(41).UInt32(13).Byte(0).String("Queued")) +
               PeerFrame(Body(44).String("f").UInt32(3)) + PeerFrame(Body(46).String("f")) +
               PeerFrame(Body(50).String("f").String("Banned")) +
               PeerFrame(Body(5).Raw(Zlib(ByteBuilder().UInt32(0)))) +
               PeerFrame(Body(9).Raw(Zlib(searchResult))) + PeerFrame(Body(4)) +
               PeerFrame(Body(1234)) + PeerFrame(Body(43).String("last")));
    QTRY_COMPARE(queued.count(), 1);

    QCOMPARE(folder.count(), 1);
    QCOMPARE(folder.at(0).at(1).toUInt(), 7u);
    QCOMPARE(folder.at(0).at(2).value<std::string>(), std::string("Music\\Rock"));

    QCOMPARE(transfer.count(), 2);
    QCOMPARE(transfer.at(0).at(1).toInt(), 1);
    QCOMPARE(transfer.at(0).at(2).toUInt(), 9u);
    QCOMPARE(transfer.at(0).at(3).value<std::string>(), std::string("a\\b.mp3"));
    QCOMPARE(transfer.at(0).at(4).toLongLong(), 5000000000LL);
    QCOMPARE(transfer.at(1).at(1).toInt(), 0);
    QCOMPARE(transfer.at(1).at(4).toLongLong(), 0LL);

    QCOMPARE(response.count(), 3);
    const QList<QVariant> withoutSize = response.at(0);
    QCOMPARE(withoutSize.at(1).toUInt(), 11u);
    QCOMPARE(withoutSize.at(2).toBool(), true);
    QCOMPARE(withoutSize.at(3).toBool(), false);
    QCOMPARE(withoutSize.at(4).toLongLong(), 0LL);
    QCOMPARE(response.at(1).at(3).toBool(), true);
    QCOMPARE(response.at(1).at(4).toLongLong(), 123LL);
    const QList<QVariant> refused = response.at(2);
    QCOMPARE(refused.at(2).toBool(), false);
    QCOMPARE(refused.at(3).toBool(), false);
    QCOMPARE(refused.at(5).value<std::string>(), std::string("Queued"));

    QCOMPARE(place.count(), 1);
    QCOMPARE(place.at(0).at(2).toInt(), 3);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(1).value<std::string>(), std::string("f"));
    QCOMPARE(denied.count(), 1);
    QCOMPARE(denied.at(0).at(2).value<std::string>(), std::string("Banned"));
    QCOMPARE(shares, 1);
    QCOMPARE(results.count(), 1);
    ItemPtr set = results.at(0).at(0).value<ItemPtr>();
    QCOMPARE(set.GetItems(SearchTypes::SearchResult).size(), std::size_t(1));

    // Codes without a handler are logged and leave the connection open.
    QCOMPARE(log.Count("Received PM_GET_SHARED_FILE_LIST message from user bob"), 1);
    QCOMPARE(log.Count("Received 1234 (unknown) message from user bob"), 1);
    QCOMPARE(bob->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
}

void PeerInputTest::UnreadableMessageClosesOnlyItsConnection()
{
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    d.GetType(SearchTypes::SearchRequest)->NewItem(56);
    auto bob = P().ConnectMessagingPeer("bob");
    auto carol = P().ConnectMessagingPeer("carol");
    auto dave = P().ConnectMessagingPeer("dave");
    QVERIFY(bob && carol && dave);

    // A missing field, and search results in someone else's name.
    bob->write(PeerFrame(Body(43)));
    const QByteArray claimed = ByteBuilder().String("bob").UInt32(56).UInt32(0);
    dave->write(PeerFrame(Body(9).Raw(Zlib(claimed))));
    QVERIFY(WaitForClosed(*bob));
    QVERIFY(WaitForClosed(*dave));
    QVERIFY(PeerSocketsOf("bob").empty());
    QVERIFY(PeerSocketsOf("dave").empty());
    QCOMPARE(queued.count(), 0);

    carol->write(PeerFrame(QueueUpload("still here")));
    QTRY_COMPARE(queued.count(), 1);
    QCOMPARE(PeerSocketsOf("carol").size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(PeerInputTest)
#include "PeerInputTest.moc"
