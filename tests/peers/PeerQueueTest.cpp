#include <QSignalSpy>
#include <QtTest>

#include "PeerTestSupport.h"

using namespace PeerTypes;

namespace {

QByteArray QueueUpload(const QByteArray& file)
{
    return Body(43).String(file);
}

MemStream Message(const QByteArray& body)
{
    MemStream message;
    message.WriteBuffer(body.constData(), static_cast<unsigned long>(body.size()));
    return message;
}

// Waits until the test's socket has received `count` bytes and takes them.
QByteArray ReadExactly(QTcpSocket& socket, qint64 count)
{
    QByteArray bytes;
    (void)QTest::qWaitFor([&] {
        bytes += socket.read(count - bytes.size());
        return bytes.size() >= count;
    });
    return bytes;
}

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void AtSeconds(double seconds)
{
    Clock::SetOffsetForTesting(static_cast<qint64>(seconds * 1000));
}

} // namespace

class PeerQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclarePeerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_peers = std::make_unique<PeerSession>();
        QVERIFY(m_peers->LogIn());
        S().TakeSent();
    }
    void cleanup() { m_peers.reset(); }

    void QueuedMessagesGoOutInOrderOnceConnected();
    void QueuedMessagesAreDroppedAfterFiveMinutes();
    void AttemptsEndAfterAMinute();
    void IdleMessagingConnectionsCloseAfterTwoMinutes();
    void UnansweredBrokeredRequestTellsTheServer();
    void LatestOfSeveralConnectionsCarriesMessages();

private:
    PeerSession& P() { return *m_peers; }
    ServerSession& S() { return m_peers->Server(); }
    PeerMessenger& messenger() { return *m_peers->messenger; }

    void Send(const char* user, const QByteArray& body)
    {
        MemStream message = Message(body);
        messenger().SendMessage(user, message);
    }

    std::unique_ptr<PeerSession> m_peers;
};

void PeerQueueTest::QueuedMessagesGoOutInOrderOnceConnected()
{
    LogCapture log;
    QByteArray expected;
    // More than ten, so that an order taken as text would show.
    for (int i = 0; i < 11; ++i) {
        const QByteArray body = QueueUpload("file" + QByteArray::number(i));
        Send("bob", body);
        expected += PeerFrame(body);
    }
    QCOMPARE(ItemsOf("unsent_message").size(), std::size_t(11));
    QCOMPARE(log.Count("Did not find messaging connection to user, queueing unsent message"), 11);
    // One attempt serves them all.
    QCOMPARE(S().TakeSent(),
             Sent(Body(18).UInt32(1).String("bob").String("P")) + Sent(Body(3).String("bob")));

    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);
    QCOMPARE(ReadExactly(*bob, expected.size()), expected);
    QCOMPARE(log.Count("Sending 11 pending peer messages to user bob"), 1);
    QVERIFY(ItemsOf("unsent_message").empty());

    // Once connected, messages go straight out.
    Send("bob", QueueUpload("direct"));
    QCOMPARE(ReadExactly(*bob, 18), PeerFrame(QueueUpload("direct")));
    QVERIFY(ItemsOf("unsent_message").empty());
}

void PeerQueueTest::QueuedMessagesAreDroppedAfterFiveMinutes()
{
    Send("bob", QueueUpload("old"));
    AtSeconds(200);
    Send("bob", QueueUpload("new"));

    AtSeconds(299);
    messenger().EveryHalfMinute();
    QCOMPARE(ItemsOf("unsent_message").size(), std::size_t(2));
    AtSeconds(300);
    messenger().EveryHalfMinute();
    QCOMPARE(ItemsOf("unsent_message").size(), std::size_t(1));

    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);
    QCOMPARE(ReadExactly(*bob, 15), PeerFrame(QueueUpload("new")));
    QVERIFY(ItemsOf("unsent_message").empty());
}

void PeerQueueTest::AttemptsEndAfterAMinute()
{
    QVERIFY(P().ReceiveAddress("bob", ClosedPort()));
    LogCapture log;
    // Both ways are still pending: the event loop does not run in between.
    messenger().ConnectToUser("bob", "P");
    QCOMPARE(ItemsOf(ConnectToPeerRequestSocket).size(), std::size_t(1));
    QCOMPARE(ItemsOf(IndirectConnectToPeerRequest).size(), std::size_t(1));

    AtSeconds(59);
    messenger().EveryHalfMinute();
    QCOMPARE(ItemsOf(ConnectToPeerRequest).size(), std::size_t(1));
    QCOMPARE(ItemsOf(ConnectToPeerRequestSocket).size(), std::size_t(1));
    QCOMPARE(ItemsOf(IndirectConnectToPeerRequest).size(), std::size_t(1));

    AtSeconds(60);
    messenger().EveryHalfMinute();
    QCOMPARE(log.Count("Indirect connection request of type P to bob expired, removing."), 1);
    QCOMPARE(log.Count("Indirect request found. Not removing request."), 0);
    QCOMPARE(log.Count("Socket found. Not removing request."), 1);
    QCOMPARE(log.Count("Direct connection attempt of type P to bob timed out, closing."), 1);
    QCOMPARE(log.Count("Neither socket nor indirect request found. Removing."), 1);
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());
    QVERIFY(ItemsOf(ConnectToPeerRequestSocket).empty());
    QVERIFY(ItemsOf(IndirectConnectToPeerRequest).empty());

    // A new attempt may start.
    messenger().ConnectToUser("bob", "P");
    QCOMPARE(ItemsOf(ConnectToPeerRequest).size(), std::size_t(1));
}

