#include <memory>

#include "DNetTestSupport.h"

using namespace DNetTypes;

class DNetReportsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup();

    void EveryLoginTellsTheServerWhereWeStand();
    void ChildrenAreWelcomeWhileSpeedAllows();
    void NothingIsDecidedBeforeAllFigures();

private:
    ServerSession& S() { return *m_session; }
    bool LogInAndTakeSent(QByteArray& sent);

    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<DNetManager> m_manager;
    std::unique_ptr<QTcpServer> m_listener;
};

void DNetReportsTest::init()
{
    d.RemoveAllItems();
    m_session = std::make_unique<ServerSession>();
    m_manager = std::make_unique<DNetManager>();
    m_listener = std::make_unique<QTcpServer>();
    QVERIFY(m_listener->listen(QHostAddress::LocalHost));
}

void DNetReportsTest::cleanup()
{
    m_manager.reset();
    m_listener.reset();
    m_session.reset();
}

// Everything the client sends once logged in, the login itself left out.
bool DNetReportsTest::LogInAndTakeSent(QByteArray& sent)
{
    const bool connected =
        S().server->GetState() == Server::StateDisconnected ? S().ConnectAs() : false;
    if (!connected)
        return false;
    S().scripted.TakeReceived();
    if (!S().AcceptLogin())
        return false;
    sent = S().TakeSent();
    return true;
}

void DNetReportsTest::EveryLoginTellsTheServerWhereWeStand()
{
    QByteArray sent;
    QVERIFY(LogInAndTakeSent(sent));
    QCOMPARE(sent, Sent(Body(71).Byte(0)) + Sent(Body(127).String("")) +
                       Sent(Body(126).UInt32(0xffffffff)));

    S().Receive(Body(93).Raw(DNet(4).Int32(2)));
    S().Receive(Body(93).Raw(DNet(5).String("lead")));
    QCOMPARE(S().TakeSent(), Sent(Body(126).UInt32(3)) + Sent(Body(127).String("lead")));

    S().server->Disconnect();
    QVERIFY(LogInAndTakeSent(sent));
    QCOMPARE(sent,
             Sent(Body(71).Byte(0)) + Sent(Body(127).String("lead")) + Sent(Body(126).UInt32(3)));
}

void DNetReportsTest::ChildrenAreWelcomeWhileSpeedAllows()
{
    DNetLogCapture log;
    QByteArray sent;
    QVERIFY(LogInAndTakeSent(sent));

    // 100 KiB/s, at least 50 KiB/s for a parent, ten units per child: room
    // for ((102400 * 10) / 1024) / 10 = 100 children.
    S().Receive(Body(83).Int32(50));
    S().Receive(Body(84).Int32(10));
    QVERIFY(S().Sync());
    Settings::Set("upload_speed", 102400);
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(1)));
    QVERIFY(m_manager->CanParent());
    QVERIFY(log.lines.contains("Received parent min speed 50, currently not processing"));
    QVERIFY(log.lines.contains("Received parent speed connection ratio 10, currently not "
                               "processing"));
    QVERIFY(log.lines.contains("   Currently have 0 child connections, max capacity 100"));

    Settings::Set("upload_speed", 51199);
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(0)));
    QVERIFY(log.lines.contains("   Below minimum parent speed, so no."));
    Settings::Set("upload_speed", 51200);
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(1)));
    Settings::Set("upload_speed", 60000);
    QCOMPARE(S().TakeSent(), QByteArray());
    QVERIFY(log.lines.contains("No status change, not notifying."));

    // A ratio of 0 would divide by zero: no children then.
    S().Receive(Body(84).Int32(0));
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(0)));
    QVERIFY(!m_manager->CanParent());

    // Room for exactly one child: it is taken, and freed again.
    S().Receive(Body(83).Int32(1));
    S().Receive(Body(84).Int32(10));
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(1)));
    Settings::Set("upload_speed", 2047);
    QCOMPARE(S().TakeSent(), QByteArray());
    DNetLink child;
    QVERIFY(child.Open(*m_listener));
    m_manager->OnDNetConnectionRequested("bob", child.Near());
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(0)));
    QVERIFY(log.lines.contains("   Currently have 1 child connections, max capacity 1"));
    child.Close();
    QVERIFY(QTest::qWaitFor([] { return d.GetType(DNetChild)->ItemCount() == 0; }));
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(1)));
}

void DNetReportsTest::NothingIsDecidedBeforeAllFigures()
{
    DNetLogCapture log;
    QByteArray sent;
    QVERIFY(LogInAndTakeSent(sent));
    Settings::Set("upload_speed", 1 << 30);
    S().Receive(Body(83).Int32(1));
    QCOMPARE(S().TakeSent(), QByteArray());
    S().Receive(Body(84).Int32(1));
    QCOMPARE(S().TakeSent(), Sent(Body(100).Byte(1)));
    QCOMPARE(log.lines.count("Determining whether we can accept child connections."), 1);

    // Other settings are none of our business.
    log.lines.clear();
    Settings::Set("upload_slots", 3);
    QVERIFY(log.lines.isEmpty());
}

QTEST_GUILESS_MAIN(DNetReportsTest)
#include "DNetReportsTest.moc"
