#include <memory>

#include "../peers/PeerTestSupport.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"

using namespace DNetTypes;

namespace {

std::string StateOf(const char* name)
{
    ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name);
    return variable ? variable[DNetValue].AsString() : std::string();
}

QByteArray SearchFrame(const QByteArray& user, std::uint32_t token, const QByteArray& text)
{
    return PeerFrame(ByteBuilder().Byte(3).UInt32(49).String(user).UInt32(token).String(text));
}

} // namespace

// The links of the tree as the peer messenger makes them: proposed parents
// are reached through it, and the sockets it identifies as "D" come to us.
class DNetHandOverTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup();

    void ProposedParentIsReachedAndAdopted();
    void ChildIsTakenWithWhatItSentAlready();

private:
    ServerSession& S() { return m_peers->Server(); }

    std::unique_ptr<PeerSession> m_peers;
    std::unique_ptr<DNetManager> m_manager;
};

void DNetHandOverTest::init()
{
    d.RemoveAllItems();
    m_peers = std::make_unique<PeerSession>();
    QVERIFY(m_peers->LogIn());
    S().TakeSent();
    m_manager = std::make_unique<DNetManager>();
}

void DNetHandOverTest::cleanup()
{
    m_manager.reset();
    m_peers.reset();
}

void DNetHandOverTest::ProposedParentIsReachedAndAdopted()
{
    QSignalSpy searches(m_manager.get(), &DNetManager::DNetSearchRequest);
    ScriptedPeer paula;
    S().Receive(Body(102).UInt32(1).String("paula").UInt32(0x7f000001).Int32(paula.Port()));
    QCOMPARE(paula.Take(18), InitFrame("alice", "D"));
    QTRY_COMPARE(d.GetType(DNetParentCandidate)->ItemCount(), std::size_t(1));

    paula.Connection(0)->write(SearchFrame("dave", 5, "jazz"));
    QTRY_COMPARE(searches.count(), 1);
    QCOMPARE(StateOf(State::ParentUser), std::string("paula"));
    // The new parent hears our depth.
    QCOMPARE(paula.Take(9), PeerFrame(ByteBuilder().Byte(7).Int32(0)));
    QVERIFY(S().TakeSent().endsWith(Sent(Body(71).Byte(1))));
}

void DNetHandOverTest::ChildIsTakenWithWhatItSentAlready()
{
    // The child's first message arrives with its greeting, before the
    // socket is ours.
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, m_peers->Port());
    QVERIFY(bob.waitForConnected(5000));
    bob.write(InitFrame("bob", "D") + PeerFrame(ByteBuilder().Byte(7).Int32(2)));
    QTRY_COMPARE(StateOf(State::ChildDepth), std::string("3"));
    QCOMPARE(
        UserItem("bob")[DNetChild].AsString(),
        Value(m_manager->findChild<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly)).Text());

    // From now on it hears what comes down the tree.
    S().Receive(Body(93).Byte(3).UInt32(49).String("dave").UInt32(6).String("blues"));
    const QByteArray search = SearchFrame("dave", 6, "blues");
    QVERIFY(QTest::qWaitFor([&] { return bob.bytesAvailable() >= search.size(); }));
    QCOMPARE(bob.readAll(), search);
}

QTEST_GUILESS_MAIN(DNetHandOverTest)
#include "DNetHandOverTest.moc"
