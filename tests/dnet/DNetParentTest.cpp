#include <memory>

#include "DNetTestSupport.h"

using namespace DNetTypes;

namespace {

using Parents = std::list<std::pair<std::string, TCPAddress>>;

std::size_t CountOf(const char* type)
{
    return d.GetType(type)->ItemCount();
}

} // namespace

class DNetParentTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup();

    void FirstCandidateToDeliverASearchBecomesParent();
    void LostParentIsReportedAndAttemptsAreNotRepeated();
    void BrokenInputClosesOnlyItsConnection();

private:
    ServerSession& S() { return *m_session; }
    DNetManager& Manager() { return *m_manager; }
    DNetLink& NewLink();
    // Offers the users as possible parents, so they count as attempted.
    void Offer(const Parents& parents);
    // Makes `link` our parent under the user name.
    bool Adopt(DNetLink& link, const char* user);

    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<DNetManager> m_manager;
    std::unique_ptr<QTcpServer> m_listener;
    std::list<DNetLink> m_links;
};

void DNetParentTest::init()
{
    d.RemoveAllItems();
    m_session = std::make_unique<ServerSession>();
    QVERIFY(S().LogIn());
    S().TakeSent();
    m_manager = std::make_unique<DNetManager>();
    m_listener = std::make_unique<QTcpServer>();
    QVERIFY(m_listener->listen(QHostAddress::LocalHost));
}

void DNetParentTest::cleanup()
{
    m_manager.reset();
    m_links.clear();
    m_listener.reset();
    m_session.reset();
}

DNetLink& DNetParentTest::NewLink()
{
    DNetLink& link = m_links.emplace_back();
    if (!link.Open(*m_listener))
        qWarning("link did not open");
    return link;
}

void DNetParentTest::Offer(const Parents& parents)
{
    Parents list = parents;
    Manager().OnDNetPossibleParents(list);
}

bool DNetParentTest::Adopt(DNetLink& link, const char* user)
{
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    Offer({{user, TCPAddress(0x7f000001, 2235)}});
    Manager().OnDNetConnectionAccepted(user, link.Near());
    link.Send(SearchBody("someone", 1, "first"));
    return QTest::qWaitFor([&] { return searches.count() == 1; }) &&
           DNetState(State::ParentUser) == user;
}

void DNetParentTest::FirstCandidateToDeliverASearchBecomesParent()
{
    DNetLogCapture log;
    DNetLink& paula = NewLink();
    DNetLink& bob = NewLink();
    DNetLink& child = NewLink();
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    Offer({{"paula", TCPAddress(0x7f000001, 2001)}, {"bob", TCPAddress(0x7f000001, 2002)}});
    QCOMPARE(UserItem("paula")[PeerTypes::UserAddress].AsString(), std::string("2130706433"));
    QCOMPARE(UserItem("bob")[PeerTypes::UserPort].AsString(), std::string("2002"));

    Manager().OnDNetConnectionRequested("carol", child.Near());
    Manager().OnDNetConnectionAccepted("paula", paula.Near());
    Manager().OnDNetConnectionAccepted("bob", bob.Near());
    QCOMPARE(CountOf(DNetParentCandidate), std::size_t(2));

    // What candidates announce is only remembered until one of them proves itself.
    bob.Send(DNet(4).Int32(6));
    paula.Send(DNet(4).Int32(2));
    paula.Send(DNet(5).String("lead"));
    const QByteArray search = SearchBody("dave", 66, "jazz");
    paula.Send(search);
    QVERIFY(QTest::qWaitFor([&] { return searches.count() == 1; }));
    QCOMPARE(searches[0][0].value<std::string>(), std::string("dave"));
    QCOMPARE(searches[0][1].value<quint32>(), 66u);
    QCOMPARE(searches[0][2].value<std::string>(), std::string("jazz"));

    QCOMPARE(DNetState(State::ParentUser), std::string("paula"));
    QCOMPARE(DNetState(State::ParentSocket), Value(paula.Near()).Text());
    QCOMPARE(DNetState(State::Level), std::string("3"));
    QCOMPARE(DNetState(State::GroupLeader), std::string("lead"));
    QCOMPARE(CountOf(DNetParentCandidate), std::size_t(0));
    QVERIFY(bob.WaitClosed());
    QVERIFY(paula.IsOpen());

    // The child learns the new level and leader before the search itself.
    QCOMPARE(child.Next(), DNet(4).Int32(3).Data());
    QCOMPARE(child.Next(), DNet(5).String("lead").Data());
    QCOMPARE(child.Next(), search);
    QCOMPARE(S().TakeSent(),
             Sent(Body(126).UInt32(3)) + Sent(Body(127).String("lead")) + Sent(Body(71).Byte(1)));
    QCOMPARE(paula.Next(), DNet(7).Int32(0).Data());
    QVERIFY(log.lines.contains("Received first search request from parent candidate paula, "
                               "adopting as parent."));
    QVERIFY(log.lines.contains("   Level recorded as 3."));

    // From now on the parent's searches are ours and our children's.
    const QByteArray next = SearchBody("erin", 67, "blues");
    paula.Send(next);
    QCOMPARE(child.Next(), next);
    QCOMPARE(searches.count(), 2);

    // A parent settles the matter: later lists are not even looked at.
    Offer({{"frank", TCPAddress(1, 2)}});
    QVERIFY(!UserItem("frank"));
    QVERIFY(log.lines.contains(
        "Received possible parents list, but already have a parent. Not processing."));
}

