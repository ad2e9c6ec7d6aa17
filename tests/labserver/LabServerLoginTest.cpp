#include <QCryptographicHash>
#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

constexpr std::uint32_t Loopback = 0x7f000001;

QByteArray Refusal(const QByteArray& reason)
{
    return ByteBuilder().UInt32(1).Byte(0).String(reason);
}

QByteArray PrivilegesLeft(std::int32_t seconds)
{
    return ByteBuilder().UInt32(92).Int32(seconds);
}

} // namespace

class LabServerLoginTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_server = new LabServerProcess; }
    void cleanup();
    void FirstLoginCreatesTheAccountAndLaterLoginsCheckIt();
    void InvalidNamesAreRefused();
    void SecondLoginReplacesTheFirstSession();
    void PrivilegedUsersAreListedAndAnswered();
    void OnlyTheLoginCountsBeforeLogin();

private:
    LabServerProcess* m_server = nullptr;
};

void LabServerLoginTest::cleanup()
{
    const bool stopped = m_server->Stop();
    delete m_server;
    m_server = nullptr;
    QVERIFY(stopped);
}

void LabServerLoginTest::FirstLoginCreatesTheAccountAndLaterLoginsCheckIt()
{
    QVERIFY(m_server->Start());

    LabTestClient first;
    QVERIFY(first.Connect(m_server->Port()));
    first.Send(LoginBody("alice", "secret"));
    const QByteArray digest =
        QCryptographicHash::hash("alicesecret", QCryptographicHash::Md5).toHex();
    QCOMPARE(first.Next(), ByteBuilder()
                               .UInt32(1)
                               .Byte(1)
                               .String("Welcome to the Quorvale lab server.")
                               .UInt32(Loopback)
                               .String(digest)
                               .Data());
    QCOMPARE(first.Next(), ByteBuilder().UInt32(104).UInt32(720).Data());
    QCOMPARE(first.Next(), ByteBuilder().UInt32(83).Int32(1).Data());
    QCOMPARE(first.Next(), ByteBuilder().UInt32(84).Int32(50).Data());
    QCOMPARE(first.Next(), ByteBuilder().UInt32(69).UInt32(0).Data());
    first.Disconnect();
    QVERIFY(first.WaitUntilClosed());

    LabTestClient wrong;
    QVERIFY(wrong.Connect(m_server->Port()));
    wrong.Send(LoginBody("alice", "guessed"));
    QCOMPARE(wrong.Next(), Refusal("INVALIDPASS"));
    QVERIFY(wrong.WaitUntilClosed());

    LabTestClient again;
    QVERIFY(again.Connect(m_server->Port()));
    QVERIFY(again.LogIn("alice", "secret"));
}

void LabServerLoginTest::InvalidNamesAreRefused()
{
    QVERIFY(m_server->Start());

    for (const QByteArray& name : {QByteArray(), QByteArray(31, 'n')}) {
        LabTestClient client;
        QVERIFY(client.Connect(m_server->Port()));
        client.Send(LoginBody(name, "secret"));
        QCOMPARE(client.Next(), Refusal("INVALIDUSERNAME"));
        QVERIFY(client.WaitUntilClosed());
    }
    LabTestClient longest;
    QVERIFY(longest.Connect(m_server->Port()));
    QVERIFY(longest.LogIn(QByteArray(30, 'n')));
}

void LabServerLoginTest::SecondLoginReplacesTheFirstSession()
{
    QVERIFY(m_server->Start());
    LabTestClient watcher;
    QVERIFY(watcher.Connect(m_server->Port()));
    QVERIFY(watcher.LogIn("bob"));
    LabTestClient first;
    QVERIFY(first.Connect(m_server->Port()));
    QVERIFY(first.LogIn("alice"));
    watcher.Send(ByteBuilder().UInt32(5).String("alice"));
    QCOMPARE(CodeOf(watcher.Next()), 5u);

    LabTestClient second;
    QVERIFY(second.Connect(m_server->Port()));
    QVERIFY(second.LogIn("alice"));
    QVERIFY(first.WaitUntilClosed());
    // The old session went away and the new one arrived.
    QCOMPARE(watcher.Next(), ByteBuilder().UInt32(7).String("alice").Int32(0).Byte(0).Data());
    QCOMPARE(watcher.Next(), ByteBuilder().UInt32(7).String("alice").Int32(2).Byte(0).Data());
    // The second session is the one online now.
    QVERIFY(second.NothingElsePending());
    watcher.Send(ByteBuilder().UInt32(7).String("alice"));
    QCOMPARE(watcher.Next(), ByteBuilder().UInt32(7).String("alice").Int32(2).Byte(0).Data());
}

void LabServerLoginTest::PrivilegedUsersAreListedAndAnswered()
{
    QVERIFY(m_server->Start({"--privileged", "carol"}));

    LabTestClient carol;
    QVERIFY(carol.Connect(m_server->Port()));
    carol.Send(LoginBody("carol", "secret"));
    QCOMPARE(CodeOf(carol.Next()), 1u);
    for (std::uint32_t code : {104u, 83u, 84u})
        QCOMPARE(CodeOf(carol.Next()), code);
    QCOMPARE(carol.Next(), ByteBuilder().UInt32(69).UInt32(1).String("carol").Data());

    carol.Send(ByteBuilder().UInt32(92));
    const QByteArray answer = carol.Next();
    QCOMPARE(answer.size(), 8);
    QCOMPARE(CodeOf(answer), 92u);
    const std::uint32_t thirtyDays = 30 * 24 * 3600;
    QVERIFY(UInt32At(answer, 4) <= thirtyDays);
    QVERIFY(UInt32At(answer, 4) > thirtyDays - 60);

    LabTestClient alice;
    QVERIFY(alice.Connect(m_server->Port()));
    QVERIFY(alice.LogIn("alice"));
    alice.Send(ByteBuilder().UInt32(92));
    QCOMPARE(alice.Next(), PrivilegesLeft(0));
    // Others see the privilege in status answers.
    alice.Send(ByteBuilder().UInt32(7).String("carol"));
    QCOMPARE(alice.Next(), ByteBuilder().UInt32(7).String("carol").Int32(2).Byte(1).Data());
}

void LabServerLoginTest::OnlyTheLoginCountsBeforeLogin()
{
    QVERIFY(m_server->Start());
    LabTestClient client;
    QVERIFY(client.Connect(m_server->Port()));
    client.Send(ByteBuilder().UInt32(92));
    client.Send(ByteBuilder().UInt32(14).String("lobby"));
    // The first answer is the login's: the requests before it were dropped.
    QVERIFY(client.LogIn("alice"));
    // Unknown codes are skipped without harm to the connection.
    client.Send(ByteBuilder().UInt32(4242).UInt32(1));
    QVERIFY(client.NothingElsePending());
}

QTEST_GUILESS_MAIN(LabServerLoginTest)
#include "LabServerLoginTest.moc"
