#include <QFile>
#include <QTest>

#include "LabServerProcess.h"
#include "NodeProcess.h"

// Headless nodes chatting through the lab server, as a person would run them.
class NodeChatTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_server.Start()); }
    void cleanupTestCase() { QVERIFY(m_server.Stop()); }
    void ChatsInARoomPrivatelyAndWatchesStatus();

private:
    LabServerProcess m_server;
};

void NodeChatTest::ChatsInARoomPrivatelyAndWatchesStatus()
{
    NodeProcess alice;
    auto bob = std::make_unique<NodeProcess>();
    QVERIFY(alice.StartAndLogIn(m_server.Port(), "alice"));
    alice.Send("watch bob");
    QVERIFY(bob->StartAndLogIn(m_server.Port(), "bob"));
    QVERIFY(alice.WaitFor("user-status\tbob\tonline"));

    alice.Send("join lobby");
    QVERIFY(alice.WaitFor("joined\tlobby\t1"));
    bob->Send("join lobby");
    QVERIFY(bob->WaitFor("joined\tlobby\t2"));
    bob->Send("leave lobby");
    QVERIFY(bob->WaitFor("left\tlobby"));

    // Bob leaves; the message waits at the server until he is back. His
    // node remembers the login in its snapshot and connects by itself.
    const QString bobHome = bob->Home();
    QVERIFY(bob->Quit());
    QVERIFY(alice.WaitFor("user-status\tbob\toffline"));
    alice.Send("pm bob while you were out");
    alice.Send("no-such-command"); // a marker: the message was sent before it
    QVERIFY(alice.WaitFor("error\tno-such-command"));

    NodeProcess bobAgain;
    QFile::copy(bobHome + "/.Quorvale", bobAgain.Home() + "/.Quorvale");
    QVERIFY(bobAgain.Start(m_server.Port()));
    QVERIFY(bobAgain.WaitFor("connected"));
    QVERIFY(bobAgain.WaitFor("pm\talice\twhile you were out"));
    QVERIFY(alice.Quit());
    QVERIFY(bobAgain.Quit());
}

QTEST_GUILESS_MAIN(NodeChatTest)
#include "NodeChatTest.moc"
