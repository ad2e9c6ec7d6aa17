#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

QByteArray Chat(const QByteArray& user, const QByteArray& text)
{
    return ByteBuilder().UInt32(13).String("lobby").String(user).String(text);
}

} // namespace

class LabServerRobustnessTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void UnreadableFramesCloseOnlyTheirClient();
    void OversizedLengthsCloseOnlyTheirClient();

private:
    // Logs the user in and enters the lobby, reading the room's answers.
    bool EnterLobby(LabTestClient& client, const QByteArray& user, int othersInside);

    LabServerProcess* m_server = nullptr;
};

void LabServerRobustnessTest::init()
{
    m_server = new LabServerProcess;
    QVERIFY(m_server->Start());
}

void LabServerRobustnessTest::cleanup()
{
    const bool stopped = m_server->Stop();
    delete m_server;
    m_server = nullptr;
    QVERIFY(stopped);
}

bool LabServerRobustnessTest::EnterLobby(LabTestClient& client, const QByteArray& user,
                                         int othersInside)
{
    if (!client.Connect(m_server->Port()) || !client.LogIn(user))
        return false;
    client.Send(ByteBuilder().UInt32(14).String("lobby"));
    const QByteArray answer = client.Next();
    return CodeOf(answer) == 14 && int(UInt32At(answer, 13)) == othersInside + 1;
}

void LabServerRobustnessTest::UnreadableFramesCloseOnlyTheirClient()
{
    LabTestClient alice;
    LabTestClient bob;
    QVERIFY(EnterLobby(bob, "bob", 0));
    QVERIFY(EnterLobby(alice, "alice", 1));
    QCOMPARE(CodeOf(bob.Next()), 16u);

    // Too short to hold a code.
    LabTestClient stranger;
    QVERIFY(stranger.Connect(m_server->Port()));
    stranger.SendRaw(ByteBuilder().UInt32(2).Byte(1).Byte(0));
    QVERIFY(stranger.WaitUntilClosed());

    // A login that stops in the middle of its fields.
    LabTestClient truncated;
    QVERIFY(truncated.Connect(m_server->Port()));
    truncated.Send(ByteBuilder().UInt32(1).String("mallory").UInt32(50));
    QVERIFY(truncated.WaitUntilClosed());

    // A room name announced longer than the frame that carries it.
    alice.Send(ByteBuilder().UInt32(13).UInt32(1000).Raw("lob"));
    QVERIFY(alice.WaitUntilClosed());
    QCOMPARE(bob.Next(), ByteBuilder().UInt32(17).String("lobby").String("alice").Data());

    bob.Send(ByteBuilder().UInt32(13).String("lobby").String("still here"));
    QCOMPARE(bob.Next(), Chat("bob", "still here"));
    QVERIFY(bob.NothingElsePending());
}

void LabServerRobustnessTest::OversizedLengthsCloseOnlyTheirClient()
{
    LabTestClient bob;
    LabTestClient carol;
    QVERIFY(EnterLobby(bob, "bob", 0));
    QVERIFY(EnterLobby(carol, "carol", 1));
    QCOMPARE(CodeOf(bob.Next()), 16u);

    LabTestClient stranger;
    QVERIFY(stranger.Connect(m_server->Port()));
    stranger.SendRaw(ByteBuilder().UInt32(16 * 1024 * 1024 + 1).UInt32(1));
    QVERIFY(stranger.WaitUntilClosed());

    carol.SendRaw(ByteBuilder().UInt32(0xffffffff).UInt32(13));
    QVERIFY(carol.WaitUntilClosed());
    QCOMPARE(bob.Next(), ByteBuilder().UInt32(17).String("lobby").String("carol").Data());

    bob.Send(ByteBuilder().UInt32(13).String("lobby").String("alone"));
    QCOMPARE(bob.Next(), Chat("bob", "alone"));
}

QTEST_GUILESS_MAIN(LabServerRobustnessTest)
#include "LabServerRobustnessTest.moc"
