#include <list>
#include <memory>

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "../peers/PeerTestSupport.h"
#include "FramedSocket.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"
#include "server/ServerTypes.h"

using namespace DNetTypes;

namespace {

// A tree link: the far end plays the other client, the near end is ours.
class DNetLink : public FramedSocket
{
public:
    bool Open(QTcpServer& listener)
    {
        if (!Connect(listener.serverPort()) || !listener.waitForNewConnection(Timeout))
            return false;
        m_near = listener.nextPendingConnection();
        return m_near != nullptr;
    }
    QTcpSocket* Near() const { return m_near; }

private:
    QTcpSocket* m_near = nullptr;
};

// Tree messages, as laid out on a link: a one-byte code, then fields.
ByteBuilder DNet(std::uint8_t code)
{
    return ByteBuilder().Byte(code);
}

using Parents = std::list<std::pair<std::string, TCPAddress>>;

} // namespace

class DNetTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_session = std::make_unique<ServerSession>();
        m_manager = std::make_unique<DNetManager>();
        m_listener = std::make_unique<QTcpServer>();
        QVERIFY(m_listener->listen(QHostAddress::LocalHost));
        m_loginSent = LogIn();
    }
    void cleanup()
    {
        m_manager.reset();
        m_links.clear();
        m_session.reset();
    }

    void FirstCandidateToDeliverASearchBecomesParent();
    void LostParentIsReportedAndAttemptsAreNotRepeated();
    void BrokenInputClosesOnlyItsConnection();
    void ChildReconnectingReplacesItsOldConnection();
    void SearchesAreRelayedByteForByte();
    void ChildDepthGoesToTheServerAndUp();
    void LevelsGoDownTheTreeAndToTheServerAtEveryLogin();
    void ChildrenAreWelcomeWhileSpeedAllows();

private:
    static QByteArray Level(std::int32_t level) { return DNet(4).Int32(level); }
    static QByteArray Leader(const QByteArray& user) { return DNet(5).String(user); }
    static QByteArray Depth(std::int32_t depth) { return DNet(7).Int32(depth); }
    static QByteArray Search(const QByteArray& user, std::uint32_t token, const QByteArray& text)
    {
        return DNet(3).UInt32(49).String(user).UInt32(token).String(text);
    }
    static QByteArray LevelSent(std::uint32_t level) { return Sent(Body(126).UInt32(level)); }
    static QByteArray LeaderSent(const QByteArray& user) { return Sent(Body(127).String(user)); }
    static QByteArray HaveParentSent(bool have) { return Sent(Body(71).Byte(have)); }
    static QByteArray CanParentSent(bool can) { return Sent(Body(100).Byte(can)); }
    static QByteArray HaveChildrenSent(bool have) { return Sent(Body(129).Byte(have)); }

    static std::string StateOf(const char* name)
    {
        ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name);
        return variable && variable[DNetValue] ? variable[DNetValue].AsString() : std::string();
    }
    static QStringList Parent()
    {
        QStringList state;
        for (const char* name :
             {State::ParentUser, State::ParentSocket, State::Level, State::GroupLeader})
            state << QString::fromStdString(StateOf(name));
        return state;
    }
    ServerSession& S() { return *m_session; }
    DNetManager& Manager() { return *m_manager; }
    QByteArray LogIn()
    {
        if (!S().ConnectAs())
            return "not connected";
        S().scripted.TakeReceived();
        return S().AcceptLogin() ? S().TakeSent() : "not logged in";
    }
    DNetLink& NewLink()
    {
        DNetLink& link = m_links.emplace_back();
        if (!link.Open(*m_listener))
            qWarning("link did not open");
        return link;
    }
    DNetLink& NewChild(const char* user)
    {
        DNetLink& link = NewLink();
        Manager().OnDNetConnectionRequested(user, link.Near());
        return link;
    }
    DNetLink& NewCandidate(const char* user)
    {
        DNetLink& link = NewLink();
        Manager().OnDNetConnectionAccepted(user, link.Near());
        return link;
    }
    void Offer(Parents parents) { Manager().OnDNetPossibleParents(parents); }
    void FromAbove(const QByteArray& message) { S().Receive(Body(93).Raw(message)); }
    DNetLink& Adopt(const char* user);

    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<DNetManager> m_manager;
    std::unique_ptr<QTcpServer> m_listener;
    std::list<DNetLink> m_links;
    QByteArray m_loginSent;
};

