#include <QBuffer>
#include <QSignalSpy>
#include <QtTest>

#include "PeerTestSupport.h"

using namespace PeerTypes;

namespace {

QByteArray IndirectRequestSent(std::uint32_t token, const QByteArray& user, const QByteArray& type)
{
    return Sent(Body(18).UInt32(token).String(user).String(type));
}

// The server relays a peer's request that we connect to it.
QByteArray BrokeredRequest(const QByteArray& user, const QByteArray& type, quint16 port,
                           std::uint32_t token, quint16 obfuscatedPort = 0)
{
    ByteBuilder body = Body(18).String(user).String(type).UInt32(0x7f000001).Int32(port);
    body.UInt32(token).Byte(0);
    if (obfuscatedPort)
        body.Int32(1).Int32(obfuscatedPort);
    else
        body.Int32(0);
    return body;
}

std::uint32_t OnlyIndirectToken()
{
    const ItemSet indirect = ItemsOf(IndirectConnectToPeerRequest);
    return indirect.size() == 1 ? ItemPtr(indirect.first()).AsUInt() : 0;
}

} // namespace

class PeerConnectionTest : public QObject
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

    void ListeningPortsComeFromTheSettings();
    void WaitPortsAreSentAtEveryLogin();
    void DirectAttemptSendsPeerInitAndOpensAMessagingConnection();
    void UserWithAnObfuscatedPortGetsScrambledConnections();
    void UnknownAddressIsAskedForBeforeConnecting();
    void SameAttemptIsNotStartedTwice();
    void DirectWinsAndALateIndirectAnswerOpensASecondConnection();
    void IndirectWinsWhileTheAddressIsUnknown();
    void IndirectWinsWhileTheDirectSocketIsStillConnecting();
    void FailedDirectWayLeavesTheIndirectWayOpen();
    void BrokeredRequestIsAnsweredWithItsToken();
    void BrokeredFileAndDNetConnectionsAreHandedOver();

private:
    PeerSession& P() { return *m_peers; }
    ServerSession& S() { return m_peers->Server(); }
    PeerMessenger& messenger() { return *m_peers->messenger; }

    std::unique_ptr<PeerSession> m_peers;
};

void PeerConnectionTest::ListeningPortsComeFromTheSettings()
{
    // Listen stored the free ports it was given; both accept.
    QVERIFY(P().Port() != 0);
    QVERIFY(P().ObfuscatedPort() != 0);
    QVERIFY(P().Port() != P().ObfuscatedPort());
    auto plain = P().ConnectPeer(false);
    auto scrambled = P().ConnectPeer(true);
    QVERIFY(plain && scrambled);
    const ItemSet accepted = ItemsOf(UninitializedSocket);
    QCOMPARE(accepted.size(), std::size_t(2));
    QCOMPARE(accepted.Connected(IsObfuscated).size(), std::size_t(1));

    // At load, absent ports get their defaults; a port chosen while running
    // replaces the plain one and is used up.
    d.GetType(AppTypes::Global)->GetItems().Remove();
    messenger().DataLoaded();
    QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
    QCOMPARE(Settings::Get("obfuscated_listening_port"), std::string("8973"));

    Settings::Set("listening_port", 2235);
    Settings::Set("obfuscated_listening_port", 0);
    Settings::Set("new_listening_port", 0);
    messenger().DataLoaded();
    const long long chosen = Settings::GetInt("listening_port", 0);
    QVERIFY(chosen != 0 && chosen != 2235);
    QVERIFY(!d.GetType(AppTypes::Global)->HasItem("new_listening_port"));
    QVERIFY(Settings::GetInt("obfuscated_listening_port", 0) != 0);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(chosen));
    QVERIFY(probe.waitForConnected(5000));
}

void PeerConnectionTest::WaitPortsAreSentAtEveryLogin()
{
    // The session logged in after the messenger existed.
    const QByteArray expected =
        Sent(Body(2).UInt32(P().Port()).UInt32(1).UInt32(P().ObfuscatedPort()));
    QVERIFY(S().TakeSent().contains(expected));
}

