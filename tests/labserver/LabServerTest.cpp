#include <memory>
#include <vector>

#include <QDateTime>
#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

constexpr std::uint32_t Loopback = 0x7f000001;

ByteBuilder Msg(std::uint32_t code)
{
    return ByteBuilder().UInt32(code);
}

// Average speed, the 64-bit count, files, folders.
ByteBuilder& Stats(ByteBuilder& bytes, std::int32_t speed = 0, std::uint32_t count = 0,
                   std::int32_t files = 0, std::int32_t folders = 0)
{
    return bytes.Int32(speed).UInt32(count).UInt32(0).Int32(files).Int32(folders);
}

QByteArray Status(const QByteArray& user, std::int32_t status, std::uint8_t privileged = 0)
{
    return Msg(7).String(user).Int32(status).Byte(privileged);
}

QByteArray Joined(const QByteArray& user)
{
    ByteBuilder bytes = Msg(16).String("lobby").String(user).Int32(2);
    return Stats(bytes).Int32(0).String("XX");
}

QByteArray Left(const QByteArray& user)
{
    return Msg(17).String("lobby").String(user);
}

QByteArray Search(const QByteArray& user, std::uint32_t token, const QByteArray& text)
{
    return Msg(93).Byte(3).UInt32(49).String(user).UInt32(token).String(text);
}

// A possible-parents list of one: the user, the address, the plain port.
QByteArray Proposal(const QByteArray& user, std::int32_t port)
{
    return Msg(102).UInt32(1).String(user).UInt32(Loopback).Int32(port);
}

// Both enter the lobby, `first` first, which hears of `second` by name.
void EnterLobby(LabTestClient& first, LabTestClient& second, const QByteArray& name)
{
    for (LabTestClient* client : {&first, &second}) {
        client->Send(Msg(14).String("lobby"));
        QCOMPARE(CodeOf(client->Next()), 14u);
    }
    QCOMPARE(first.Next(), Joined(name));
}

// Checks a private message from alice; the time only within the span in
// which it was sent.
void VerifyPrivateMessage(const QByteArray& body, std::uint32_t id, qint64 sentFrom,
                          const QByteArray& text, std::uint8_t isNew)
{
    QCOMPARE(CodeOf(body), 22u);
    QVERIFY(body.size() >= 12);
    QCOMPARE(UInt32At(body, 4), id);
    QVERIFY(UInt32At(body, 8) >= sentFrom);
    QVERIFY(UInt32At(body, 8) <= QDateTime::currentSecsSinceEpoch());
    QCOMPARE(body.mid(12), ByteBuilder().String("alice").String(text).Byte(isNew).Data());
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
    void PrivateMessagesAreQueuedUntilAcknowledged();
    void WatchersHearOfEverySessionStartAndEnd();
    void ConnectionRequestsAreBrokered();
    void BrokenFramesCloseOnlyTheirClient();
    void TreeReportsAreReadAndOtherwiseIgnored();
    void TreeModeProposesParentsAndSearchesOnlyRoots();

private:
    // A client connected to the server on `port` (0: the test's server),
    // logged in as `user` unless that is empty.
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
    first.Send(Msg(92));
    first.Send(Msg(14).String("lobby"));
    first.Send(LoginBody("alice", "secret"));
    QCOMPARE(CodeOf(first.Next()), 1u);
    QCOMPARE(first.Next(), Msg(104).UInt32(720).Data());
    QCOMPARE(first.Next(), Msg(83).Int32(1).Data());
    QCOMPARE(first.Next(), Msg(84).Int32(50).Data());
    QCOMPARE(first.Next(), Msg(69).UInt32(1).String("carol").Data());
    // Unknown codes are skipped without harm to the connection.
    first.Send(Msg(4242).UInt32(1));
    first.Send(Msg(92));
    QCOMPARE(first.Next(), Msg(92).Int32(0).Data());
    first.Disconnect();
    QVERIFY(first.WaitUntilClosed());

    LabTestClient& wrong = Client("");
    wrong.Send(LoginBody("alice", "guessed"));
    QCOMPARE(wrong.Next(), Msg(1).Byte(0).String("INVALIDPASS").Data());
    QVERIFY(wrong.WaitUntilClosed());
    QVERIFY(Client("").LogIn("alice", "secret"));

    for (const QByteArray& name : {QByteArray(), QByteArray(31, 'n')}) {
        LabTestClient& invalid = Client("");
        invalid.Send(LoginBody(name, "secret"));
        QCOMPARE(invalid.Next(), Msg(1).Byte(0).String("INVALIDUSERNAME").Data());
        QVERIFY(invalid.WaitUntilClosed());
    }
    QVERIFY(Client("").LogIn(QByteArray(30, 'n')));

    // Others see the privilege in status answers.
    Client("carol");
    LabTestClient& bob = Client("bob");
    bob.Send(Msg(7).String("carol"));
    QCOMPARE(bob.Next(), Status("carol", 2, 1));
}

