#include <QSignalSpy>
#include <QtTest>

#include "ServerTestSupport.h"
#include "dnet/DNetMessages.h"
#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"

using namespace ServerTypes;

namespace {

ItemPtr Find(const char* type, const char* value)
{
    return d.GetType(type)->HasItem(value);
}

// What the store holds of a user: its flags, then its values.
QString Facts(const char* name)
{
    using Fact = std::pair<QString, const char*>;
    ItemPtr user = Find(User, name);
    QStringList facts;
    for (const auto& [label, type] :
         {Fact{"online", IsOnline}, Fact{"privileged", IsPrivileged}, Fact{"tracked", IsTracked},
          Fact{"asked", UserAddressRequest}, Fact{"ip=", PeerTypes::UserAddress},
          Fact{"port=", PeerTypes::UserPort}, Fact{"obfuscated=", PeerTypes::UserObfuscatedPort},
          Fact{"country=", CountryCode}, Fact{"speed=", AverageDownloadSpeed},
          Fact{"files=", SharedFilesCount}})
        if (user && user.IsConnected(type))
            facts << label + (label.endsWith('=') ? user[type].AsString().c_str() : "");
    return user ? facts.join(' ') : "absent";
}

std::set<std::string> Members(const char* room)
{
    std::set<std::string> values;
    for (Item* item : Find(Room, room).GetItems(User))
        values.insert(item->AsString());
    return values;
}

// The users linked to a room through its operator items.
std::set<std::string> Operators(const char* room)
{
    std::set<std::string> names;
    for (Item* link : Find(Room, room).GetItems(RoomOperator))
        names.insert(ItemPtr(link)[User].AsString());
    return names;
}

ByteBuilder Stats(int speed, int files)
{
    return ByteBuilder().Int32(speed).UInt32(0).UInt32(0).Int32(files).Int32(2);
}

} // namespace

class ServerCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup() { m_session.reset(); }

    void UserCodesSetAddressesOnlineStateAndPrivileges();
    void RoomCodesReplaceMembersOwnerAndOperators();
    void OtherCodesAreStoredOrSignalled();
    void SendingMethodsWriteTheirMessagesWhenDue();

private:
    ServerSession& S() { return *m_session; }
    Server& server() { return *m_session->server; }
    void Receive(const ByteBuilder& body) { S().Receive(body); }
    template <class... Bodies> bool Handled(const Bodies&... bodies)
    {
        return S().Handled(bodies...);
    }

    std::unique_ptr<ServerSession> m_session;
};

void ServerCatalogueTest::init()
{
    d.RemoveAllItems();
    m_session = std::make_unique<ServerSession>();
    QVERIFY(S().LogIn());
}

void ServerCatalogueTest::UserCodesSetAddressesOnlineStateAndPrivileges()
{
    server().GetUserAddress("bob");
    QCOMPARE(Facts("bob"), QString("asked"));
    QVERIFY(Handled(Body(3).String("bob").UInt32(0x0100007f).Int32(2235).Int32(1).Int32(8973)));
    QCOMPARE(Facts("bob"), QString("ip=16777343 port=2235 obfuscated=8973"));
    // Another obfuscation type gives no such port; a cut body, zeros.
    QVERIFY(Handled(Body(3).String("bob").UInt32(2).Int32(9000).Int32(0).Int32(8973),
                    Body(3).String("carol")));
    QCOMPARE(Facts("bob"), QString("ip=2 port=9000 obfuscated=0"));
    QCOMPARE(Facts("carol"), QString("ip=0 port=0 obfuscated=0"));

    QSignalSpy replies(&server(), &Server::AddUserResponse);
    // Away (status 1) is online, with its country.
    QVERIFY(Handled(Body(5).String("dave").Byte(1).Int32(1).Raw(Stats(10, 3)).String("DE")));
    QCOMPARE(Facts("dave"), QString("online country=DE"));
    QVERIFY(Handled(Body(5).String("dave").Byte(1).Int32(0).Raw(Stats(10, 3)),
                    Body(5).String("ghost").Byte(0)));
    QCOMPARE(Facts("dave"), QString("country=DE"));
    QCOMPARE(Facts("ghost"), QString("absent"));
    QCOMPARE(replies.count(), 3);
    QCOMPARE(replies.at(2).at(0).value<std::string>(), std::string("ghost"));
    QVERIFY(replies.at(0).at(1).toBool());
    QVERIFY(!replies.at(2).at(1).toBool());

    // A status grants privileges but never takes them away.
    QVERIFY(Handled(Body(7).String("erin").Int32(1).Byte(1)));
    QCOMPARE(Facts("erin"), QString("online privileged"));
    Receive(Body(7).String("erin").Int32(0).Byte(0));
    // A privileged list shorter than its count keeps the names it has.
    QVERIFY(Handled(Body(69).UInt32(5).String("only-one")));
    QCOMPARE(Facts("erin"), QString("privileged"));
    QCOMPARE(Facts("only-one"), QString("privileged"));
}