void PeerConnectionTest::DirectAttemptSendsPeerInitAndOpensAMessagingConnection()
{
    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    S().TakeSent();
    LogCapture log;

    messenger().ConnectToUser("bob", "P");
    QVERIFY(bob.WaitForBytes(0, 18));
    QCOMPARE(bob.Take(0), PeerFrame(InitBody("alice", "P")));
    QCOMPARE(S().TakeSent(), IndirectRequestSent(1, "bob", "P"));
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(1));

    ItemPtr peerSocket = PeerSocketsOf("bob").first();
    QVERIFY(!peerSocket.IsConnected(IsObfuscated));
    QVERIFY(peerSocket.IsConnected(ConnectionOpenTime));
    QVERIFY(peerSocket.IsConnected(LastActivityTime));
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());
    QVERIFY(ItemsOf(ConnectToPeerRequestSocket).empty());
    // The indirect way stays valid until it expires.
    QCOMPARE(OnlyIndirectToken(), 1u);
    QCOMPARE(log.Count("Direct connection of type P to user bob successful"), 1);
    QCOMPARE(log.Count("Disposing of peer connection request of type P to user bob"), 1);

    // Messages now go out on that connection, plain.
    MemStream message;
    message.Write(43u);
    message.Write(std::string("a.mp3"));
    messenger().SendMessage("bob", message);
    QVERIFY(bob.WaitForBytes(0, 17));
    QCOMPARE(bob.Take(0), PeerFrame(ByteBuilder().UInt32(43).String("a.mp3")));
}

void PeerConnectionTest::UserWithAnObfuscatedPortGetsScrambledConnections()
{
    ScriptedPeer bob;
    ScriptedPeer bobPlain;
    QVERIFY(P().ReceiveAddress("bob", bobPlain.Port(), bob.Port()));

    messenger().ConnectToUser("bob", "P");
    const QByteArray init = ScrambleByHand(PeerFrame(InitBody("alice", "P")), KnownKey);
    QVERIFY(bob.WaitForBytes(0, static_cast<int>(init.size())));
    QCOMPARE(bob.Take(0), init);
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    QVERIFY(ItemPtr(PeerSocketsOf("bob").first()).IsConnected(IsObfuscated));
    QCOMPARE(bobPlain.ConnectionCount(), 0);

    MemStream message;
    message.Write(43u);
    message.Write(std::string("b"));
    messenger().SendMessage("bob", message);
    const QByteArray expected =
        ScrambleByHand(PeerFrame(ByteBuilder().UInt32(43).String("b")), KnownKey);
    QVERIFY(bob.WaitForBytes(0, static_cast<int>(expected.size())));
    QCOMPARE(bob.Take(0), expected);

    // Search-tree links stay plain: they go to the plain port whatever the
    // user announced, since the tree reads its frames unscrambled.
    messenger().ConnectToUser("bob", "D");
    const QByteArray plainInit = PeerFrame(InitBody("alice", "D"));
    QVERIFY(bobPlain.WaitForBytes(0, static_cast<int>(plainInit.size())));
    QCOMPARE(bobPlain.Take(0), plainInit);
    QCOMPARE(bob.ConnectionCount(), 1);
}

void PeerConnectionTest::UnknownAddressIsAskedForBeforeConnecting()
{
    S().TakeSent();
    QSignalSpy accepted(&messenger(), &PeerMessenger::DNetConnectionAccepted);
    messenger().RequestDNetConnection("bob");
    QCOMPARE(S().TakeSent(), IndirectRequestSent(1, "bob", "D") + Sent(Body(3).String("bob")));
    ItemPtr request = ItemsOf(ConnectToPeerRequest).first();
    QCOMPARE(request[ConnectToPeerRequestStatus].AsString(), std::string("getting_address"));
    QVERIFY(!request.IsConnected(ConnectToPeerRequestSocket));

    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    QVERIFY(bob.WaitForBytes(0, 18));
    QCOMPARE(bob.Take(0), PeerFrame(InitBody("alice", "D")));
    QTRY_COMPARE(accepted.count(), 1);
    QCOMPARE(accepted.at(0).at(0).value<std::string>(), std::string("bob"));
    auto* socket = accepted.at(0).at(1).value<QTcpSocket*>();
    QVERIFY(socket);
    // The socket is the distributed network's now: no record of ours is left.
    QVERIFY(!IsRecorded(socket));
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());
    delete socket;
}