void LabServerTest::RoomsPushMembersChatAndStatistics()
{
    LabTestClient& alice = Client("alice");
    LabTestClient& bob = Client("bob");
    alice.Send(Msg(35).UInt32(3).UInt32(40));
    alice.Send(Msg(121).UInt32(100));
    alice.Send(Msg(121).UInt32(301));
    alice.Send(Msg(14).String("lobby"));
    ByteBuilder alone = Msg(14).String("lobby").UInt32(1).String("alice").UInt32(1).Int32(2);
    Stats(alone.UInt32(1), 200, 2, 40, 3).UInt32(1).Int32(0).UInt32(1).String("XX");
    QCOMPARE(alice.Next(), alone.Data());
    bob.Send(Msg(14).String("lobby"));
    QCOMPARE(CodeOf(bob.Next()), 14u);
    QCOMPARE(alice.Next(), Joined("bob"));
    bob.Send(Msg(13).String("lobby").String("hello"));
    QCOMPARE(alice.Next(), Msg(13).String("lobby").String("bob").String("hello").Data());
    alice.Send(Msg(64));
    QVERIFY(alice.Next().startsWith(Msg(64).UInt32(1).String("lobby").UInt32(1).UInt32(2).Data()));

    // Someone outside the room can neither talk into it nor leave it.
    LabTestClient& dave = Client("dave");
    dave.Send(Msg(13).String("lobby").String("intruder"));
    dave.Send(Msg(15).String("lobby"));
    QVERIFY(dave.NothingElsePending());
    QVERIFY(alice.NothingElsePending());
    bob.Send(Msg(15).String("lobby"));
    QCOMPARE(alice.Next(), Left("bob"));
    for (std::uint32_t code : {13u, 15u})
        QCOMPARE(CodeOf(bob.Next()), code);

    // Statistics belong to the account and outlive the session.
    ByteBuilder stats = Msg(36).String("alice");
    Stats(stats, 200, 2, 40, 3);
    alice.Disconnect();
    bob.Send(Msg(36).String("alice"));
    QCOMPARE(bob.Next(), stats.Data());
}

void LabServerTest::PrivateMessagesAreQueuedUntilAcknowledged()
{
    LabTestClient& alice = Client("alice");
    LabTestClient& bob = Client("bob");
    const qint64 sentFrom = QDateTime::currentSecsSinceEpoch();
    alice.Send(Msg(22).String("bob").String("hi bob"));
    alice.Send(Msg(22).String("dave").String("hi dave"));
    VerifyPrivateMessage(bob.Next(), 1, sentFrom, "hi bob", 1);

    // Not acknowledged: it comes again at the next login, marked as not new.
    bob.Disconnect();
    LabTestClient& bobAgain = Client("bob");
    VerifyPrivateMessage(bobAgain.Next(), 1, sentFrom, "hi bob", 0);
    bobAgain.Send(Msg(23).UInt32(1));
    // Only its recipient can acknowledge dave's message.
    bobAgain.Send(Msg(23).UInt32(2));
    QVERIFY(bobAgain.NothingElsePending());
    bobAgain.Disconnect();
    QVERIFY(Client("bob").NothingElsePending());
    VerifyPrivateMessage(Client("dave").Next(), 2, sentFrom, "hi dave", 0);
}

