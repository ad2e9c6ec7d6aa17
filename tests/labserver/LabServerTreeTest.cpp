#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

constexpr std::uint32_t Loopback = 0x7f000001;

QByteArray WaitPort(std::uint32_t port)
{
    return ByteBuilder().UInt32(2).UInt32(port).UInt32(1).UInt32(0);
}

// A possible-parents list of one: the user, the address, the plain port.
QByteArray ParentProposal(const QByteArray& user, std::uint32_t port)
{
    return ByteBuilder().UInt32(102).UInt32(1).String(user).UInt32(Loopback).Int32(int(port));
}

QByteArray EmbeddedSearch(const QByteArray& user, std::uint32_t token, const QByteArray& text)
{
    return ByteBuilder().UInt32(93).Byte(3).UInt32(49).String(user).UInt32(token).String(text);
}

QByteArray HasParent(bool value)
{
    return ByteBuilder().UInt32(71).Byte(value ? 1 : 0);
}

} // namespace

class LabServerTreeTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ParentsAreProposedLevelByLevel();
    void ClientsWaitForAParentThatCanBeReached();
    void SearchesGoOnlyToClientsWithoutParent();

private:
    LabTestClient* NewClient(const QByteArray& user);
    // Announces the listening port; true once the server has taken it in.
    static bool Listen(LabTestClient* client, std::uint32_t port);

    LabServerProcess* m_server = nullptr;
    QList<LabTestClient*> m_clients;
};

void LabServerTreeTest::init()
{
    m_server = new LabServerProcess;
    QVERIFY(m_server->Start({QStringLiteral("--tree")}));
}

void LabServerTreeTest::cleanup()
{
    qDeleteAll(m_clients);
    m_clients.clear();
    const bool stopped = m_server->Stop();
    delete m_server;
    m_server = nullptr;
    QVERIFY(stopped);
}

LabTestClient* LabServerTreeTest::NewClient(const QByteArray& user)
{
    auto* client = new LabTestClient;
    m_clients.append(client);
    if (!client->Connect(m_server->Port()) || !client->LogIn(user))
        qWarning("login of %s failed", user.constData());
    return client;
}

bool LabServerTreeTest::Listen(LabTestClient* client, std::uint32_t port)
{
    client->Send(WaitPort(port));
    return client->NothingElsePending();
}

void LabServerTreeTest::ParentsAreProposedLevelByLevel()
{
    // The first client is the root: there is nobody to propose to it.
    LabTestClient* a = NewClient("a");
    QVERIFY(Listen(a, 2001));
    LabTestClient* b = NewClient("b");
    QCOMPARE(b->Next(), ParentProposal("a", 2001));
    QVERIFY(Listen(b, 2002));
    LabTestClient* c = NewClient("c");
    QCOMPARE(c->Next(), ParentProposal("a", 2001));
    QVERIFY(Listen(c, 2003));
    // The root is full: the next level fills, fewest children first.
    LabTestClient* d = NewClient("d");
    QCOMPARE(d->Next(), ParentProposal("b", 2002));
    QVERIFY(Listen(d, 2004));
    LabTestClient* e = NewClient("e");
    QCOMPARE(e->Next(), ParentProposal("c", 2003));
    QVERIFY(Listen(e, 2005));
    for (LabTestClient* client : {a, b, c, d, e})
        QVERIFY(client->NothingElsePending());

    // When a proposed parent goes, its children get the best one left that
    // ranks above them; b, now first, needs none.
    a->Disconnect();
    QCOMPARE(c->Next(), ParentProposal("b", 2002));
    for (LabTestClient* client : {b, c, d, e})
        QVERIFY(client->NothingElsePending());
}

void LabServerTreeTest::ClientsWaitForAParentThatCanBeReached()
{
    LabTestClient* x = NewClient("x");
    LabTestClient* y = NewClient("y");
    QVERIFY(y->NothingElsePending());
    // Once x says where it listens, y can be sent there.
    x->Send(WaitPort(2100));
    QCOMPARE(y->Next(), ParentProposal("x", 2100));
    QVERIFY(x->NothingElsePending());
}

void LabServerTreeTest::SearchesGoOnlyToClientsWithoutParent()
{
    LabTestClient* a = NewClient("a");
    QVERIFY(Listen(a, 2001));
    LabTestClient* b = NewClient("b");
    LabTestClient* c = NewClient("c");
    QCOMPARE(b->Next(), ParentProposal("a", 2001));
    QCOMPARE(c->Next(), ParentProposal("a", 2001));
    b->Send(HasParent(true));
    c->Send(HasParent(false));
    // Answered in order: the reports are in before anyone searches.
    QVERIFY(b->NothingElsePending());
    QVERIFY(c->NothingElsePending());

    // b hears of searches from its parent now, not from the server. The
    // roots get their own searches too: their children hear of them only
    // through them.
    a->Send(ByteBuilder().UInt32(26).UInt32(7).String("jazz"));
    QCOMPARE(a->Next(), EmbeddedSearch("a", 7, "jazz"));
    QCOMPARE(c->Next(), EmbeddedSearch("a", 7, "jazz"));
    c->Send(ByteBuilder().UInt32(103).UInt32(8).String("blues"));
    QCOMPARE(a->Next(), EmbeddedSearch("c", 8, "blues"));
    QCOMPARE(c->Next(), EmbeddedSearch("c", 8, "blues"));
    for (LabTestClient* client : {a, b, c})
        QVERIFY(client->NothingElsePending());

    // b lost its parent: it is a root again. a was tried already, and
    // nobody else ranks above b, so no proposal comes.
    b->Send(HasParent(false));
    QVERIFY(b->NothingElsePending());
    a->Send(ByteBuilder().UInt32(26).UInt32(9).String("folk"));
    QCOMPARE(a->Next(), EmbeddedSearch("a", 9, "folk"));
    QCOMPARE(b->Next(), EmbeddedSearch("a", 9, "folk"));
    QCOMPARE(c->Next(), EmbeddedSearch("a", 9, "folk"));
    QVERIFY(b->NothingElsePending());

    // A report that does not parse closes that client only.
    c->Send(ByteBuilder().UInt32(71));
    QVERIFY(c->WaitUntilClosed());
    QVERIFY(a->NothingElsePending());
}

QTEST_GUILESS_MAIN(LabServerTreeTest)
#include "LabServerTreeTest.moc"
