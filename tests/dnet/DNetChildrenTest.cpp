#include <memory>

#include "DNetTestSupport.h"

using namespace DNetTypes;

class DNetChildrenTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup();

    void ChildReconnectingReplacesItsOldConnection();
    void SearchesAreRelayedByteForByte();
    void UnknownLevelsStayUnknownDownTheTree();
    void ChildDepthIsReportedWhenItChanges();

private:
    ServerSession& S() { return *m_session; }
    DNetManager& Manager() { return *m_manager; }
    DNetLink& NewChild(const char* user);
    // From the server, as the parent would send it.
    void FromAbove(const ByteBuilder& message) { S().Receive(Body(93).Raw(message)); }

    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<DNetManager> m_manager;
    std::unique_ptr<QTcpServer> m_listener;
    std::list<DNetLink> m_links;
};

void DNetChildrenTest::init()
{
    d.RemoveAllItems();
    m_session = std::make_unique<ServerSession>();
    QVERIFY(S().LogIn());
    S().TakeSent();
    m_manager = std::make_unique<DNetManager>();
    m_listener = std::make_unique<QTcpServer>();
    QVERIFY(m_listener->listen(QHostAddress::LocalHost));
}

void DNetChildrenTest::cleanup()
{
    m_manager.reset();
    m_links.clear();
    m_listener.reset();
    m_session.reset();
}

DNetLink& DNetChildrenTest::NewChild(const char* user)
{
    DNetLink& link = m_links.emplace_back();
    if (!link.Open(*m_listener))
        qWarning("link did not open");
    else
        Manager().OnDNetConnectionRequested(user, link.Near());
    return link;
}

void DNetChildrenTest::ChildReconnectingReplacesItsOldConnection()
{
    DNetLogCapture log;
    FromAbove(DNet(4).Int32(1));
    FromAbove(DNet(5).String("lead"));
    QVERIFY(QTest::qWaitFor([] { return HasDNetState(State::GroupLeader); }));

    // A new child hears where it stands right away.
    DNetLink& first = NewChild("bob");
    QCOMPARE(first.Next(), DNet(4).Int32(2).Data());
    QCOMPARE(first.Next(), DNet(5).String("lead").Data());

    DNetLink& second = NewChild("bob");
    QVERIFY(first.WaitClosed());
    QVERIFY(log.lines.contains("Child connection already found, closing old connection."));
    QCOMPARE(d.GetType(DNetChild)->ItemCount(), std::size_t(1));
    ItemPtr child = UserItem("bob")[DNetChild];
    QCOMPARE(child.AsString(), Value(second.Near()).Text());
    QCOMPARE(second.Next(), DNet(4).Int32(2).Data());
    QCOMPARE(second.Next(), DNet(5).String("lead").Data());

    // Only the replacement hears what comes next.
    FromAbove(DNet(4).Int32(4));
    QCOMPARE(second.Next(), DNet(4).Int32(5).Data());

    second.Close();
    QVERIFY(QTest::qWaitFor([] { return d.GetType(DNetChild)->ItemCount() == 0; }));
    QVERIFY(log.lines.contains("Child socket closed"));
}

void DNetChildrenTest::SearchesAreRelayedByteForByte()
{
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    DNetLink& bob = NewChild("bob");
    DNetLink& carol = NewChild("carol");

    const QByteArray search = SearchBody("dave", 0xfedcba98, QByteArray("j\0zz", 4));
    FromAbove(ByteBuilder().Raw(search));
    QCOMPARE(bob.Next(), search);
    QCOMPARE(carol.Next(), search);
    QCOMPARE(searches.count(), 1);
    QCOMPARE(searches[0][1].value<quint32>(), 0xfedcba98u);
    // We read text up to its first zero byte; the children get every byte.
    QCOMPARE(searches[0][2].value<std::string>(), std::string("j"));

    // Another marker: ours to pass on, whatever follows it, but not to read.
    const QByteArray opaque = DNet(3).UInt32(50).Raw("\x01\x02 anything at all");
    FromAbove(ByteBuilder().Raw(opaque));
    QCOMPARE(bob.Next(), opaque);
    QCOMPARE(carol.Next(), opaque);
    // Neither is a broken search: it is neither relayed nor read.
    FromAbove(DNet(3).UInt32(49).String("cut short"));
    FromAbove(DNet(4).Int32(0));
    QCOMPARE(bob.Next(), DNet(4).Int32(1).Data());
    QCOMPARE(searches.count(), 1);

    // Children talk only to us; nothing of theirs goes to their siblings.
    bob.Send(DNet(3).UInt32(49).String("bob").UInt32(1).String("up"));
    bob.Send(DNet(9));
    FromAbove(DNet(4).Int32(3));
    QCOMPARE(carol.Next(), DNet(4).Int32(1).Data());
    QCOMPARE(carol.Next(), DNet(4).Int32(4).Data());
    QCOMPARE(searches.count(), 1);
    QVERIFY(bob.IsOpen());

    // A new group leader goes down as it came, bytes past a zero included.
    const QByteArray leader = DNet(5).String(QByteArray("le\0ad", 5));
    FromAbove(ByteBuilder().Raw(leader));
    QCOMPARE(carol.Next(), leader);
    QCOMPARE(DNetState(State::GroupLeader), std::string("le"));
}