void LabServerTest::WatchersHearOfEverySessionStartAndEnd()
{
    LabTestClient& alice = Client("alice");
    alice.Send(Msg(5).String("bob"));
    QCOMPARE(alice.Next(), Msg(5).String("bob").Byte(0).Data());
    LabTestClient& bob = Client("bob");
    QCOMPARE(alice.Next(), Status("bob", 2));
    // Away is a status of its own, and an away user still has a country.
    Client("dave");
    alice.Send(Msg(5).String("dave"));
    ByteBuilder away = Msg(5).String("dave").Byte(1).Int32(1);
    QCOMPARE(alice.Next(), Stats(away).String("XX").Data());
    alice.Send(Msg(7).String("dave"));
    QCOMPARE(alice.Next(), Status("dave", 1));

    // A second login replaces the first session: it goes, the new one comes.
    LabTestClient& second = Client("bob");
    QVERIFY(bob.WaitUntilClosed());
    QCOMPARE(alice.Next(), Status("bob", 0));
    QCOMPARE(alice.Next(), Status("bob", 2));
    QVERIFY(second.NothingElsePending());
    second.Disconnect();
    QCOMPARE(alice.Next(), Status("bob", 0));
    // Untracked, bob comes and goes unheard.
    alice.Send(Msg(6).String("bob"));
    QVERIFY(alice.NothingElsePending());
    Client("bob");
    QVERIFY(alice.NothingElsePending());
}

void LabServerTest::ConnectionRequestsAreBrokered()
{
    LabTestClient& alice = Client("alice");
    LabTestClient& bob = Client("bob");
    alice.Send(Msg(2).UInt32(2235).UInt32(1).UInt32(8973));
    // The barrier proves the server has taken the port before the request.
    QVERIFY(alice.NothingElsePending());

    bob.Send(Msg(3).String("alice"));
    QCOMPARE(bob.Next(),
             Msg(3).String("alice").UInt32(Loopback).Int32(2235).Int32(1).Int32(8973).Data());
    alice.Send(Msg(3).String("nobody"));
    QCOMPARE(alice.Next(), Msg(3).String("nobody").UInt32(0).Int32(0).Int32(0).Int32(0).Data());

    alice.Send(Msg(18).UInt32(9).String("bob").String("F"));
    ByteBuilder toBob = Msg(18).String("alice").String("F").UInt32(Loopback).Int32(2235);
    QCOMPARE(bob.Next(), toBob.UInt32(9).Byte(0).Int32(1).Int32(8973).Data());

    bob.Send(Msg(1001).UInt32(9).String("alice"));
    QCOMPARE(alice.Next(), Msg(1001).UInt32(9).Data());
    // Nobody to broker with: the asker hears so at once.
    alice.Send(Msg(18).UInt32(11).String("nobody").String("P"));
    QCOMPARE(alice.Next(), Msg(1001).UInt32(11).Data());
}

void LabServerTest::BrokenFramesCloseOnlyTheirClient()
{
    LabTestClient& bob = Client("bob");
    LabTestClient& alice = Client("alice");
    EnterLobby(bob, alice, "alice");

    // Too short for a code; a login that stops in its fields; lengths above
    // 16 MiB, up to the largest: each closes its own connection.
    LabTestClient& noCode = Client("");
    noCode.SendRaw(ByteBuilder().UInt32(2).Byte(1).Byte(0));
    LabTestClient& truncated = Client("");
    truncated.Send(Msg(1).String("mallory").UInt32(50));
    LabTestClient& oversized = Client("");
    oversized.SendRaw(ByteBuilder().UInt32(16 * 1024 * 1024 + 1).UInt32(1));
    LabTestClient& largest = Client("dave");
    largest.SendRaw(ByteBuilder().UInt32(0xffffffff).UInt32(13));
    for (LabTestClient* client : {&noCode, &truncated, &oversized, &largest})
        QVERIFY(client->WaitUntilClosed());

    // A room name announced longer than its frame.
    alice.Send(Msg(13).UInt32(1000).Raw("lob"));
    QVERIFY(alice.WaitUntilClosed());
    QCOMPARE(bob.Next(), Left("alice"));
    QVERIFY(bob.NothingElsePending());
}

