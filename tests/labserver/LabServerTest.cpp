#include <memory>
#include <vector>

#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

constexpr std::uint32_t Loopback = 0x7f000001;

// Average speed, the 64-bit count, files, folders.
ByteBuilder& Stats(ByteBuilder& bytes, std::int32_t speed = 0, std::uint32_t count = 0,
                   std::int32_t files = 0, std::int32_t folders = 0)
{
    return bytes.Int32(speed).UInt32(count).UInt32(0).Int32(files).Int32(folders);
}

QByteArray Status(const QByteArray& user, std::int32_t status, std::uint8_t privileged = 0)
{
    return Body(7).String(user).Int32(status).Byte(privileged);
}

QByteArray Joined(const QByteArray& user)
{
    ByteBuilder bytes = Body(16).String("lobby").String(user).Int32(2);
    return Stats(bytes).Int32(0).String("XX");
}

QByteArray Left(const QByteArray& user)
{
    return Body(17).String("lobby").String(user);
}

// A possible-parents list of one: the user, the address, the plain port.
QByteArray Proposal(const QByteArray& user, std::int32_t port)
{
    return Body(102).UInt32(1).String(user).UInt32(Loopback).Int32(port);
}

// Both enter the lobby, `first` first, which hears of `second` by name.
void EnterLobby(LabTestClient& first, LabTestClient& second, const QByteArray& name)
{
    for (LabTestClient* client : {&first, &second}) {
        client->Send(Body(14).String("lobby"));
        QCOMPARE(CodeOf(client->Next()), 14u);
    }
    QCOMPARE(first.Next(), Joined(name));
}

} // namespace

class LabServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void FirstLoginCreatesTheAccountAndLaterLoginsCheckIt();
    void RoomsPushMembersChatAndStatistics();
    void PrivateMessagesWaitForTheirRecipientsAcknowledgement();
    void WatchersHearOfEverySessionStartAndEnd();
    void ConnectionRequestsAreBrokered();
    void BrokenFramesCloseOnlyTheirClient();
    void TreeReportsAreReadAndOtherwiseIgnored();
    void TreeModeProposesParentsAndSearchesOnlyRoots();

private:
    LabTestClient& Client(const QByteArray& user, quint16 port = 0);

    std::unique_ptr<LabServerProcess> m_server;
    std::vector<std::unique_ptr<LabTestClient>> m_clients;
};

void LabServerTest::init()
{
    m_server = std::make_unique<LabServerProcess>();
    QVERIFY(m_server->Start({"--privileged", "carol", "--away", "dave"}));
}

void LabServerTest::cleanup()
{
    m_clients.clear();
    QVERIFY(m_server->Stop());
}

LabTestClient& LabServerTest::Client(const QByteArray& user, quint16 port)
{
    auto& client = m_clients.emplace_back(std::make_unique<LabTestClient>());
    if (!client->Connect(port ? port : m_server->Port()) ||
        (!user.isEmpty() && !client->LogIn(user)))
        qWarning("connection of %s failed", user.constData());
    return *client;
}

void LabServerTest::FirstLoginCreatesTheAccountAndLaterLoginsCheckIt()
{
    // Requests before the login are dropped: the first answer is the login's.
    LabTestClient& first = Client("");
    first.Send(Body(92));
    first.Send(Body(14).String("lobby"));
    first.Send(LoginBody("alice", "secret"));
    QCOMPARE(CodeOf(first.Next()), 1u);
    QCOMPARE(first.Next(), Body(104).UInt32(720).Data());
    QCOMPARE(first.Next(), Body(83).Int32(1).Data());
    QCOMPARE(first.Next(), Body(84).Int32(50).Data());
    QCOMPARE(first.Next(), Body(69).UInt32(1).String("carol").Data());
    // Unknown codes are skipped without harm to the connection.
    first.Send(Body(4242).UInt32(1));
    first.Send(Body(92));
    QCOMPARE(first.Next(), Body(92).Int32(0).Data());
    first.Disconnect();
    QVERIFY(first.WaitUntilClosed());

    LabTestClient& wrong = Client("");
    wrong.Send(LoginBody("alice", "guessed"));
    QCOMPARE(wrong.Next(), Body(1).Byte(0).String("INVALIDPASS").Data());
    QVERIFY(wrong.WaitUntilClosed());
    QVERIFY(Client("").LogIn("alice", "secret"));

    for (const QByteArray& name : {QByteArray(), QByteArray(31, 'n')}) {
        LabTestClient& invalid = Client("");
        invalid.Send(LoginBody(name, "secret"));
        QCOMPARE(invalid.Next(), Body(1).Byte(0).String("INVALIDUSERNAME").Data());
        QVERIFY(invalid.WaitUntilClosed());
    }
    QVERIFY(Client("").LogIn(QByteArray(30, 'n')));
}

