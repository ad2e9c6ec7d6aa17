#include <QDateTime>
#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

constexpr std::uint32_t Loopback = 0x7f000001;

QByteArray ZeroStats()
{
    return ByteBuilder().Int32(0).UInt32(0).UInt32(0).Int32(0).Int32(0);
}

QByteArray Status(const QByteArray& user, std::int32_t status)
{
    return ByteBuilder().UInt32(7).String(user).Int32(status).Byte(0);
}

QByteArray EmbeddedSearch(const QByteArray& user, std::uint32_t token, const QByteArray& text)
{
    return ByteBuilder().UInt32(93).Byte(3).UInt32(49).String(user).UInt32(token).String(text);
}

} // namespace

class LabServerMessagingTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void PrivateMessagesAreQueuedUntilAcknowledged();
    void WatchersHearOfLoginAndLogout();
    void AddressesAndBrokeredConnectionsCarryThePorts();
    void SearchesReachEveryOtherClient();

private:
    // Checks a delivered private message field by field; the time only
    // within the span in which it was sent.
    void VerifyPrivateMessage(const QByteArray& body, std::uint32_t id, qint64 sentFrom,
                              const QByteArray& tail);
    LabTestClient* NewClient(const QByteArray& user);

    LabServerProcess* m_server = nullptr;
    QList<LabTestClient*> m_clients;
};

void LabServerMessagingTest::init()
{
    m_server = new LabServerProcess;
    QVERIFY(m_server->Start());
}

void LabServerMessagingTest::cleanup()
{
    qDeleteAll(m_clients);
    m_clients.clear();
    const bool stopped = m_server->Stop();
    delete m_server;
    m_server = nullptr;
    QVERIFY(stopped);
}

LabTestClient* LabServerMessagingTest::NewClient(const QByteArray& user)
{
    auto* client = new LabTestClient;
    m_clients.append(client);
    if (!client->Connect(m_server->Port()) || !client->LogIn(user))
        qWarning("login of %s failed", user.constData());
    return client;
}

void LabServerMessagingTest::VerifyPrivateMessage(const QByteArray& body, std::uint32_t id,
                                                  qint64 sentFrom, const QByteArray& tail)
{
    QCOMPARE(CodeOf(body), 22u);
    QVERIFY(body.size() >= 12);
    QCOMPARE(UInt32At(body, 4), id);
    QVERIFY(UInt32At(body, 8) >= sentFrom);
    QVERIFY(UInt32At(body, 8) <= QDateTime::currentSecsSinceEpoch());
    QCOMPARE(body.mid(12), tail);
}

void LabServerMessagingTest::PrivateMessagesAreQueuedUntilAcknowledged()
{
    LabTestClient* alice = NewClient("alice");
    LabTestClient* bob = NewClient("bob");
    const qint64 sentFrom = QDateTime::currentSecsSinceEpoch();
    alice->Send(ByteBuilder().UInt32(22).String("bob").String("hi bob"));
    alice->Send(ByteBuilder().UInt32(22).String("carol").String("hi carol"));
    VerifyPrivateMessage(bob->Next(), 1, sentFrom,
                         ByteBuilder().String("alice").String("hi bob").Byte(1));

    // Not acknowledged: it comes again at the next login, marked as not new.
    bob->Disconnect();
    LabTestClient* bobAgain = NewClient("bob");
    VerifyPrivateMessage(bobAgain->Next(), 1, sentFrom,
                         ByteBuilder().String("alice").String("hi bob").Byte(0));
    bobAgain->Send(ByteBuilder().UInt32(23).UInt32(1));
    // Only its recipient can acknowledge carol's message.
    bobAgain->Send(ByteBuilder().UInt32(23).UInt32(2));
    QVERIFY(bobAgain->NothingElsePending());
    bobAgain->Disconnect();
    QVERIFY(NewClient("bob")->NothingElsePending());

    LabTestClient* carol = NewClient("carol");
    VerifyPrivateMessage(carol->Next(), 2, sentFrom,
                         ByteBuilder().String("alice").String("hi carol").Byte(0));
}

