#include <QSignalSpy>
#include <QtTest>

#include "ServerTestSupport.h"
#include "server/LoginFailure.h"
#include "server/ServerAddress.h"
#include "server/ServerTypes.h"

using namespace ServerTypes;

namespace {

// Sends the bytes as one read of their own on the client's side.
bool SendAsOneRead(ServerSession& session, const QByteArray& bytes)
{
    return session.scripted.SendInChunks(bytes, static_cast<int>(bytes.size()),
                                         session.ClientSocket());
}

ItemPtr Flag(const char* flagType, const char* user)
{
    ItemPtr item = d.GetType(User)->HasItem(user);
    return item ? item[flagType] : ItemPtr();
}

} // namespace

class ServerConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_session = std::make_unique<ServerSession>();
    }
    void cleanup() { m_session.reset(); }

    void OnlyTheExactLoginIsSentUntilWelcomed();
    void RefusedLoginAndFailedConnectionAreNotRetried();
    void FramesSplitAtEveryByteAreHandledInOrder();
    void BodiesAboveSixteenMebibytesClose();
    void OnlyALostConnectionIsRetried();
    void AfterLoginStepsRunInOrderAndAutojoinOnce();
    void PortMappingFollowsTheUpnpSetting();
    void ServerAddressComesFromTheEnvironment();
    void LoginFailureTextsFollowTheReason();
    void HostileServerNeverBringsTheClientDown();

private:
    ServerSession& S() { return *m_session; }
    Server& server() { return *m_session->server; }

    std::unique_ptr<ServerSession> m_session;
};

void ServerConnectionTest::OnlyTheExactLoginIsSentUntilWelcomed()
{
    QSignalSpy connecting(&server(), &Server::Connecting);
    QSignalSpy connected(&server(), &Server::Connected);
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    QVERIFY(S().ConnectAs("alice", "secret"));
    QCOMPARE(S().scripted.Received(), LoginFrame("alice", "secret"));
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(server().GetState(), Server::StateConnecting);
    QVERIFY(!server().IsConnected());

    server().GetUserStats("bob");
    server().SendRoomChat("room", "early");
    server().GetRoomList();
    server().SetWaitPort(1, 2);
    server().SendPrivateChat("bob", "early");
    QVERIFY(S().AcceptLogin());
    QCOMPARE(S().TakeSent(), LoginFrame("alice", "secret"));
    QCOMPARE(server().GetState(), Server::StateLoggedIn);

    // A late refusal or a second welcome changes nothing.
    QVERIFY(S().Handled(Body(1).Byte(0).String("INVALIDPASS"),
                        Body(1).Byte(1).String("again").UInt32(0).String("")));
    QVERIFY(server().IsConnected());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(failed.count(), 0);
}

void ServerConnectionTest::RefusedLoginAndFailedConnectionAreNotRetried()
{
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    // Without a password the default one is stored and sent.
    Settings::Set("username", "bob");
    QVERIFY(S().Reconnect(1));
    QCOMPARE(S().scripted.Received(), LoginFrame("bob", "DefaultLoginSecret"));
    QCOMPARE(Settings::Get("password"), std::string("DefaultLoginSecret"));

    S().Receive(Body(1).Byte(0).String("INVALIDPASS"));
    QVERIFY(failed.wait());
    QCOMPARE(failed.at(0).at(0).value<std::string>(), std::string("INVALIDPASS"));
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QVERIFY(S().scripted.WaitForClientClosed());
    QCOMPARE(disconnected.count(), 0);
    QVERIFY(!server().IsAbruptlyDisconnected());
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);

    // A connection that cannot be made is reported once, with a disconnect.
    S().scripted.StopListening();
    server().Connect();
    QCOMPARE(server().GetState(), Server::StateConnecting);
    QTRY_COMPARE(server().GetState(), Server::StateDisconnected);
    QCOMPARE(failed.count(), 2);
    QCOMPARE(failed.at(1).at(0).value<std::string>(), std::string("socket error"));
    QCOMPARE(disconnected.count(), 1);
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);
}