void DNetParentTest::LostParentIsReportedAndAttemptsAreNotRepeated()
{
    DNetLogCapture log;
    DNetLink& paula = NewLink();
    DNetLink& child = NewLink();
    Manager().OnDNetConnectionRequested("carol", child.Near());
    QVERIFY(Adopt(paula, "paula"));
    S().Receive(Body(93).Raw(DNet(5).String("lead")));
    QCOMPARE(child.Next(), SearchBody("someone", 1, "first").Data());
    QCOMPARE(child.Next(), DNet(5).String("lead").Data());
    S().TakeSent();

    paula.Close();
    QVERIFY(QTest::qWaitFor([] { return !HasDNetState(State::ParentUser); }));
    QVERIFY(!HasDNetState(State::ParentSocket));
    QVERIFY(!HasDNetState(State::Level));
    QVERIFY(!HasDNetState(State::GroupLeader));
    QCOMPARE(S().TakeSent(), Sent(Body(71).Byte(0)) + Sent(Body(127).String("")) +
                                 Sent(Body(126).UInt32(0xffffffff)));
    QCOMPARE(child.Next(), DNet(4).Int32(-1).Data());
    QVERIFY(log.lines.contains("Parent socket closed"));

    // Nobody is tried twice in a run.
    log.lines.clear();
    // Nor are we ever our own parent (the session logs in as alice).
    Offer({{"paula", TCPAddress(1, 2)},
           {"alice", TCPAddress(1, 2)},
           {"gina", TCPAddress(0x7f000001, 2003)}});
    QVERIFY(!UserItem("alice") || !UserItem("alice").IsConnected(AttemptedDNetConnection));
    QCOMPARE(log.lines, QStringList({"Received possible parents list, 3 entries",
                                     "   Already attempted parent connection to paula, skipping",
                                     "   Attempting parent connection to gina"}));
    QVERIFY(UserItem("gina").IsConnected(AttemptedDNetConnection));
    QCOMPARE(UserItem("gina")[PeerTypes::UserPort].AsString(), std::string("2003"));
    // The old address stays: nothing was attempted.
    QCOMPARE(UserItem("paula")[PeerTypes::UserPort].AsString(), std::string("2235"));

    // A candidate that goes away before it delivers leaves nothing behind.
    DNetLink& gina = NewLink();
    Manager().OnDNetConnectionAccepted("gina", gina.Near());
    QCOMPARE(CountOf(DNetParentCandidate), std::size_t(1));
    gina.Close();
    QVERIFY(QTest::qWaitFor([] { return CountOf(DNetParentCandidate) == 0; }));
    QVERIFY(log.lines.contains("Parent candidate socket closed"));
    QVERIFY(!HasDNetState(State::ParentUser));
}

void DNetParentTest::BrokenInputClosesOnlyItsConnection()
{
    DNetLogCapture log;
    DNetLink& empty = NewLink();
    DNetLink& truncated = NewLink();
    DNetLink& huge = NewLink();
    DNetLink& good = NewLink();
    DNetLink& child = NewLink();
    Manager().OnDNetConnectionRequested("carol", child.Near());
    for (auto [name, link] : {std::pair{"a", &empty}, std::pair{"b", &truncated},
                              std::pair{"c", &huge}, std::pair{"d", &good}})
        Manager().OnDNetConnectionAccepted(name, link->Near());

    empty.Send(QByteArray());
    truncated.Send(DNet(3).UInt32(49).String("x").UInt32(5));
    huge.SendRaw(ByteBuilder().UInt32(0x7fffffff).Byte(3));
    QVERIFY(empty.WaitClosed());
    QVERIFY(truncated.WaitClosed());
    QVERIFY(huge.WaitClosed());
    QVERIFY(log.lines.contains("Error reading message code, closing parent/candidate connection"));
    QCOMPARE(CountOf(DNetParentCandidate), std::size_t(1));

    // Unknown codes are no reason to close; the survivor still becomes parent.
    good.Send(DNet(9).UInt32(1));
    good.Send(SearchBody("x", 2, "y"));
    QCOMPARE(child.Next(), SearchBody("x", 2, "y").Data());
    QCOMPARE(DNetState(State::ParentUser), std::string("d"));

    // A late candidate is turned away at once.
    DNetLink& late = NewLink();
    Manager().OnDNetConnectionAccepted("e", late.Near());
    QVERIFY(late.WaitClosed());
    QVERIFY(log.lines.contains("   Rejecting, already have parent"));

    // Broken embedded messages have no connection to close and change nothing.
    S().Receive(Body(93));
    S().Receive(Body(93).Raw(DNet(4).Byte(1)));
    S().Receive(Body(93).Raw(DNet(3).UInt32(49).String("cut")));
    S().Receive(Body(93).Raw(DNet(4).Int32(7)));
    QCOMPARE(child.Next(), DNet(4).Int32(8).Data());
    QVERIFY(good.IsOpen());
    QCOMPARE(DNetState(State::ParentUser), std::string("d"));
}

QTEST_GUILESS_MAIN(DNetParentTest)
#include "DNetParentTest.moc"