void LabServerTest::TreeReportsAreReadAndOtherwiseIgnored()
{
    // What a client says of its place in the tree: read whole, answered with
    // nothing; one byte short, it closes that client.
    static const char* const rows[] = {
        "64000000 01",                // 100: can take children
        "7e000000 03000000",          // 126: level 3
        "7f000000 04000000 726f6f74", // 127: group leader "root"
        "81000000 00",                // 129: has no children
    };
    LabTestClient& alice = Client("alice");
    for (const char* row : rows) {
        const QByteArray body = QByteArray::fromHex(row);
        alice.Send(body);
        QVERIFY2(alice.NothingElsePending(), row);
        LabTestClient& cut = Client("mallory");
        cut.Send(body.chopped(1));
        QVERIFY2(cut.WaitUntilClosed(), row);
    }
}

void LabServerTest::TreeModeProposesParentsAndSearchesOnlyRoots()
{
    LabServerProcess tree;
    QVERIFY(tree.Start({"--tree"}));
    const auto listen = [](LabTestClient& client, std::uint32_t port) {
        client.Send(Msg(2).UInt32(port).UInt32(1).UInt32(0));
        return client.NothingElsePending();
    };
    // The first client is the root: there is nobody to propose to it. A
    // client waits for a parent that says where it listens.
    LabTestClient& a = Client("a", tree.Port());
    LabTestClient& b = Client("b", tree.Port());
    QVERIFY(b.NothingElsePending());
    QVERIFY(listen(a, 2001));
    QCOMPARE(b.Next(), Proposal("a", 2001));
    QVERIFY(listen(b, 2002));
    LabTestClient& c = Client("c", tree.Port());
    QCOMPARE(c.Next(), Proposal("a", 2001));
    QVERIFY(listen(c, 2003));
    // The root is full: the next level fills, fewest children first.
    LabTestClient& d = Client("d", tree.Port());
    QCOMPARE(d.Next(), Proposal("b", 2002));
    LabTestClient& e = Client("e", tree.Port());
    QCOMPARE(e.Next(), Proposal("c", 2003));

    // Searches go to the clients without a parent, the searcher included.
    for (LabTestClient* client : {&b, &d, &e})
        client->Send(Msg(71).Byte(1));
    c.Send(Msg(71).Byte(0));
    for (LabTestClient* client : {&b, &c, &d, &e})
        QVERIFY(client->NothingElsePending());
    a.Send(Msg(26).UInt32(7).String("jazz"));
    QCOMPARE(a.Next(), Search("a", 7, "jazz"));
    QCOMPARE(c.Next(), Search("a", 7, "jazz"));
    c.Send(Msg(103).UInt32(8).String("blues"));
    QCOMPARE(a.Next(), Search("c", 8, "blues"));
    QCOMPARE(c.Next(), Search("c", 8, "blues"));
    for (LabTestClient* client : {&a, &b, &d, &e})
        QVERIFY(client->NothingElsePending());

    // b is a root again; a was tried already, so no proposal comes.
    b.Send(Msg(71).Byte(0));
    QVERIFY(b.NothingElsePending());
    // When a parent goes, its children get the best one left above them.
    a.Disconnect();
    QCOMPARE(c.Next(), Proposal("b", 2002));
    // A report that does not parse closes that client only.
    c.Send(Msg(71));
    QVERIFY(c.WaitUntilClosed());
    QVERIFY(b.NothingElsePending());
    m_clients.clear();
    QVERIFY(tree.Stop());
}

QTEST_GUILESS_MAIN(LabServerTest)
#include "LabServerTest.moc"