void ServerConnectionTest::FramesSplitAtEveryByteAreHandledInOrder()
{
    QVERIFY(S().LogIn());
    QSignalSpy waits(&server(), &Server::WishListWait);
    // Every byte a read of its own splits the frame at every place at once.
    const QByteArray frame = ScriptedServer::Frame(Body(104).UInt32(720));
    QVERIFY(S().scripted.SendInChunks(frame, 1, S().ClientSocket()));
    QTRY_COMPARE(waits.count(), 1);
    QCOMPARE(waits.takeFirst().at(0).toUInt(), 720u);
    QVERIFY(SendAsOneRead(S(), ScriptedServer::Frame(Body(104).UInt32(1)) +
                                   ScriptedServer::Frame(QByteArray()) +
                                   ScriptedServer::Frame(Body(104).UInt32(2)) +
                                   ScriptedServer::Frame(Body(104).UInt32(3))));
    QTRY_COMPARE(waits.count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(waits.at(i).at(0).toUInt(), unsigned(i + 1));
}

void ServerConnectionTest::BodiesAboveSixteenMebibytesClose()
{
    // One byte over the bound closes; the bound itself is the hostile test's.
    QVERIFY(S().LogIn());
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    S().scripted.Send(ByteBuilder().UInt32(16 * 1024 * 1024 + 1).Raw("abc"));
    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QVERIFY(server().IsAbruptlyDisconnected());
    QVERIFY(S().scripted.WaitForClientClosed());
    S().scripted.TakeReceived();
    QVERIFY(S().Reconnect(2));
    QVERIFY(S().AcceptLogin());
    QVERIFY(S().Sync());
}

void ServerConnectionTest::OnlyALostConnectionIsRetried()
{
    QVERIFY(S().LogIn());
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    server().Disconnect();
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(S().scripted.WaitForClientClosed());
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);

    // Connecting again by hand works, and a later loss counts as a loss.
    S().scripted.TakeReceived();
    QVERIFY(S().Reconnect(2));
    QVERIFY(S().AcceptLogin());
    QVERIFY(S().Handled(Body(7).String("bob").Int32(2).Byte(0)));
    QVERIFY(Flag(IsOnline, "bob"));
    S().scripted.CloseClient();
    QTRY_COMPARE(disconnected.count(), 2);
    QVERIFY(server().IsAbruptlyDisconnected());
    QVERIFY(!Flag(IsOnline, "bob"));
    QCOMPARE(failed.count(), 0);

    // The server is gone: the attempt fails and the next tick tries again.
    S().scripted.StopListening();
    server().AttemptReconnect();
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY(server().IsAbruptlyDisconnected());
    ScriptedServer replacement;
    replacement.PointClientHere();
    server().AttemptReconnect();
    QVERIFY(replacement.WaitForClient());
    QVERIFY(replacement.WaitFor(LoginFrame("alice", "secret")));
    QVERIFY(!server().IsAbruptlyDisconnected());
}

void ServerConnectionTest::AfterLoginStepsRunInOrderAndAutojoinOnce()
{
    Type* room = d.GetType(Room);
    ItemPtr(room->GetItem("beta")).NewItem(RoomAutojoin);
    ItemPtr(room->GetItem("alpha")).NewItem(RoomAutojoin);
    room->GetItem("gamma");
    server().TrackUser("carol");
    server().TrackUser("bob");
    server().GetUserAddress("dave");

    QVERIFY(S().ConnectAs());
    QVERIFY(S().AcceptLogin());
    const QByteArray repeated =
        Sent(Body(5).String("bob")) + Sent(Body(5).String("carol")) + Sent(Body(3).String("dave"));
    QCOMPARE(S().TakeSent(), LoginFrame("alice", "secret") + Sent(Body(14).String("alpha")) +
                                 Sent(Body(14).String("beta")) + repeated);

    S().scripted.CloseClient();
    QTRY_VERIFY(server().IsAbruptlyDisconnected());
    QVERIFY(S().Reconnect(2));
    QVERIFY(S().AcceptLogin());
    QCOMPARE(S().TakeSent(), LoginFrame("alice", "secret") + repeated);
    // Of these only the autojoin rooms outlive the run.
    m_session.reset();
    QVERIFY(dataSaver->Save(QFile::encodeName(QDir::home().filePath(".Quorvale")).constData()));
    d.RemoveAllItems();
    dataSaver->Load(QFile::encodeName(QDir::home().filePath(".Quorvale")).constData());
    QVERIFY(d.GetType(Room)->HasItem("alpha") && !d.GetType(Room)->HasItem("gamma"));
    QVERIFY(!d.GetType(User)->HasItem("bob"));
}