void PeerConnectionTest::SameAttemptIsNotStartedTwice()
{
    S().TakeSent();
    LogCapture log;
    messenger().ConnectToUser("bob", "P");
    messenger().ConnectToUser("bob", "P");
    QCOMPARE(log.Count("Connection attempt to same user of same type already in progress, "
                       "not re-attempting."),
             1);
    QCOMPARE(S().TakeSent(), IndirectRequestSent(1, "bob", "P") + Sent(Body(3).String("bob")));
    QCOMPARE(ItemsOf(ConnectToPeerRequest).size(), std::size_t(1));

    // Another type is another attempt; the address request is outstanding.
    messenger().RequestFileConnectionToUser("bob");
    QCOMPARE(S().TakeSent(), IndirectRequestSent(2, "bob", "F"));
    QCOMPARE(ItemsOf(ConnectToPeerRequest).size(), std::size_t(2));
}

void PeerConnectionTest::DirectWinsAndALateIndirectAnswerOpensASecondConnection()
{
    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    messenger().ConnectToUser("bob", "P");
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    const std::uint32_t token = OnlyIndirectToken();
    QVERIFY(token != 0);

    // Bob also answers the server's request by connecting to us.
    auto late = P().ConnectPeer();
    QVERIFY(late);
    late->write(PeerFrame(IndirectResponseBody(token)));
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(2));
    QVERIFY(ItemsOf(IndirectConnectToPeerRequest).empty());
    QVERIFY(ItemsOf(UninitializedSocket).empty());
    // Both stay open.
    QCOMPARE(bob.Connection(0)->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(late->state(), QAbstractSocket::ConnectedState);

    // The token is used up: answering it again is refused.
    auto again = P().ConnectPeer();
    QVERIFY(again);
    again->write(PeerFrame(IndirectResponseBody(token)));
    QVERIFY(WaitForClosed(*again));
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(2));
}

void PeerConnectionTest::IndirectWinsWhileTheAddressIsUnknown()
{
    LogCapture log;
    messenger().ConnectToUser("bob", "P");
    const std::uint32_t token = OnlyIndirectToken();
    auto bob = P().ConnectPeer();
    QVERIFY(bob);
    bob->write(PeerFrame(IndirectResponseBody(token)));
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    QCOMPARE(log.Count("Found req, accepted indirect connection to user bob, connection type P"),
             1);
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());

    // The address arriving afterwards starts nothing.
    ScriptedPeer bobListening;
    QVERIFY(P().ReceiveAddress("bob", bobListening.Port()));
    QVERIFY(ItemsOf(ConnectToPeerRequestSocket).empty());
    QCOMPARE(bobListening.ConnectionCount(), 0);
}

void PeerConnectionTest::IndirectWinsWhileTheDirectSocketIsStillConnecting()
{
    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    messenger().ConnectToUser("bob", "P");
    QCOMPARE(ItemsOf(ConnectToPeerRequestSocket).size(), std::size_t(1));

    // Bob's answer through the server is read before the event loop lets
    // the direct socket connect: an accepted socket given its bytes by hand.
    auto* answer = new QTcpSocket();
    d.GetType(UninitializedSocket)->NewItem(ObjectValue(answer));
    QBuffer bytes;
    bytes.setData(PeerFrame(IndirectResponseBody(OnlyIndirectToken())));
    QVERIFY(bytes.open(QIODevice::ReadOnly));
    messenger().ReadSocket(answer, bytes);
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());

    // The direct socket is not cancelled; connecting, it opens a second
    // messaging connection.
    QCOMPARE(ItemsOf(ConnectToPeerRequestSocket).size(), std::size_t(1));
    QVERIFY(bob.WaitForBytes(0, 18));
    QCOMPARE(bob.Take(0), PeerFrame(InitBody("alice", "P")));
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(2));
    QVERIFY(ItemsOf(ConnectToPeerRequestSocket).empty());
    messenger().DisposeOfSocket(answer);
    QCOMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
}

void PeerConnectionTest::FailedDirectWayLeavesTheIndirectWayOpen()
{
    // A port nobody listens on.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QVERIFY(P().ReceiveAddress("bob", closedPort));
    LogCapture log;
    messenger().ConnectToUser("bob", "P");
    QTRY_COMPARE(log.Count("Direct connection of type P to user bob failed"), 1);
    QCOMPARE(log.Count("Indirect request found. Not removing request."), 1);
    QCOMPARE(ItemsOf(ConnectToPeerRequest).size(), std::size_t(1));
    QVERIFY(ItemsOf(ConnectToPeerRequestSocket).empty());

    // The server reports that bob could not reach us either.
    const std::uint32_t token = OnlyIndirectToken();
    S().Receive(Body(1001).UInt32(token));
    QVERIFY(S().Sync());
    QCOMPARE(log.Count("Indirect connection of type P to user bob failed"), 1);
    QCOMPARE(log.Count("Neither socket nor indirect request found. Removing."), 1);
    QVERIFY(ItemsOf(ConnectToPeerRequest).empty());
    QVERIFY(ItemsOf(IndirectConnectToPeerRequest).empty());
}