void LabServerTest::RoomsPushMembersChatAndStatistics()
{
    LabTestClient& alice = Client("alice");
    LabTestClient& bob = Client("bob");
    alice.Send(Body(35).UInt32(3).UInt32(40));
    alice.Send(Body(121).UInt32(100));
    alice.Send(Body(121).UInt32(301));
    alice.Send(Body(14).String("lobby"));
    ByteBuilder alone = Body(14).String("lobby").UInt32(1).String("alice").UInt32(1).Int32(2);
    Stats(alone.UInt32(1), 200, 2, 40, 3).UInt32(1).Int32(0).UInt32(1).String("XX");
    QCOMPARE(alice.Next(), alone.Data());
    bob.Send(Body(14).String("lobby"));
    QCOMPARE(CodeOf(bob.Next()), 14u);
    QCOMPARE(alice.Next(), Joined("bob"));
    bob.Send(Body(13).String("lobby").String("hello"));
    QCOMPARE(alice.Next(), Body(13).String("lobby").String("bob").String("hello").Data());
    alice.Send(Body(64));
    QVERIFY(alice.Next().startsWith(Body(64).UInt32(1).String("lobby").UInt32(1).UInt32(2).Data()));

    // Someone outside the room can neither talk into it nor leave it.
    LabTestClient& dave = Client("dave");
    dave.Send(Body(13).String("lobby").String("intruder"));
    dave.Send(Body(15).String("lobby"));
    QVERIFY(dave.NothingElsePending());
    QVERIFY(alice.NothingElsePending());
    bob.Send(Body(15).String("lobby"));
    QCOMPARE(alice.Next(), Left("bob"));
    for (std::uint32_t code : {13u, 15u})
        QCOMPARE(CodeOf(bob.Next()), code);
}

void LabServerTest::PrivateMessagesWaitForTheirRecipientsAcknowledgement()
{
    LabTestClient& alice = Client("alice");
    alice.Send(Body(22).String("bob").String("hi"));
    alice.Send(Body(22).String("dave").String("hi dave"));
    QVERIFY(alice.NothingElsePending());
    // Delivered at login as not new; only its recipient can acknowledge it.
    LabTestClient& bob = Client("bob");
    const QByteArray hi = bob.Next();
    QCOMPARE(CodeOf(hi), 22u);
    QCOMPARE(hi.mid(12), ByteBuilder().String("alice").String("hi").Byte(0).Data());
    bob.Send(Body(23).UInt32(UInt32At(hi, 4)));
    bob.Send(Body(23).UInt32(UInt32At(hi, 4) + 1));
    bob.Disconnect();
    QVERIFY(Client("bob").NothingElsePending());
    QCOMPARE(CodeOf(Client("dave").Next()), 22u);
}

void LabServerTest::WatchersHearOfEverySessionStartAndEnd()
{
    LabTestClient& alice = Client("alice");
    alice.Send(Body(5).String("bob"));
    QCOMPARE(alice.Next(), Body(5).String("bob").Byte(0).Data());
    LabTestClient& bob = Client("bob");
    QCOMPARE(alice.Next(), Status("bob", 2));
    // Away is a status of its own, and an away user still has a country.
    Client("dave");
    alice.Send(Body(5).String("dave"));
    ByteBuilder away = Body(5).String("dave").Byte(1).Int32(1);
    QCOMPARE(alice.Next(), Stats(away).String("XX").Data());
    alice.Send(Body(7).String("dave"));
    QCOMPARE(alice.Next(), Status("dave", 1));
    Client("carol");
    alice.Send(Body(7).String("carol"));
    QCOMPARE(alice.Next(), Status("carol", 2, 1));
    // A second login replaces the first session: it goes, the new one comes.
    Client("bob");
    QVERIFY(bob.WaitUntilClosed());
    QCOMPARE(alice.Next(), Status("bob", 0));
    QCOMPARE(alice.Next(), Status("bob", 2));
    // Untracked, bob comes and goes unheard.
    alice.Send(Body(6).String("bob"));
    QVERIFY(alice.NothingElsePending());
    Client("bob");
    QVERIFY(alice.NothingElsePending());
}

