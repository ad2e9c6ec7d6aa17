#include <QCryptographicHash>
#include <QSignalSpy>
#include <QtTest>

#include "ServerTestSupport.h"
#include "app/Log.h"
#include "app/LogSink.h"
#include "server/LoginFailure.h"
#include "server/ServerAddress.h"
#include "server/ServerTypes.h"

namespace {

class LogCapture : public LogSink
{
public:
    LogCapture() { SetLogSink(this); }
    ~LogCapture() override { SetLogSink(nullptr); }
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        lines << category + "|" + line.section("] ", 1);
    }
    QStringList lines;
};

QByteArray LoginFrame(const QByteArray& user, const QByteArray& password)
{
    const QByteArray digest =
        QCryptographicHash::hash(user + password, QCryptographicHash::Md5).toHex();
    return Sent(Body(1).String(user).String(password).UInt32(157).String(digest).UInt32(100));
}

// Sends the bytes as one read of their own on the client's side.
bool SendAsOneRead(ServerSession& session, const QByteArray& bytes)
{
    return session.scripted.SendInChunks(bytes, static_cast<int>(bytes.size()),
                                         session.ClientSocket());
}

ItemPtr Flag(const char* flagType, const char* user)
{
    ItemPtr item = d.GetType(ServerTypes::User)->HasItem(user);
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

    void LoginFrameIsExact();
    void MissingPasswordIsCreatedWithTheDefault();
    void LoginAnswerIsAcceptedOnlyWhileConnecting();
    void RefusedLoginIsReportedAndNotRetried();
    void FailedConnectionIsReportedOnceAndNotRetried();
    void NothingButTheLoginIsSentWhileConnecting();
    void FramesSplitAtEveryByteAreReassembled();
    void ThreeFramesInOneReadAreHandledInOrder();
    void BodyLargerThanTheBufferIsReassembled();
    void FrameAboveSixteenMebibytesClosesTheConnection();
    void LostConnectionIsRetriedAtEveryTick();
    void UserDisconnectIsNotRetried();
    void ClearedUsernameStopsReconnecting();
    void AfterLoginStepsRunInOrderAndAutojoinOnce();
    void UseUpnpDefaultsToYesAtLoad();
    void PortMappingRenewalNeedsLoginAndUpnp();
    void ServerAddressComesFromTheEnvironment();
    void LoginFailureTextsFollowTheReason();

private:
    ServerSession& S() { return *m_session; }
    Server& server() { return *m_session->server; }

    std::unique_ptr<ServerSession> m_session;
};

void ServerConnectionTest::LoginFrameIsExact()
{
    QSignalSpy connecting(&server(), &Server::Connecting);
    QVERIFY(S().ConnectAs("alice", "secret"));
    QCOMPARE(S().scripted.Received(), LoginFrame("alice", "secret"));
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(server().GetState(), Server::StateConnecting);
    QVERIFY(!server().IsConnected());
}

void ServerConnectionTest::MissingPasswordIsCreatedWithTheDefault()
{
    Settings::Set("username", "bob");
    QVERIFY(S().Reconnect(1));
    QCOMPARE(S().scripted.Received(), LoginFrame("bob", "DefaultLoginSecret"));
    QCOMPARE(Settings::Get("password"), std::string("DefaultLoginSecret"));
    QCOMPARE(Settings::Get("username"), std::string("bob"));
}

void ServerConnectionTest::LoginAnswerIsAcceptedOnlyWhileConnecting()
{
    QSignalSpy connected(&server(), &Server::Connected);
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    QVERIFY(S().ConnectAs());
    QVERIFY(S().AcceptLogin());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(server().GetState(), Server::StateLoggedIn);

    // A late refusal or a second welcome changes nothing.
    S().Receive(Body(1).Byte(0).String("INVALIDPASS"));
    S().Receive(Body(1).Byte(1).String("again").UInt32(0).String(""));
    QVERIFY(S().Sync());
    QVERIFY(server().IsConnected());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(failed.count(), 0);
}

void ServerConnectionTest::RefusedLoginIsReportedAndNotRetried()
{
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    QVERIFY(S().ConnectAs());
    S().Receive(Body(1).Byte(0).String("INVALIDPASS"));
    QVERIFY(failed.wait());
    QCOMPARE(failed.at(0).at(0).value<std::string>(), std::string("INVALIDPASS"));
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QVERIFY(S().scripted.WaitForClientClosed());
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(failed.count(), 1);

    QVERIFY(!server().IsAbruptlyDisconnected());
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);
}