void PeerConnectionTest::BrokeredRequestIsAnsweredWithItsToken()
{
    ScriptedPeer bob;
    S().Receive(BrokeredRequest("bob", "P", bob.Port(), 77));
    QVERIFY(bob.WaitForBytes(0, 9));
    QCOMPARE(bob.Take(0), PeerFrame(IndirectResponseBody(77)));
    QTRY_COMPARE(PeerSocketsOf("bob").size(), std::size_t(1));
    QVERIFY(ItemsOf(PeerConnectionRequest).empty());
    QVERIFY(ItemsOf(PeerConnectionRequestSocket).empty());

    // Scrambled when the peer has a scrambled port.
    ScriptedPeer carol;
    ScriptedPeer carolPlain;
    S().Receive(BrokeredRequest("carol", "P", carolPlain.Port(), 78, carol.Port()));
    const QByteArray expected = ScrambleByHand(PeerFrame(IndirectResponseBody(78)), KnownKey);
    QVERIFY(carol.WaitForBytes(0, static_cast<int>(expected.size())));
    QCOMPARE(carol.Take(0), expected);
    QTRY_COMPARE(PeerSocketsOf("carol").size(), std::size_t(1));
    QVERIFY(ItemPtr(PeerSocketsOf("carol").first()).IsConnected(IsObfuscated));
    QCOMPARE(carolPlain.ConnectionCount(), 0);
}

void PeerConnectionTest::BrokeredFileAndDNetConnectionsAreHandedOver()
{
    QSignalSpy dnet(&messenger(), &PeerMessenger::DNetConnectionRequested);
    QSignalSpy file(&messenger(), &PeerMessenger::FileConnectionRequested);

    ScriptedPeer bob;
    S().Receive(BrokeredRequest("bob", "D", bob.Port(), 5));
    QTRY_COMPARE(dnet.count(), 1);
    QCOMPARE(dnet.at(0).at(0).value<std::string>(), std::string("bob"));
    QVERIFY(bob.WaitForBytes(0, 9));
    QCOMPARE(bob.Take(0), PeerFrame(IndirectResponseBody(5)));
    delete dnet.at(0).at(1).value<QTcpSocket*>();

    // A file connection is handed over only with the token the peer sends.
    // The request is put in the store as the server connection does, so the
    // socket answering it can be watched from its start.
    ScriptedPeer carol;
    QVERIFY(P().ReceiveAddress("carol", carol.Port()));
    ItemPtr request = d.GetType(PeerConnectionRequest)->NewItem();
    request.Connect(d.GetType(PeerConnectionRequestId)->GetItem(6));
    request.Connect(d.GetType(PeerConnectionType)->GetItem("F"));
    request.Connect(UserItem("carol"));
    QTcpSocket* ours = SocketOf(ItemsOf(PeerConnectionRequestSocket).first());
    QVERIFY(ours);
    QSignalSpy arrived(ours, &QTcpSocket::readyRead);
    QVERIFY(carol.WaitForBytes(0, 9));
    QCOMPARE(carol.Take(0), PeerFrame(IndirectResponseBody(6)));
    carol.Connection(0)->write(QByteArray::fromHex("0102"));
    QTRY_VERIFY(arrived.count() > 0);
    QCOMPARE(file.count(), 0);
    carol.Connection(0)->write(QByteArray::fromHex("0304"));
    QTRY_COMPARE(file.count(), 1);
    QCOMPARE(file.at(0).at(0).value<std::string>(), std::string("carol"));
    QCOMPARE(file.at(0).at(2).toUInt(), 0x04030201u);
    auto* socket = file.at(0).at(1).value<QTcpSocket*>();
    QCOMPARE(socket, ours);
    QVERIFY(!IsRecorded(socket));
    QVERIFY(PeerSocketsOf("carol").empty());
    delete socket;
}

QTEST_GUILESS_MAIN(PeerConnectionTest)
#include "PeerConnectionTest.moc"