void DNetChildrenTest::UnknownLevelsStayUnknownDownTheTree()
{
    DNetLink& bob = NewChild("bob");
    FromAbove(DNet(4).Int32(-1));
    QCOMPARE(bob.Next(), DNet(4).Int32(-1).Data());
    QCOMPARE(DNetState(State::Level), std::string("-1"));
    QCOMPARE(S().TakeSent(), Sent(Body(126).UInt32(0xffffffff)));

    // The same level again is no news.
    FromAbove(DNet(4).Int32(-1));
    FromAbove(DNet(4).Int32(5));
    QCOMPARE(bob.Next(), DNet(4).Int32(6).Data());
    QCOMPARE(S().TakeSent(), Sent(Body(126).UInt32(6)));

    // Nonsense levels make ours unknown rather than wrap around.
    FromAbove(DNet(4).Int32(0x7fffffff));
    QCOMPARE(bob.Next(), DNet(4).Int32(-1).Data());
    FromAbove(DNet(4).Int32(-7));
    FromAbove(DNet(4).Int32(0));
    QCOMPARE(bob.Next(), DNet(4).Int32(1).Data());
}

void DNetChildrenTest::ChildDepthIsReportedWhenItChanges()
{
    DNetLogCapture log;
    // A parent hears our depth when it adopts us, and whenever it changes.
    DNetLink& parent = m_links.emplace_back();
    QVERIFY(parent.Open(*m_listener));
    Manager().OnDNetConnectionAccepted("paula", parent.Near());
    parent.Send(SearchBody("x", 1, "y"));
    QCOMPARE(parent.Next(), DNet(7).Int32(0).Data());
    S().TakeSent();

    DNetLink& bob = NewChild("bob");
    DNetLink& carol = NewChild("carol");
    QVERIFY(!HasDNetState(State::ChildDepth));

    bob.Send(DNet(7).Int32(0));
    QVERIFY(QTest::qWaitFor([] { return DNetState(State::ChildDepth) == "1"; }));
    QCOMPARE(S().TakeSent(), Sent(Body(129).Byte(1)));
    QCOMPARE(parent.Next(), DNet(7).Int32(1).Data());
    QVERIFY(log.lines.contains("Received child depth 0 from bob"));

    carol.Send(DNet(7).Int32(3));
    QVERIFY(QTest::qWaitFor([] { return DNetState(State::ChildDepth) == "4"; }));
    // The same depth again changes nothing.
    carol.Send(DNet(7).Int32(3));
    bob.Send(DNet(7).Int32(-9));
    QVERIFY(QTest::qWaitFor(
        [] { return UserItem("bob")[DNetChild][DNetChildDepth].AsString() == "-9"; }));
    QCOMPARE(DNetState(State::ChildDepth), std::string("4"));
    QCOMPARE(S().TakeSent(), Sent(Body(129).Byte(1)));
    QCOMPARE(parent.Next(), DNet(7).Int32(4).Data());

    // A child that goes takes its depth along.
    carol.Close();
    QVERIFY(QTest::qWaitFor([] { return !HasDNetState(State::ChildDepth); }));
    QCOMPARE(S().TakeSent(), Sent(Body(129).Byte(0)));
    QCOMPARE(parent.Next(), DNet(7).Int32(0).Data());

    // A depth that does not parse ends that child's connection only.
    DNetLink& dave = NewChild("dave");
    dave.Send(DNet(7).Byte(1));
    QVERIFY(dave.WaitClosed());
    QVERIFY(bob.IsOpen());
    QVERIFY(log.lines.contains("Error reading child depth, closing child connection"));
    dave.Close();
    DNetLink& erin = NewChild("erin");
    erin.Send(QByteArray());
    QVERIFY(erin.WaitClosed());
    QVERIFY(log.lines.contains("Error reading message code, closing child connection"));
}

QTEST_GUILESS_MAIN(DNetChildrenTest)
#include "DNetChildrenTest.moc"