void ServerConnectionTest::FailedConnectionIsReportedOnceAndNotRetried()
{
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    S().scripted.StopListening();
    Settings::Set("username", "alice");
    server().Connect();
    QCOMPARE(server().GetState(), Server::StateConnecting);
    QTRY_COMPARE(server().GetState(), Server::StateDisconnected);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).value<std::string>(), std::string("socket error"));
    QCOMPARE(disconnected.count(), 1);

    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);
}

void ServerConnectionTest::NothingButTheLoginIsSentWhileConnecting()
{
    QVERIFY(S().ConnectAs());
    server().GetUserStats("bob");
    server().SendRoomChat("room", "early");
    server().GetRoomList();
    server().SetWaitPort(1, 2);
    server().SendPrivateChat("bob", "early");
    QVERIFY(S().AcceptLogin());
    QCOMPARE(S().TakeSent(), LoginFrame("alice", "secret"));
}

void ServerConnectionTest::FramesSplitAtEveryByteAreReassembled()
{
    QVERIFY(S().LogIn());
    QSignalSpy waits(&server(), &Server::WishListWait);
    const QByteArray frame = ScriptedServer::Frame(Body(104).UInt32(720));
    for (int split = 1; split < frame.size(); ++split) {
        QVERIFY(SendAsOneRead(S(), frame.left(split)));
        QVERIFY(SendAsOneRead(S(), frame.mid(split)));
        QTRY_COMPARE(waits.count(), split);
    }
    QVERIFY(S().scripted.SendInChunks(frame, 1, S().ClientSocket()));
    QTRY_COMPARE(waits.count(), int(frame.size()));
    for (const QList<QVariant>& args : waits)
        QCOMPARE(args.at(0).toUInt(), 720u);
}