void PeerQueueTest::IdleMessagingConnectionsCloseAfterTwoMinutes()
{
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    LogCapture log;
    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);

    // What bob sends keeps the connection; what we send does not.
    AtSeconds(100);
    bob->write(PeerFrame(QueueUpload("x")));
    QTRY_COMPARE(queued.count(), 1);
    AtSeconds(150);
    Send("bob", QueueUpload("y"));

    AtSeconds(219);
    messenger().EveryHalfMinute();
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    // A last activity ahead of the clock never expires.
    AtSeconds(0);
    messenger().EveryHalfMinute();
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));

    AtSeconds(220);
    messenger().EveryHalfMinute();
    QCOMPARE(log.Count("Peer connection to user bob expired, closing."), 1);
    QVERIFY(PeerSocketsOf("bob").empty());
    QVERIFY(ItemsOf(LastActivityTime).empty());
    QVERIFY(WaitForClosed(*bob));
}

void PeerQueueTest::UnansweredBrokeredRequestTellsTheServer()
{
    LogCapture log;
    // The peer cannot be reached.
    ByteBuilder request = Body(18).String("bob").String("P").UInt32(0x7f000001);
    request.Int32(ClosedPort()).UInt32(41).Byte(0).Int32(0);
    S().Receive(request);
    QTRY_COMPARE(log.Count("Request found, removing"), 1);
    QCOMPARE(log.Count("Identified as peer connection request socket"), 1);
    QCOMPARE(S().TakeSent(), Sent(Body(1001).UInt32(41).String("bob")));
    QVERIFY(ItemsOf(PeerConnectionRequest).empty());
    QVERIFY(ItemsOf(PeerConnectionRequestSocket).empty());

    // The peer does not answer within a minute. The request goes in as the
    // server connection puts it, and the pass runs before the socket can
    // report anything.
    QVERIFY(P().ReceiveAddress("carol", ClosedPort()));
    ItemPtr brokered = d.GetType(PeerConnectionRequest)->NewItem();
    brokered.Connect(d.GetType(PeerConnectionRequestId)->GetItem(42));
    brokered.Connect(d.GetType(PeerConnectionType)->GetItem("P"));
    brokered.Connect(UserItem("carol"));
    QCOMPARE(ItemsOf(PeerConnectionRequestSocket).size(), std::size_t(1));
    AtSeconds(59);
    messenger().EveryHalfMinute();
    QCOMPARE(ItemsOf(PeerConnectionRequestSocket).size(), std::size_t(1));
    AtSeconds(60);
    messenger().EveryHalfMinute();
    QCOMPARE(log.Count("Indirect connection attempt of type P to carol timed out, closing."), 1);
    QVERIFY(ItemsOf(PeerConnectionRequest).empty());
    QVERIFY(ItemsOf(PeerConnectionRequestSocket).empty());
    QCOMPARE(S().TakeSent(), Sent(Body(1001).UInt32(42).String("carol")));
}

void PeerQueueTest::LatestOfSeveralConnectionsCarriesMessages()
{
    std::vector<std::unique_ptr<QTcpSocket>> theirs;
    for (int i = 0; i < 3; ++i) {
        theirs.push_back(P().ConnectMessagingPeer("bob"));
        QVERIFY(theirs.back());
    }
    auto theirEnd = [&theirs](Item* peerSocket) -> QTcpSocket* {
        for (const auto& socket : theirs)
            if (SocketOf(peerSocket)->peerPort() == socket->localPort())
                return socket.get();
        return nullptr;
    };
    const ItemSet sockets = PeerSocketsOf("bob");
    QCOMPARE(sockets.size(), std::size_t(3));
    std::vector<Item*> inSetOrder(sockets.begin(), sockets.end());
    const QDateTime opened = QDateTime::currentDateTime();
    auto setOpened = [](Item* peerSocket, const QDateTime& time) {
        ItemPtr(peerSocket)
            .Connect(
                d.GetType(ConnectionOpenTime)->GetItem(time.toString(Qt::TextDate).toStdString()));
    };

    // Opened in the same second: the first in set order.
    for (Item* peerSocket : inSetOrder)
        setOpened(peerSocket, opened);
    Send("bob", QueueUpload("tie"));
    QCOMPARE(ReadExactly(*theirEnd(inSetOrder[0]), 15), PeerFrame(QueueUpload("tie")));

    // One second later wins, wherever it stands.
    setOpened(inSetOrder[1], opened.addSecs(1));
    Send("bob", QueueUpload("late"));
    QCOMPARE(ReadExactly(*theirEnd(inSetOrder[1]), 16), PeerFrame(QueueUpload("late")));
    QCOMPARE(theirEnd(inSetOrder[0])->bytesAvailable(), qint64(0));
    QCOMPARE(theirEnd(inSetOrder[2])->bytesAvailable(), qint64(0));
}

QTEST_GUILESS_MAIN(PeerQueueTest)
#include "PeerQueueTest.moc"
