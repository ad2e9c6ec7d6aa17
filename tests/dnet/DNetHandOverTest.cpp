#include <memory>

#include "../peers/PeerTestSupport.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"

using namespace DNetTypes;

// The tree's links as the peer messenger makes them: proposed parents are
// reached through it, and the sockets it identifies as "D" come to us.
class DNetHandOverTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void ParentAndChildLinksComeThroughTheMessenger();

private:
    static std::string StateOf(const char* name)
    {
        ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name);
        return variable ? variable[DNetValue].AsString() : std::string();
    }
    static QByteArray Search(const QByteArray& user, std::uint32_t token, const QByteArray& text)
    {
        return PeerFrame(ByteBuilder().Byte(3).UInt32(49).String(user).UInt32(token).String(text));
    }
};

void DNetHandOverTest::ParentAndChildLinksComeThroughTheMessenger()
{
    PeerSession peers;
    QVERIFY(peers.LogIn());
    DNetManager manager;
    QSignalSpy searches(&manager, &DNetManager::DNetSearchRequest);
    ScriptedPeer paula;
    peers.Server().Receive(
        Body(102).UInt32(1).String("paula").UInt32(0x7f000001).Int32(paula.Port()));
    QCOMPARE(paula.Take(18), InitFrame("alice", "D"));
    QTRY_COMPARE(CountOf(DNetParentCandidate), 1);
    QVERIFY(paula.Write(Search("dave", 5, "jazz")));
    QTRY_COMPARE(searches.count(), 1);
    QCOMPARE(StateOf(State::ParentUser), std::string("paula"));
    // The new parent hears our depth.
    QCOMPARE(paula.Take(9), PeerFrame(ByteBuilder().Byte(7).Int32(0)));
    QVERIFY(peers.Server().TakeSent().endsWith(Sent(Body(71).Byte(1))));

    // A child's first message may come with its greeting, before the socket
    // is ours; from then on it hears what comes down the tree.
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, peers.Port());
    QVERIFY(bob.waitForConnected(5000));
    bob.write(InitFrame("bob", "D") + PeerFrame(ByteBuilder().Byte(7).Int32(2)));
    QTRY_COMPARE(StateOf(State::ChildDepth), std::string("3"));
    QTcpSocket* child = SocketOf(UserItem("bob")[DNetChild]);
    QVERIFY(child);
    QCOMPARE(child->peerPort(), bob.localPort());
    QVERIFY(paula.Write(Search("dave", 6, "blues")));
    QCOMPARE(ReadAtLeast(bob, 30), Search("dave", 6, "blues"));
}

QTEST_GUILESS_MAIN(DNetHandOverTest)
#include "DNetHandOverTest.moc"
