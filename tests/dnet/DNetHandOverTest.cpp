#include <memory>

#include "../peers/PeerTestSupport.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"

using namespace DNetTypes;

// The links of the tree as the peer messenger makes them: proposed parents
// are reached through it, and the sockets it identifies as "D" come to us.
class DNetHandOverTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_peers = std::make_unique<PeerSession>();
        QVERIFY(m_peers->LogIn());
        m_manager = std::make_unique<DNetManager>();
    }
    void cleanup()
    {
        m_manager.reset();
        m_peers.reset();
    }

    void ProposedParentIsReachedAndAdopted();
    void ChildIsTakenWithWhatItSentAlready();

private:
    ServerSession& S() { return m_peers->Server(); }
    static std::string StateOf(const char* name)
    {
        ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name);
        return variable ? variable[DNetValue].AsString() : std::string();
    }
    static QByteArray Search(const QByteArray& user, std::uint32_t token, const QByteArray& text)
    {
        return ByteBuilder().Byte(3).UInt32(49).String(user).UInt32(token).String(text);
    }

    std::unique_ptr<PeerSession> m_peers;
    std::unique_ptr<DNetManager> m_manager;
};

void DNetHandOverTest::ProposedParentIsReachedAndAdopted()
{
    QSignalSpy searches(m_manager.get(), &DNetManager::DNetSearchRequest);
    ScriptedPeer paula;
    S().Receive(Body(102).UInt32(1).String("paula").UInt32(0x7f000001).Int32(paula.Port()));
    QCOMPARE(paula.Take(18), InitFrame("alice", "D"));
    QTRY_COMPARE(CountOf(DNetParentCandidate), 1);

    paula.Connection(0)->write(PeerFrame(Search("dave", 5, "jazz")));
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
    S().Receive(Body(93).Raw(Search("dave", 6, "blues")));
    QCOMPARE(ReadAtLeast(bob, 30), PeerFrame(Search("dave", 6, "blues")));
}

QTEST_GUILESS_MAIN(DNetHandOverTest)
#include "DNetHandOverTest.moc"