DNetLink& DNetTest::Adopt(const char* user)
{
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    Offer({{user, TCPAddress(0x7f000001, 2235)}});
    DNetLink& link = NewCandidate(user);
    link.Send(Search("someone", 1, "first"));
    if (!QTest::qWaitFor([&] { return searches.count() == 1; }) ||
        StateOf(State::ParentUser) != user)
        qWarning("parent not adopted");
    return link;
}

void DNetTest::FirstCandidateToDeliverASearchBecomesParent()
{
    DNetLink& child = NewChild("carol");
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    Offer({{"paula", TCPAddress(0x7f000001, 2001)}, {"bob", TCPAddress(0x7f000001, 2002)}});
    DNetLink& paula = NewCandidate("paula");
    DNetLink& bob = NewCandidate("bob");
    QCOMPARE(CountOf(DNetParentCandidate), 2);
    // What candidates announce counts only once one of them proves itself.
    bob.Send(Level(6));
    paula.Send(Level(2));
    paula.Send(Leader("lead"));
    paula.Send(Search("dave", 66, "jazz"));
    QTRY_COMPARE(Calls(searches), QStringList{"dave|66|jazz"});
    const QString socket = QString::fromStdString(Value(paula.Near()).Text());
    QCOMPARE(Parent(), QStringList({"paula", socket, "3", "lead"}));
    QCOMPARE(CountOf(DNetParentCandidate), 0);
    QVERIFY(bob.WaitUntilClosed() && paula.IsOpen());
    // The child learns level and leader before the search itself.
    QCOMPARE(child.Next(3), Level(3) + Leader("lead") + Search("dave", 66, "jazz"));
    QCOMPARE(S().TakeSent(), LevelSent(3) + LeaderSent("lead") + HaveParentSent(true));
    QCOMPARE(paula.Next(), Depth(0));
    // Later lists of possible parents are not even looked at.
    Offer({{"frank", TCPAddress(1, 2)}});
    QVERIFY(!UserItem("frank"));
}

void DNetTest::LostParentIsReportedAndAttemptsAreNotRepeated()
{
    DNetLink& child = NewChild("carol");
    DNetLink& paula = Adopt("paula");
    FromAbove(Leader("lead"));
    QCOMPARE(child.Next(2), Search("someone", 1, "first") + Leader("lead"));
    S().TakeSent();
    paula.Disconnect();
    QVERIFY(QTest::qWaitFor([] { return Parent() == QStringList({"", "", "", ""}); }));
    QCOMPARE(S().TakeSent(), HaveParentSent(false) + LeaderSent("") + LevelSent(0xffffffff));
    QCOMPARE(child.Next(), Level(-1));
    // Nobody is tried twice in a run, nor are we (alice) our own parent.
    Offer({{"paula", TCPAddress(1, 2)},
           {"alice", TCPAddress(1, 2)},
           {"gina", TCPAddress(0x7f000001, 2003)}});
    QVERIFY(!UserItem("alice") || !UserItem("alice").IsConnected(AttemptedDNetConnection));
    // A candidate that goes away before it delivers leaves nothing behind.
    DNetLink& gina = NewCandidate("gina");
    QCOMPARE(CountOf(DNetParentCandidate), 1);
    gina.Disconnect();
    QVERIFY(QTest::qWaitFor([] { return CountOf(DNetParentCandidate) == 0; }));
    QVERIFY(StateOf(State::ParentUser).empty());
}