void ServerCatalogueTest::RoomCodesReplaceMembersOwnerAndOperators()
{
    ItemPtr lobby = d.GetType(Room)->GetItem("lobby");
    lobby.Connect(d.GetType(User)->GetItem("old"));
    lobby.NewItem(RoomOperator).Connect(d.GetType(User)->GetItem("formerop"));
    ByteBuilder entered = Body(14).String("lobby").UInt32(2).String("bob").String("carol");
    entered.UInt32(2).Int32(1).Int32(1).UInt32(2).Raw(Stats(100, 7)).Raw(Stats(200, 8));
    entered.UInt32(2).Int32(0).Int32(0).UInt32(2).String("SE").String("NO");
    QVERIFY(Handled(entered.String("boss").UInt32(2).String("op1").String("op2")));
    QVERIFY(lobby.IsConnected(InRoom));
    QCOMPARE(Members("lobby"), (std::set<std::string>{"bob", "carol"}));
    QCOMPARE(Facts("bob"), QString("country=SE speed=100 files=7"));
    QCOMPARE(Facts("carol"), QString("country=NO speed=200 files=8"));
    QCOMPARE(lobby[RoomOwner][User].AsString(), std::string("boss"));
    QCOMPARE(Operators("lobby"), (std::set<std::string>{"op1", "op2"}));

    // Without the owner part only the members change.
    QVERIFY(
        Handled(Body(14).String("lobby").UInt32(1).String("dave").UInt32(0).UInt32(0).UInt32(0)));
    QCOMPARE(Members("lobby"), std::set<std::string>{"dave"});
    QCOMPARE(Operators("lobby"), (std::set<std::string>{"op1", "op2"}));
    QVERIFY(!Find(User, "dave")[AverageDownloadSpeed]);

    QVERIFY(Handled(
        Body(16).String("lobby").String("bob").Int32(1).Raw(Stats(300, 9)).Int32(0).String("FI"),
        Body(17).String("lobby").String("dave"), Body(17).String("lobby").String("stranger")));
    QCOMPARE(Members("lobby"), std::set<std::string>{"bob"});
    QCOMPARE(Facts("bob"), QString("country=FI speed=300 files=9"));
    QVERIFY(!Find(User, "stranger"));
    // A cut join still joins an (empty-named) user.
    QVERIFY(Handled(Body(16).String("lobby")));
    QCOMPARE(Members("lobby"), (std::set<std::string>{"", "bob"}));

    // A name above the limit ends the members; a count above it, the room.
    QVERIFY(Handled(Body(14).String("lobby").UInt32(3).String("a").String("b").String(
        QByteArray(131073, 'x'))));
    QCOMPARE(Members("lobby"), (std::set<std::string>{"a", "b"}));
    QVERIFY(Handled(Body(14).String("lobby").UInt32(0x20001)));
    QVERIFY(Members("lobby").empty());
    QVERIFY(Handled(Body(14).String("lobby").UInt32(1).String("bob"), Body(15).String("lobby"),
                    Body(15).String("elsewhere")));
    QVERIFY(!lobby.IsConnected(InRoom));
    QVERIFY(Members("lobby").empty());
    QVERIFY(!Find(Room, "elsewhere"));

    ByteBuilder list = Body(64).UInt32(3).String("a").String("b").String("c").UInt32(2);
    list.Int32(1).Int32(2).UInt32(1).String("d").UInt32(2).Int32(4).Int32(5).UInt32(0).UInt32(0);
    QVERIFY(Handled(list.UInt32(1).String("private").UInt32(1).Int32(9)));
    QCOMPARE(Find(Room, "a")[UserCount].AsString(), std::string("1"));
    QCOMPARE(Find(Room, "b")[UserCount].AsString(), std::string("2"));
    QVERIFY(!Find(Room, "c") || !Find(Room, "c")[UserCount]);
    QCOMPARE(Find(Room, "d")[UserCount].AsString(), std::string("4"));
    QVERIFY(!Find(Room, "private"));
}