void LabServerTest::ConnectionRequestsAreBrokered()
{
    LabTestClient& alice = Client("alice");
    LabTestClient& bob = Client("bob");
    alice.Send(Body(2).UInt32(2235).UInt32(1).UInt32(8973));
    // The barrier proves the server has taken the port before the request.
    QVERIFY(alice.NothingElsePending());

    bob.Send(Body(3).String("alice"));
    QCOMPARE(bob.Next(),
             Body(3).String("alice").UInt32(Loopback).Int32(2235).Int32(1).Int32(8973).Data());
    alice.Send(Body(3).String("nobody"));
    QCOMPARE(alice.Next(), Body(3).String("nobody").UInt32(0).Int32(0).Int32(0).Int32(0).Data());

    alice.Send(Body(18).UInt32(9).String("bob").String("F"));
    QCOMPARE(CodeOf(bob.Next()), 18u);
    bob.Send(Body(1001).UInt32(9).String("alice"));
    QCOMPARE(alice.Next(), Body(1001).UInt32(9).Data());
    // Nobody to broker with: the asker hears so at once.
    alice.Send(Body(18).UInt32(11).String("nobody").String("P"));
    QCOMPARE(alice.Next(), Body(1001).UInt32(11).Data());
}

void LabServerTest::BrokenFramesCloseOnlyTheirClient()
{
    LabTestClient& bob = Client("bob");
    LabTestClient& alice = Client("alice");
    EnterLobby(bob, alice, "alice");

    // No code, a cut login, lengths above 16 MiB: each closes its own.
    LabTestClient& noCode = Client("");
    noCode.SendRaw(ByteBuilder().UInt32(2).Byte(1).Byte(0));
    LabTestClient& truncated = Client("");
    truncated.Send(Body(1).String("mallory").UInt32(50));
    LabTestClient& oversized = Client("");
    oversized.SendRaw(ByteBuilder().UInt32(16 * 1024 * 1024 + 1).UInt32(1));
    LabTestClient& largest = Client("dave");
    largest.SendRaw(ByteBuilder().UInt32(0xffffffff).UInt32(13));
    for (LabTestClient* client : {&noCode, &truncated, &oversized, &largest})
        QVERIFY(client->WaitUntilClosed());

    alice.Send(Body(13).UInt32(1000).Raw("lob"));
    QVERIFY(alice.WaitUntilClosed());
    QCOMPARE(bob.Next(), Left("alice"));
    QVERIFY(bob.NothingElsePending());
}

void LabServerTest::TreeReportsAreReadAndOtherwiseIgnored()
{
    // Read whole and answered with nothing; one byte short, it closes.
    LabTestClient& alice = Client("alice");
    alice.Send(Body(127).String("root"));
    QVERIFY(alice.NothingElsePending());
    alice.Send(Body(127).String("root").Data().chopped(1));
    QVERIFY(alice.WaitUntilClosed());
}

void LabServerTest::TreeModeProposesParentsAndSearchesOnlyRoots()
{
    LabServerProcess tree;
    QVERIFY(tree.Start({"--tree"}));
    const auto listen = [](LabTestClient& client, std::uint32_t port) {
        client.Send(Body(2).UInt32(port).UInt32(1).UInt32(0));
        return client.NothingElsePending();
    };
    // The root gets no proposal; a parent is proposed once it listens.
    LabTestClient& a = Client("a", tree.Port());
    LabTestClient& b = Client("b", tree.Port());
    QVERIFY(b.NothingElsePending());
    QVERIFY(listen(a, 2001));
    QCOMPARE(b.Next(), Proposal("a", 2001));
    QVERIFY(listen(b, 2002));
    // Searches go to roots only.
    b.Send(Body(71).Byte(1));
    QVERIFY(b.NothingElsePending());
    a.Send(Body(26).UInt32(7).String("jazz"));
    QCOMPARE(CodeOf(a.Next()), 93u);
    QVERIFY(b.NothingElsePending());
    LabTestClient& c = Client("c", tree.Port());
    QCOMPARE(c.Next(), Proposal("a", 2001));
    QVERIFY(listen(c, 2003));
    // The root is full: the next level fills, fewest children first.
    LabTestClient& d = Client("d", tree.Port());
    QCOMPARE(d.Next(), Proposal("b", 2002));
    LabTestClient& e = Client("e", tree.Port());
    QCOMPARE(e.Next(), Proposal("c", 2003));

    // b is a root again; a was tried already, so no proposal comes.
    b.Send(Body(71).Byte(0));
    QVERIFY(b.NothingElsePending());
    // When a parent goes, its children get the best one left above them.
    a.Disconnect();
    QCOMPARE(c.Next(), Proposal("b", 2002));
    // A report that does not parse closes that client only.
    c.Send(Body(71));
    QVERIFY(c.WaitUntilClosed());
    QVERIFY(b.NothingElsePending());
    m_clients.clear();
    QVERIFY(tree.Stop());
}

QTEST_GUILESS_MAIN(LabServerTest)
#include "LabServerTest.moc"