void LabServerMessagingTest::WatchersHearOfLoginAndLogout()
{
    LabTestClient* alice = NewClient("alice");
    alice->Send(ByteBuilder().UInt32(5).String("bob"));
    QCOMPARE(alice->Next(), ByteBuilder().UInt32(5).String("bob").Byte(0).Data());

    LabTestClient* bob = NewClient("bob");
    QCOMPARE(alice->Next(), Status("bob", 2));
    alice->Send(ByteBuilder().UInt32(5).String("bob"));
    QCOMPARE(alice->Next(), ByteBuilder()
                                .UInt32(5)
                                .String("bob")
                                .Byte(1)
                                .Int32(2)
                                .Raw(ZeroStats())
                                .String("XX")
                                .Data());
    alice->Send(ByteBuilder().UInt32(7).String("bob"));
    QCOMPARE(alice->Next(), Status("bob", 2));

    bob->Disconnect();
    QCOMPARE(alice->Next(), Status("bob", 0));
    alice->Send(ByteBuilder().UInt32(5).String("bob"));
    QCOMPARE(alice->Next(),
             ByteBuilder().UInt32(5).String("bob").Byte(1).Int32(0).Raw(ZeroStats()).Data());

    alice->Send(ByteBuilder().UInt32(6).String("bob"));
    QVERIFY(alice->NothingElsePending());
    NewClient("bob");
    QVERIFY(alice->NothingElsePending());
}

void LabServerMessagingTest::AddressesAndBrokeredConnectionsCarryThePorts()
{
    LabTestClient* alice = NewClient("alice");
    LabTestClient* bob = NewClient("bob");
    alice->Send(ByteBuilder().UInt32(2).UInt32(2235).UInt32(1).UInt32(8973));
    bob->Send(ByteBuilder().UInt32(2).UInt32(2236).UInt32(1).UInt32(0));
    // Each barrier proves the server has taken the ports before the look-ups.
    QVERIFY(alice->NothingElsePending());
    QVERIFY(bob->NothingElsePending());

    bob->Send(ByteBuilder().UInt32(3).String("alice"));
    QCOMPARE(bob->Next(), ByteBuilder()
                              .UInt32(3)
                              .String("alice")
                              .UInt32(Loopback)
                              .Int32(2235)
                              .Int32(1)
                              .Int32(8973)
                              .Data());
    alice->Send(ByteBuilder().UInt32(3).String("bob"));
    QCOMPARE(alice->Next(), ByteBuilder()
                                .UInt32(3)
                                .String("bob")
                                .UInt32(Loopback)
                                .Int32(2236)
                                .Int32(0)
                                .Int32(0)
                                .Data());
    alice->Send(ByteBuilder().UInt32(3).String("nobody"));
    QCOMPARE(alice->Next(),
             ByteBuilder().UInt32(3).String("nobody").UInt32(0).Int32(0).Int32(0).Int32(0).Data());

    bob->Send(ByteBuilder().UInt32(18).UInt32(7).String("alice").String("P"));
    QCOMPARE(alice->Next(), ByteBuilder()
                                .UInt32(18)
                                .String("bob")
                                .String("P")
                                .UInt32(Loopback)
                                .Int32(2236)
                                .UInt32(7)
                                .Byte(0)
                                .Int32(0)
                                .Data());
    alice->Send(ByteBuilder().UInt32(18).UInt32(9).String("bob").String("F"));
    QCOMPARE(bob->Next(), ByteBuilder()
                              .UInt32(18)
                              .String("alice")
                              .String("F")
                              .UInt32(Loopback)
                              .Int32(2235)
                              .UInt32(9)
                              .Byte(0)
                              .Int32(1)
                              .Int32(8973)
                              .Data());

    bob->Send(ByteBuilder().UInt32(1001).UInt32(9).String("alice"));
    QCOMPARE(alice->Next(), ByteBuilder().UInt32(1001).UInt32(9).Data());
    // Nobody to broker with: the asker hears so at once.
    alice->Send(ByteBuilder().UInt32(18).UInt32(11).String("nobody").String("P"));
    QCOMPARE(alice->Next(), ByteBuilder().UInt32(1001).UInt32(11).Data());
}

void LabServerMessagingTest::SearchesReachEveryOtherClient()
{
    LabTestClient* alice = NewClient("alice");
    LabTestClient* bob = NewClient("bob");
    LabTestClient* carol = NewClient("carol");

    alice->Send(ByteBuilder().UInt32(26).UInt32(5).String("foo bar"));
    QCOMPARE(bob->Next(), EmbeddedSearch("alice", 5, "foo bar"));
    QCOMPARE(carol->Next(), EmbeddedSearch("alice", 5, "foo bar"));
    QVERIFY(alice->NothingElsePending());

    bob->Send(ByteBuilder().UInt32(103).UInt32(6).String("wished"));
    QCOMPARE(alice->Next(), EmbeddedSearch("bob", 6, "wished"));
    QCOMPARE(carol->Next(), EmbeddedSearch("bob", 6, "wished"));
    QVERIFY(bob->NothingElsePending());
}

QTEST_GUILESS_MAIN(LabServerMessagingTest)
#include "LabServerMessagingTest.moc"