void ServerCatalogueTest::OtherCodesAreStoredOrSignalled()
{
    ByteBuilder request = Body(18).String("bob").String("P").UInt32(0x0100007f).Int32(2235);
    QVERIFY(Handled(
        request.UInt32(77).Byte(1).Int32(1).Int32(8973),
        Body(18).String("carol").String("F").UInt32(5).Int32(6).UInt32(78).Byte(0).Int32(0)));
    ItemSet requests = d.GetType(PeerTypes::PeerConnectionRequest)->GetItems();
    QCOMPARE(requests.size(), std::size_t(2));
    ItemPtr bobs = requests.Connected(Find(User, "bob"));
    QCOMPARE(bobs[PeerTypes::PeerConnectionRequestId].AsString(), std::string("77"));
    QCOMPARE(bobs[PeerTypes::PeerConnectionType].AsString(), std::string("P"));
    QCOMPARE(Facts("bob"), QString("privileged ip=16777343 port=2235 obfuscated=8973"));
    QCOMPARE(Facts("carol"), QString("ip=5 port=6 obfuscated=0"));

    // Private messages are acknowledged; the server's may ask for privileges.
    QSignalSpy chats(&server(), &Server::PrivateChat);
    Receive(Body(22).UInt32(5).UInt32(1700000000).String("bob").String("hi").Byte(1));
    Receive(Body(22).UInt32(6).UInt32(0).String("server").String("your privileges grew").Byte(0));
    QCOMPARE(S().TakeSent(), Sent(Body(23).UInt32(5)) + Sent(Body(23).UInt32(6)) + Sent(Body(92)));
    QVERIFY(!chats.isEmpty()); // Sync adds messages of its own
    QCOMPARE(chats.at(0).at(1).value<std::string>(), std::string("hi"));
    QCOMPARE(chats.at(0).at(2).value<qint64>(), qint64(1700000000));
    QVERIFY(chats.at(0).at(3).toBool());

    QSignalSpy privileges(&server(), &Server::ReceivedOwnPrivilegesStatus);
    QSignalSpy chat(&server(), &Server::RoomChat);
    QSignalSpy stats(&server(), &Server::ReceivedUserStats);
    QSignalSpy minSpeed(&server(), &Server::DNetParentMinSpeed);
    QSignalSpy ratio(&server(), &Server::DNetParentSpeedConnectionRatio);
    QSignalSpy report(&server(), &Server::DNetDeliveryReport);
    QSignalSpy reset(&server(), &Server::DNetReset);
    QSignalSpy failure(&server(), &Server::IndirectPeerConnectionFailure);
    DNetMessages::SearchRequest search;
    unsigned char code = 0;
    connect(&server(), &Server::DNetMessage, this,
            [&](MemStream& body) { QVERIFY(body.Read(code) && search.Read(body)); });
    using Parents = std::list<std::pair<std::string, TCPAddress>>;
    QList<Parents> lists;
    connect(&server(), &Server::DNetPossibleParents, this, [&](Parents& p) { lists << p; });
    Receive(Body(92).Int32(3600));
    Receive(Body(13).String("lobby").String("bob").String("hello"));
    Receive(Body(36).String("bob").Raw(Stats(55, 66)));
    Receive(Body(83).Int32(-1));
    Receive(Body(84).Int32(50));
    Receive(Body(128).Int32(3));
    Receive(Body(130));
    Receive(Body(1001).UInt32(42));
    Receive(Body(93).Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz"));
    Receive(Body(102).UInt32(2).String("p1").UInt32(1).Int32(2).String("p2").UInt32(3).Int32(4));
    Receive(Body(102).UInt32(3).String("p1").UInt32(1).Int32(2));
    Receive(Body(102).UInt32(0x20001).String("p3").UInt32(5).Int32(6));
    Receive(Body(9999).String("whatever"));
    S().scripted.Send(ScriptedServer::Frame(QByteArray()));
    QVERIFY(S().Sync());
    QVERIFY(server().IsConnected());
    // Each signal came once; checked first, so a missing one fails cleanly.
    for (QSignalSpy* spy :
         {&privileges, &chat, &stats, &minSpeed, &ratio, &report, &reset, &failure})
        QCOMPARE(spy->count(), 1);
    QCOMPARE(Settings::Get("privileges_time_left"), std::string("3600"));
    QCOMPARE(privileges.at(0).at(0).toInt(), 3600);
    QCOMPARE(chat.at(0).at(2).value<std::string>(), std::string("hello"));
    QCOMPARE(stats.at(0).at(1).value<UserStats>(), UserStats(55, 0, 66, 2));
    QCOMPARE(minSpeed.at(0).at(0).toInt(), -1);
    QCOMPARE(ratio.at(0).at(0).toInt(), 50);
    QCOMPARE(report.at(0).at(0).toInt(), 3);
    QCOMPARE(failure.at(0).at(0).toUInt(), 42u);
    QCOMPARE(code, 3);
    QCOMPARE(search.m_user, std::string("carol"));
    QCOMPARE(search.m_text, std::string("jazz"));
    QCOMPARE(lists, (QList<Parents>{{{"p1", TCPAddress(1, 2)}, {"p2", TCPAddress(3, 4)}},
                                    {{"p1", TCPAddress(1, 2)}},
                                    {}}));
}

void ServerCatalogueTest::SendingMethodsWriteTheirMessagesWhenDue()
{
    // No second address request while one is outstanding.
    server().GetUserAddress("bob");
    server().GetUserAddress("bob");
    QCOMPARE(S().TakeSent(), Sent(Body(3).String("bob")));
    QVERIFY(Handled(Body(3).String("bob").UInt32(1).Int32(2).Int32(0).Int32(0)));
    server().GetUserAddress("bob");
    QCOMPARE(S().TakeSent(), Sent(Body(3).String("bob")));

    server().TrackUser("bob");
    server().TrackUser("bob");
    QCOMPARE(Facts("bob"), QString("tracked asked ip=1 port=2 obfuscated=0"));
    server().UntrackUser("bob");
    server().UntrackUser("bob");
    server().UntrackUser("nobody");
    QCOMPARE(Facts("bob"), QString("asked ip=1 port=2 obfuscated=0"));
    QCOMPARE(Facts("nobody"), QString("absent"));
    server().AddUser("carol");
    QCOMPARE(S().TakeSent(), Sent(Body(5).String("bob")) + Sent(Body(6).String("bob")) +
                                 Sent(Body(5).String("carol")));
    QVERIFY(!Find(User, "carol"));

    // Leaving only from a room we are in; the flag goes when the server says.
    server().LeaveRoom("lobby");
    QVERIFY(Handled(Body(14).String("lobby").UInt32(0)));
    server().LeaveRoom("lobby");
    QCOMPARE(S().TakeSent(), Sent(Body(15).String("lobby")));
    QVERIFY(Find(Room, "lobby").IsConnected(InRoom));

    LogCapture log;
    QCOMPARE(server().SendIndirectConnectionRequest("bob", "P"), 1u);
    QCOMPARE(server().SendIndirectConnectionRequest("carol", "D"), 2u);
    QCOMPARE(server().FileSearch("blue song", false), 1u);
    QCOMPARE(server().FileSearch("blue song", true), 2u);
    server().SetWaitPort(2235, 8973);
    server().GetUserStatus("bob");
    server().SendRoomChat("lobby", "hey");
    server().EnterRoom("lobby");
    server().SendPrivateChat("bob", "psst");
    server().SendFilesFolders(3, 40);
    server().GetUserStats("bob");
    server().GetRoomList();
    server().SendDNetHasParent(true);
    server().GetOwnPrivilegesStatus();
    server().SendDNetCanParent(false);
    server().SendUploadSpeed(5000);
    server().SendDNetLevel(2);
    server().SendDNetGroupLeader("root");
    server().SendChildDepth(true);
    server().SendCantConnectToPeer(9, "bob");
    const QByteArray expected =
        Sent(Body(18).UInt32(1).String("bob").String("P")) +
        Sent(Body(18).UInt32(2).String("carol").String("D")) +
        Sent(Body(26).UInt32(1).String("blue song")) +
        Sent(Body(103).UInt32(2).String("blue song")) +
        Sent(Body(2).UInt32(2235).UInt32(1).UInt32(8973)) + Sent(Body(7).String("bob")) +
        Sent(Body(13).String("lobby").String("hey")) + Sent(Body(14).String("lobby")) +
        Sent(Body(22).String("bob").String("psst")) + Sent(Body(35).UInt32(3).UInt32(40)) +
        Sent(Body(36).String("bob")) + Sent(Body(64)) + Sent(Body(71).Byte(1)) + Sent(Body(92)) +
        Sent(Body(100).Byte(0)) + Sent(Body(121).UInt32(5000)) + Sent(Body(126).UInt32(2)) +
        Sent(Body(127).String("root")) + Sent(Body(129).Byte(1)) +
        Sent(Body(1001).UInt32(9).String("bob"));
    QCOMPARE(S().TakeSent(), expected);
    QCOMPARE(log.lines, (QStringList{"server|Sent indirect connection request to bob",
                                     "server|Sent indirect connection request to carol"}));
}

QTEST_GUILESS_MAIN(ServerCatalogueTest)
#include "ServerCatalogueTest.moc"