void ServerConnectionTest::ThreeFramesInOneReadAreHandledInOrder()
{
    QVERIFY(S().LogIn());
    QSignalSpy waits(&server(), &Server::WishListWait);
    QVERIFY(SendAsOneRead(S(), ScriptedServer::Frame(Body(104).UInt32(1)) +
                                   ScriptedServer::Frame(Body(104).UInt32(2)) +
                                   ScriptedServer::Frame(Body(104).UInt32(3))));
    QTRY_COMPARE(waits.count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(waits.at(i).at(0).toUInt(), unsigned(i + 1));
}

void ServerConnectionTest::BodyLargerThanTheBufferIsReassembled()
{
    QVERIFY(S().LogIn());
    const int users = 4000;
    ByteBuilder body = Body(69).UInt32(users);
    for (int i = 0; i < users; ++i)
        body.String(QByteArray("privileged-user-") + QByteArray::number(i));
    S().Receive(body);
    QVERIFY(S().Sync());
    ItemPtr flag = Flag(ServerTypes::IsPrivileged, "privileged-user-0");
    QVERIFY(flag);
    QCOMPARE(flag.GetItems(ServerTypes::User).size(), std::size_t(users));
}

void ServerConnectionTest::FrameAboveSixteenMebibytesClosesTheConnection()
{
    QVERIFY(S().LogIn());
    // A body of exactly the bound is still awaited.
    QVERIFY(SendAsOneRead(S(), ByteBuilder().UInt32(16 * 1024 * 1024).Raw("abc")));
    QVERIFY(server().IsConnected());

    m_session = std::make_unique<ServerSession>();
    QVERIFY(S().LogIn());
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    S().scripted.Send(ByteBuilder().UInt32(16 * 1024 * 1024 + 1).Raw("abc"));
    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QVERIFY(server().IsAbruptlyDisconnected());
    QVERIFY(S().scripted.WaitForClientClosed());
}

void ServerConnectionTest::LostConnectionIsRetriedAtEveryTick()
{
    QVERIFY(S().LogIn());
    S().Receive(Body(7).String("bob").Int32(2).Byte(0));
    QVERIFY(S().Sync());
    QVERIFY(Flag(ServerTypes::IsOnline, "bob"));

    QSignalSpy disconnected(&server(), &Server::Disconnected);
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    S().scripted.CloseClient();
    QTRY_COMPARE(disconnected.count(), 1);
    QVERIFY(server().IsAbruptlyDisconnected());
    QVERIFY(!Flag(ServerTypes::IsOnline, "bob"));
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

void ServerConnectionTest::UserDisconnectIsNotRetried()
{
    QVERIFY(S().LogIn());
    QSignalSpy disconnected(&server(), &Server::Disconnected);
    QSignalSpy failed(&server(), &Server::ConnectionFailed);
    server().Disconnect();
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QVERIFY(S().scripted.WaitForClientClosed());
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(disconnected.count(), 1);

    // Connecting again by hand works, and a later loss counts as a loss.
    S().scripted.TakeReceived();
    QVERIFY(S().Reconnect(2));
    QVERIFY(S().AcceptLogin());
    S().scripted.CloseClient();
    QTRY_COMPARE(disconnected.count(), 2);
    QVERIFY(server().IsAbruptlyDisconnected());
}

void ServerConnectionTest::ClearedUsernameStopsReconnecting()
{
    QVERIFY(S().LogIn());
    S().scripted.CloseClient();
    QTRY_VERIFY(server().IsAbruptlyDisconnected());
    Settings::Set("username", "");
    server().AttemptReconnect();
    QCOMPARE(server().GetState(), Server::StateDisconnected);
    QCOMPARE(S().scripted.AcceptedCount(), 1);
}

void ServerConnectionTest::AfterLoginStepsRunInOrderAndAutojoinOnce()
{
    Type* room = d.GetType(ServerTypes::Room);
    ItemPtr(room->GetItem("beta")).NewItem(ServerTypes::RoomAutojoin);
    ItemPtr(room->GetItem("alpha")).NewItem(ServerTypes::RoomAutojoin);
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
}

void ServerConnectionTest::UseUpnpDefaultsToYesAtLoad()
{
    server().DataLoaded();
    QVERIFY(Settings::IsYes("use_upnp"));

    // A user's "no" is a key without a value and survives the next load.
    Settings::SetYes("use_upnp", false);
    server().DataLoaded();
    QVERIFY(!Settings::IsYes("use_upnp"));
}

void ServerConnectionTest::PortMappingRenewalNeedsLoginAndUpnp()
{
    LogCapture log;
    Settings::SetYes("use_upnp", true);
    server().RenewPortMapping();
    QVERIFY(log.lines.isEmpty());

    QVERIFY(S().LogIn());
    server().RenewPortMapping();
    QCOMPARE(log.lines, QStringList{"server|Renewing UPnP port mapping."});

    Settings::SetYes("use_upnp", false);
    server().RenewPortMapping();
    QCOMPARE(log.lines.size(), 1);
}

void ServerConnectionTest::ServerAddressComesFromTheEnvironment()
{
    ServerAddress parsed;
    QVERIFY(ServerAddress::Parse("127.0.0.1:2242", parsed));
    QCOMPARE(parsed.Host(), QString("127.0.0.1"));
    QCOMPARE(parsed.Port(), quint16(2242));
    QVERIFY(ServerAddress::Parse("[::1]:9", parsed));
    QCOMPARE(parsed.Host(), QString("::1"));
    for (const char* bad : {"host", ":2242", "host:", "host:0", "host:65536", "host:x1"})
        QVERIFY2(!ServerAddress::Parse(bad, parsed), bad);

    qputenv("QUORVALE_SERVER", "lab.example:4000");
    QCOMPARE(ServerAddress::Current().Host(), QString("lab.example"));
    QCOMPARE(ServerAddress::Current().Port(), quint16(4000));
    for (const char* fallback : {"", "no-port"}) {
        qputenv("QUORVALE_SERVER", fallback);
        QCOMPARE(ServerAddress::Current().Host(), QString(QUORVALE_SERVER_HOST));
        QCOMPARE(ServerAddress::Current().Port(), quint16(QUORVALE_SERVER_PORT));
    }
}

void ServerConnectionTest::LoginFailureTextsFollowTheReason()
{
    const LoginFailure wrongPassword("INVALIDPASS");
    QCOMPARE(wrongPassword.Title(), QString("Login Failure: Wrong Password"));
    QVERIFY(wrongPassword.Text().startsWith("Login failed. The password you supplied"));
    const LoginFailure badName("INVALIDUSERNAME");
    QCOMPARE(badName.Title(), QString("Login Failure: Username is Invalid"));
    QVERIFY(badName.Text().startsWith("Login failed. The username you supplied is invalid."));
    const LoginFailure other("BANNED");
    QCOMPARE(other.Title(), QString("Login Failure"));
    QCOMPARE(other.Text(), QString("Login failed. Reported failure reason: BANNED. Please change "
                                   "your login settings in the Options tab and try reconnecting."));
}

QTEST_GUILESS_MAIN(ServerConnectionTest)
#include "ServerConnectionTest.moc"