void ServerConnectionTest::PortMappingFollowsTheUpnpSetting()
{
    // The setting defaults to yes at load; a user's "no" survives the next.
    server().DataLoaded();
    QVERIFY(Settings::IsYes("use_upnp"));
    Settings::SetYes("use_upnp", false);
    server().DataLoaded();
    QVERIFY(!Settings::IsYes("use_upnp"));

    LogCapture log;
    Settings::SetYes("use_upnp", true);
    Settings::Set("listening_port", 2235);
    Settings::Set("obfuscated_listening_port", 0);
    server().RenewPortMapping();
    QVERIFY(log.lines.isEmpty());
    // The server is on this machine: said once, no discovery.
    const QString skipped =
        "Port Forwarding|Server 127.0.0.1 is on this machine, not forwarding ports.";
    QVERIFY(S().LogIn());
    QCOMPARE(log.lines, QStringList{skipped});
    log.lines.clear();
    Settings::Set("obfuscated_listening_port", 8973);
    server().RenewPortMapping();
    QCOMPARE(log.lines, QStringList{"server|Renewing UPnP port mapping."});

    // Turned off, a new session's login leaves the gateway alone.
    Settings::SetYes("use_upnp", false);
    m_session = std::make_unique<ServerSession>();
    log.lines.clear();
    QVERIFY(S().LogIn());
    QVERIFY(log.lines.filter("Port Forwarding|").isEmpty());
}

void ServerConnectionTest::ServerAddressComesFromTheEnvironment()
{
    ServerAddress parsed;
    QVERIFY(ServerAddress::Parse("host:65535", parsed));
    QVERIFY(ServerAddress::Parse("[::1]:9", parsed));
    QCOMPARE(parsed.Host(), QString("::1"));
    QCOMPARE(parsed.Port(), quint16(9));
    for (const char* bad : {"host", ":2242", "host:", "host:0", "host:65536", "host:x1"})
        QVERIFY2(!ServerAddress::Parse(bad, parsed), bad);

    // A valid address is what every scripted server points the client at.
    for (const char* fallback : {"", "no-port"}) {
        qputenv("QUORVALE_SERVER", fallback);
        QCOMPARE(ServerAddress::Current().Host(), QString(QUORVALE_SERVER_HOST));
        QCOMPARE(ServerAddress::Current().Port(), quint16(QUORVALE_SERVER_PORT));
    }
}

void ServerConnectionTest::LoginFailureTextsFollowTheReason()
{
    QCOMPARE(LoginFailure("INVALIDUSERNAME").Title(),
             QString("Login Failure: Username is Invalid"));
    QCOMPARE(LoginFailure("BANNED").Text(),
             QString("Login failed. Reported failure reason: BANNED. Please change "
                     "your login settings in the Options tab and try reconnecting."));
}

// Short nonsense under every code is the server-message fuzz target's work.
void ServerConnectionTest::HostileServerNeverBringsTheClientDown()
{
    QVERIFY(S().LogIn());
    // Impossible counts and lengths in frames of the largest accepted size.
    const int largest = 16 * 1024 * 1024;
    for (std::uint32_t code : {14u, 64u, 69u, 102u})
        for (char fill : {'\xff', '\x01'}) {
            S().Receive(Body(code).Raw(QByteArray(largest - 4, fill)));
            QVERIFY2(S().Sync(), qPrintable(QString("code %1").arg(code)));
        }

    QVERIFY(server().IsConnected());
    // Hung up after a length and part of its body: the connection is lost.
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    QVERIFY(SendAsOneRead(S(), ByteBuilder().UInt32(100).Raw("half a frame")));
    S().scripted.CloseClient();
    QTRY_COMPARE(disconnected.count(), 1);
    QVERIFY(server().IsAbruptlyDisconnected());
}

QTEST_GUILESS_MAIN(ServerConnectionTest)
#include "ServerConnectionTest.moc"