void DNetTest::BrokenInputClosesOnlyItsConnection()
{
    DNetLink& child = NewChild("carol");
    DNetLink& empty = NewCandidate("a");
    DNetLink& truncated = NewCandidate("b");
    DNetLink& huge = NewCandidate("c");
    DNetLink& good = NewCandidate("d");
    empty.Send(QByteArray());
    truncated.Send(DNet(3).UInt32(49).String("x").UInt32(5));
    huge.SendRaw(ByteBuilder().UInt32(1024 * 1024 + 1).Byte(3));
    QVERIFY(empty.WaitUntilClosed() && truncated.WaitUntilClosed() && huge.WaitUntilClosed());
    QCOMPARE(CountOf(DNetParentCandidate), 1);
    // Unknown codes, even in the largest body, keep the link; a late candidate goes.
    good.Send(DNet(9).Raw(QByteArray(1024 * 1024 - 1, 'x')));
    good.Send(Search("x", 2, "y"));
    QCOMPARE(child.Next(), Search("x", 2, "y"));
    QCOMPARE(StateOf(State::ParentUser), std::string("d"));
    QVERIFY(NewCandidate("e").WaitUntilClosed());
    // A broken level from above changes nothing; a child's close only it.
    FromAbove(DNet(4).Byte(1));
    FromAbove(Level(7));
    QCOMPARE(child.Next(), Level(8));
    QVERIFY(good.IsOpen());
    DNetLink& dave = NewChild("dave");
    dave.Send(DNet(7).Byte(1));
    QVERIFY(dave.WaitUntilClosed() && child.IsOpen());
}

void DNetTest::ChildReconnectingReplacesItsOldConnection()
{
    FromAbove(Level(1));
    FromAbove(Leader("lead"));
    QVERIFY(QTest::qWaitFor([] { return !StateOf(State::GroupLeader).empty(); }));
    // A new child hears where it stands right away.
    DNetLink& first = NewChild("bob");
    QCOMPARE(first.Next(2), Level(2) + Leader("lead"));
    DNetLink& second = NewChild("bob");
    QVERIFY(first.WaitUntilClosed());
    QCOMPARE(CountOf(DNetChild), 1);
    QCOMPARE(UserItem("bob")[DNetChild].AsString(), Value(second.Near()).Text());
    QCOMPARE(second.Next(2), Level(2) + Leader("lead"));
    FromAbove(Level(4));
    QCOMPARE(second.Next(), Level(5));
}

void DNetTest::SearchesAreRelayedByteForByte()
{
    QSignalSpy searches(&Manager(), &DNetManager::DNetSearchRequest);
    DNetLink& bob = NewChild("bob");
    DNetLink& carol = NewChild("carol");
    // We read text up to a zero byte, children get all; another marker is only passed on.
    const QByteArray search = Search("dave", 0xfedcba98, QByteArray("j\0zz", 4));
    const QByteArray opaque = DNet(3).UInt32(50).Raw("\x01\x02 anything at all");
    FromAbove(search);
    FromAbove(opaque);
    QCOMPARE(bob.Next(2), search + opaque);
    QCOMPARE(carol.Next(2), search + opaque);
    QCOMPARE(Calls(searches), QStringList{"dave|4275878552|j"});
    // A broken search is neither relayed nor read.
    FromAbove(DNet(3).UInt32(49).String("cut short"));
    FromAbove(Level(0));
    QCOMPARE(bob.Next(), Level(1));
    QCOMPARE(searches.count(), 1);
    // Children talk only to us; nothing of theirs goes to their siblings.
    bob.Send(Search("bob", 1, "up"));
    bob.Send(DNet(9));
    FromAbove(Level(3));
    QCOMPARE(carol.Next(2), Level(1) + Level(4));
    QCOMPARE(searches.count(), 1);
    QVERIFY(bob.IsOpen());
    // A new group leader goes down as it came, bytes past a zero included.
    const QByteArray leader = Leader(QByteArray("le\0ad", 5));
    FromAbove(leader);
    QCOMPARE(carol.Next(), leader);
    QCOMPARE(StateOf(State::GroupLeader), std::string("le"));
}

void DNetTest::LevelsGoDownTheTreeAndToTheServerAtEveryLogin()
{
    QCOMPARE(m_loginSent, HaveParentSent(false) + LeaderSent("") + LevelSent(0xffffffff));
    DNetLink& bob = NewChild("bob");
    FromAbove(Level(-1));
    QCOMPARE(bob.Next(), Level(-1));
    QCOMPARE(StateOf(State::Level), std::string("-1"));
    QCOMPARE(S().TakeSent(), LevelSent(0xffffffff));
    // Nonsense levels make ours unknown rather than wrap around.
    FromAbove(Level(-1));
    FromAbove(Level(5));
    QCOMPARE(bob.Next(), Level(6));
    FromAbove(Level(0x7fffffff));
    QCOMPARE(bob.Next(), Level(-1));
    FromAbove(Level(-7));
    FromAbove(Level(2));
    FromAbove(Leader("lead"));
    QCOMPARE(bob.Next(2), Level(3) + Leader("lead"));
    QCOMPARE(S().TakeSent(),
             LevelSent(6) + LevelSent(0xffffffff) + LevelSent(3) + LeaderSent("lead"));
    S().server->Disconnect();
    QCOMPARE(LogIn(), HaveParentSent(false) + LeaderSent("lead") + LevelSent(3));
}

void DNetTest::ChildDepthGoesToTheServerAndUp()
{
    DNetLink& parent = Adopt("paula");
    QCOMPARE(parent.Next(), Depth(0));
    S().TakeSent();
    // A child's first message may be waiting when its socket is handed over.
    DNetLink& bob = NewLink();
    bob.Send(Depth(3));
    QVERIFY(QTest::qWaitFor([&bob] { return bob.Near()->bytesAvailable() > 0; }));
    Manager().OnDNetConnectionRequested("bob", bob.Near());
    QCOMPARE(parent.Next(), Depth(4));
    QCOMPARE(S().TakeSent(), HaveChildrenSent(true));
}

void DNetTest::ChildrenAreWelcomeWhileSpeedAllows()
{
    LogCapture log;
    // Nothing is decided before both figures are known.
    Settings::Set("upload_speed", 102400);
    S().Receive(Body(83).Int32(50));
    QCOMPARE(S().TakeSent(), QByteArray());
    // 100 KiB/s, at least 50 KiB/s for a parent, ten units per child: room
    // for ((102400 * 10) / 1024) / 10 = 100 children.
    S().Receive(Body(84).Int32(10));
    QCOMPARE(S().TakeSent(), CanParentSent(true));
    QVERIFY(Manager().CanParent());
    QVERIFY(log.lines.contains(
        "Distributed Network|   Currently have 0 child connections, max capacity 100"));
    const std::pair<int, QByteArray> speeds[] = {
        {51199, CanParentSent(false)}, {51200, CanParentSent(true)}, {60000, QByteArray()}};
    for (const auto& [speed, sent] : speeds) {
        Settings::Set("upload_speed", speed);
        QCOMPARE(S().TakeSent(), sent);
    }
    // A ratio of 0 would divide by zero: no children then.
    S().Receive(Body(84).Int32(0));
    QCOMPARE(S().TakeSent(), CanParentSent(false));
    QVERIFY(!Manager().CanParent());
    // Room for exactly one child: it is taken, and freed again.
    S().Receive(Body(83).Int32(1));
    S().Receive(Body(84).Int32(10));
    QCOMPARE(S().TakeSent(), CanParentSent(true));
    Settings::Set("upload_speed", 2047);
    QCOMPARE(S().TakeSent(), QByteArray());
    NewChild("bob").Disconnect();
    QVERIFY(QTest::qWaitFor([] { return CountOf(DNetChild) == 0; }));
    QCOMPARE(S().TakeSent(), CanParentSent(false) + CanParentSent(true));
}

QTEST_GUILESS_MAIN(DNetTest)
#include "DNetTest.moc"
