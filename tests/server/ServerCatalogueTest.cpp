#include <QSignalSpy>
#include <QtTest>

#include "ServerTestSupport.h"
#include "app/Log.h"
#include "app/LogSink.h"
#include "dnet/DNetMessages.h"
#include "peers/PeerTypes.h"
#include "search/SearchTypes.h"
#include "server/ServerMessages.h"
#include "server/ServerTypes.h"

using namespace ServerTypes;

namespace {

ItemPtr Find(const char* type, const char* value)
{
    return d.GetType(type)->HasItem(value);
}

std::string ValueOf(const char* type, const char* value, const char* valueType)
{
    return Find(type, value)[valueType].AsString();
}

std::set<std::string> Values(const ItemSet& items)
{
    std::set<std::string> values;
    for (Item* item : items)
        values.insert(item->AsString());
    return values;
}

std::set<std::string> Members(const char* room)
{
    return Values(Find(Room, room).GetItems(User));
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

class LogCapture : public LogSink
{
public:
    LogCapture() { SetLogSink(this); }
    ~LogCapture() override { SetLogSink(nullptr); }
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        lines << category + "|" + line.section("] ", 1);
    }
    QStringList lines;
};

} // namespace

class ServerCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init();
    void cleanup() { m_session.reset(); }

    void UserAddressIsStoredAndItsRequestCleared();
    void AddUserReplySetsOnlineStateOfExistingUsers();
    void UserStatusSetsOnlineStateAndOnlyGrantsPrivileges();
    void EnteringARoomReplacesMembersOwnerAndOperators();
    void LeavingARoomOnlyWhenInside();
    void UsersJoinAndLeaveRooms();
    void PeerConnectionRequestIsRecordedWithTheAddress();
    void PrivateChatIsAcknowledgedAndMayAskForPrivileges();
    void RoomListCountsFollowTheNames();
    void OwnPrivilegesAreStoredAndSignalled();
    void ValueMessagesAreSignalled();
    void EmbeddedDistributedMessageIsPassedOnAfterTheCode();
    void PossibleParentsAreListed();
    void UnknownCodesAndBrokenBodiesAreHarmless();

    void AddressRequestsAreNotRepeatedWhileOutstanding();
    void TrackingFlagsGuardTheirRequests();
    void LeaveRoomOnlyFromARoomWeAreIn();
    void IndirectRequestsCarryIncreasingTokens();
    void SearchesCreateTheirRequestItems();
    void EverySendingMethodWritesItsMessage();

private:
    ServerSession& S() { return *m_session; }
    Server& server() { return *m_session->server; }
    void Receive(const ByteBuilder& body) { S().Receive(body); }

    std::unique_ptr<ServerSession> m_session;
};

void ServerCatalogueTest::init()
{
    d.RemoveAllItems();
    m_session = std::make_unique<ServerSession>();
    QVERIFY(S().LogIn());
}

void ServerCatalogueTest::UserAddressIsStoredAndItsRequestCleared()
{
    server().GetUserAddress("bob");
    QVERIFY(Find(User, "bob").IsConnected(UserAddressRequest));
    Receive(Body(3).String("bob").UInt32(0x0100007f).Int32(2235).Int32(1).Int32(8973));
    QVERIFY(S().Sync());
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserAddress), std::string("16777343"));
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserPort), std::string("2235"));
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserObfuscatedPort), std::string("8973"));
    QVERIFY(!Find(User, "bob").IsConnected(UserAddressRequest));

    // Any other obfuscation type leaves no obfuscated port.
    Receive(Body(3).String("bob").UInt32(2).Int32(9000).Int32(0).Int32(8973));
    // A body cut after the name still gives the user an address, of zeros.
    Receive(Body(3).String("carol"));
    QVERIFY(S().Sync());
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserPort), std::string("9000"));
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserObfuscatedPort), std::string("0"));
    QCOMPARE(ValueOf(User, "carol", PeerTypes::UserAddress), std::string("0"));
    QCOMPARE(ValueOf(User, "carol", PeerTypes::UserObfuscatedPort), std::string("0"));
}

void ServerCatalogueTest::AddUserReplySetsOnlineStateOfExistingUsers()
{
    QSignalSpy replies(&server(), &Server::AddUserResponse);
    Receive(Body(5).String("bob").Byte(1).Int32(2).Raw(Stats(10, 3)).String("DE"));
    QVERIFY(S().Sync());
    QVERIFY(Find(User, "bob").IsConnected(IsOnline));
    QCOMPARE(ValueOf(User, "bob", CountryCode), std::string("DE"));

    Receive(Body(5).String("bob").Byte(1).Int32(0).Raw(Stats(10, 3)));
    Receive(Body(5).String("ghost").Byte(0));
    QVERIFY(S().Sync());
    QVERIFY(!Find(User, "bob").IsConnected(IsOnline));
    QCOMPARE(ValueOf(User, "bob", CountryCode), std::string("DE"));
    QVERIFY(!Find(User, "ghost"));

    QCOMPARE(replies.count(), 3);
    QCOMPARE(replies.at(2).at(0).value<std::string>(), std::string("ghost"));
    QVERIFY(replies.at(0).at(1).toBool());
    QVERIFY(!replies.at(2).at(1).toBool());
}

void ServerCatalogueTest::UserStatusSetsOnlineStateAndOnlyGrantsPrivileges()
{
    Receive(Body(7).String("bob").Int32(1).Byte(1));
    QVERIFY(S().Sync());
    QVERIFY(Find(User, "bob").IsConnected(IsOnline));
    QVERIFY(Find(User, "bob").IsConnected(IsPrivileged));

    Receive(Body(7).String("bob").Int32(0).Byte(0));
    QVERIFY(S().Sync());
    QVERIFY(!Find(User, "bob").IsConnected(IsOnline));
    QVERIFY(Find(User, "bob").IsConnected(IsPrivileged));
}

void ServerCatalogueTest::EnteringARoomReplacesMembersOwnerAndOperators()
{
    ItemPtr lobby = d.GetType(Room)->GetItem("lobby");
    lobby.Connect(d.GetType(User)->GetItem("old"));
    lobby.NewItem(RoomOperator).Connect(d.GetType(User)->GetItem("formerop"));

    ByteBuilder members = Body(14)
                              .String("lobby")
                              .UInt32(2)
                              .String("bob")
                              .String("carol")
                              .UInt32(2)
                              .Int32(1)
                              .Int32(1)
                              .UInt32(2)
                              .Raw(Stats(100, 7))
                              .Raw(Stats(200, 8))
                              .UInt32(2)
                              .Int32(0)
                              .Int32(0)
                              .UInt32(2)
                              .String("SE")
                              .String("NO");
    Receive(ByteBuilder(members).String("boss").UInt32(2).String("op1").String("op2"));
    QVERIFY(S().Sync());
    QVERIFY(lobby.IsConnected(InRoom));
    QCOMPARE(Members("lobby"), (std::set<std::string>{"bob", "carol"}));
    QCOMPARE(ValueOf(User, "bob", AverageDownloadSpeed), std::string("100"));
    QCOMPARE(ValueOf(User, "bob", SharedFilesCount), std::string("7"));
    QCOMPARE(ValueOf(User, "carol", SharedFilesCount), std::string("8"));
    QCOMPARE(ValueOf(User, "carol", CountryCode), std::string("NO"));
    QCOMPARE(lobby[RoomOwner][User].AsString(), std::string("boss"));
    QCOMPARE(Operators("lobby"), (std::set<std::string>{"op1", "op2"}));

    // Without the owner part only the members change.
    Receive(
        Body(14).String("lobby").UInt32(1).String("dave").UInt32(0).UInt32(0).UInt32(0).UInt32(0));
    QVERIFY(S().Sync());
    QCOMPARE(Members("lobby"), std::set<std::string>{"dave"});
    QCOMPARE(lobby[RoomOwner][User].AsString(), std::string("boss"));
    QCOMPARE(Operators("lobby"), (std::set<std::string>{"op1", "op2"}));
    QVERIFY(!Find(User, "dave")[AverageDownloadSpeed]);

    // A member count above the limit reads as an empty room.
    Receive(Body(14).String("lobby").UInt32(0x20001));
    QVERIFY(S().Sync());
    QVERIFY(Members("lobby").empty());
    QVERIFY(lobby.IsConnected(InRoom));
}

void ServerCatalogueTest::LeavingARoomOnlyWhenInside()
{
    Receive(Body(14).String("lobby").UInt32(1).String("bob"));
    QVERIFY(S().Sync());
    QCOMPARE(Members("lobby"), std::set<std::string>{"bob"});

    Receive(Body(15).String("lobby"));
    Receive(Body(15).String("elsewhere"));
    QVERIFY(S().Sync());
    QVERIFY(!Find(Room, "lobby").IsConnected(InRoom));
    QVERIFY(Members("lobby").empty());
    QVERIFY(!Find(Room, "elsewhere"));
}

void ServerCatalogueTest::UsersJoinAndLeaveRooms()
{
    Receive(
        Body(16).String("lobby").String("bob").Int32(1).Raw(Stats(300, 9)).Int32(0).String("FI"));
    QVERIFY(S().Sync());
    QCOMPARE(Members("lobby"), std::set<std::string>{"bob"});
    QCOMPARE(ValueOf(User, "bob", AverageDownloadSpeed), std::string("300"));
    QCOMPARE(ValueOf(User, "bob", SharedFilesCount), std::string("9"));
    QCOMPARE(ValueOf(User, "bob", CountryCode), std::string("FI"));

    Receive(Body(17).String("lobby").String("bob"));
    Receive(Body(17).String("lobby").String("stranger"));
    QVERIFY(S().Sync());
    QVERIFY(Members("lobby").empty());
    QVERIFY(!Find(User, "stranger"));
}

void ServerCatalogueTest::PeerConnectionRequestIsRecordedWithTheAddress()
{
    Receive(Body(18)
                .String("bob")
                .String("P")
                .UInt32(0x0100007f)
                .Int32(2235)
                .UInt32(77)
                .Byte(1)
                .Int32(1)
                .Int32(8973));
    Receive(Body(18).String("carol").String("F").UInt32(5).Int32(6).UInt32(78).Byte(0).Int32(0));
    QVERIFY(S().Sync());

    ItemSet requests = d.GetType(PeerTypes::PeerConnectionRequest)->GetItems();
    QCOMPARE(requests.size(), std::size_t(2));
    ItemPtr bobs = requests.Connected(Find(User, "bob"));
    QCOMPARE(bobs[PeerTypes::PeerConnectionRequestId].AsString(), std::string("77"));
    QCOMPARE(bobs[PeerTypes::PeerConnectionType].AsString(), std::string("P"));
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserAddress), std::string("16777343"));
    QCOMPARE(ValueOf(User, "bob", PeerTypes::UserObfuscatedPort), std::string("8973"));
    QVERIFY(Find(User, "bob").IsConnected(IsPrivileged));

    ItemPtr carols = requests.Connected(Find(User, "carol"));
    QCOMPARE(carols[PeerTypes::PeerConnectionType].AsString(), std::string("F"));
    QCOMPARE(ValueOf(User, "carol", PeerTypes::UserPort), std::string("6"));
    QCOMPARE(ValueOf(User, "carol", PeerTypes::UserObfuscatedPort), std::string("0"));
    QVERIFY(!Find(User, "carol").IsConnected(IsPrivileged));
}

void ServerCatalogueTest::PrivateChatIsAcknowledgedAndMayAskForPrivileges()
{
    QSignalSpy chats(&server(), &Server::PrivateChat);
    Receive(Body(22).UInt32(5).UInt32(1700000000).String("bob").String("hi").Byte(1));
    Receive(Body(22).UInt32(6).UInt32(0).String("server").String("your privileges grew").Byte(0));
    QCOMPARE(S().TakeSent(), Sent(Body(23).UInt32(5)) + Sent(Body(23).UInt32(6)) + Sent(Body(92)));

    const QList<QVariant> first = chats.at(0);
    QCOMPARE(first.at(0).value<std::string>(), std::string("bob"));
    QCOMPARE(first.at(1).value<std::string>(), std::string("hi"));
    QCOMPARE(first.at(2).value<qint64>(), qint64(1700000000));
    QVERIFY(first.at(3).toBool());
}

void ServerCatalogueTest::RoomListCountsFollowTheNames()
{
    Receive(Body(64)
                .UInt32(3)
                .String("a")
                .String("b")
                .String("c")
                .UInt32(2)
                .Int32(1)
                .Int32(2)
                .UInt32(1)
                .String("d")
                .UInt32(2)
                .Int32(4)
                .Int32(5)
                .UInt32(0)
                .UInt32(0)
                .UInt32(1)
                .String("private")
                .UInt32(1)
                .Int32(9));
    QVERIFY(S().Sync());
    QCOMPARE(ValueOf(Room, "a", UserCount), std::string("1"));
    QCOMPARE(ValueOf(Room, "b", UserCount), std::string("2"));
    QVERIFY(!Find(Room, "c") || !Find(Room, "c")[UserCount]);
    QCOMPARE(ValueOf(Room, "d", UserCount), std::string("4"));
    QVERIFY(!Find(Room, "private"));
}

void ServerCatalogueTest::OwnPrivilegesAreStoredAndSignalled()
{
    QSignalSpy status(&server(), &Server::ReceivedOwnPrivilegesStatus);
    Receive(Body(92).Int32(3600));
    QVERIFY(S().Sync());
    QCOMPARE(Settings::Get("privileges_time_left"), std::string("3600"));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toInt(), 3600);
}

void ServerCatalogueTest::ValueMessagesAreSignalled()
{
    QSignalSpy chat(&server(), &Server::RoomChat);
    QSignalSpy stats(&server(), &Server::ReceivedUserStats);
    QSignalSpy minSpeed(&server(), &Server::DNetParentMinSpeed);
    QSignalSpy ratio(&server(), &Server::DNetParentSpeedConnectionRatio);
    QSignalSpy wait(&server(), &Server::WishListWait);
    QSignalSpy report(&server(), &Server::DNetDeliveryReport);
    QSignalSpy reset(&server(), &Server::DNetReset);
    QSignalSpy failure(&server(), &Server::IndirectPeerConnectionFailure);
    Receive(Body(13).String("lobby").String("bob").String("hello"));
    Receive(Body(36).String("bob").Raw(Stats(55, 66)));
    Receive(Body(83).Int32(-1));
    Receive(Body(84).Int32(50));
    Receive(Body(104).UInt32(720));
    Receive(Body(128).Int32(3));
    Receive(Body(130));
    Receive(Body(1001).UInt32(42));
    QVERIFY(S().Sync());

    QCOMPARE(chat.at(0).at(2).value<std::string>(), std::string("hello"));
    QCOMPARE(stats.at(0).at(1).value<UserStats>(), UserStats(55, 0, 66, 2));
    QCOMPARE(minSpeed.at(0).at(0).toInt(), -1);
    QCOMPARE(ratio.at(0).at(0).toInt(), 50);
    QCOMPARE(wait.at(0).at(0).toUInt(), 720u);
    QCOMPARE(report.at(0).at(0).toInt(), 3);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(failure.at(0).at(0).toUInt(), 42u);
}

void ServerCatalogueTest::EmbeddedDistributedMessageIsPassedOnAfterTheCode()
{
    DNetMessages::SearchRequest search;
    unsigned char code = 0;
    bool parsed = false;
    connect(&server(), &Server::DNetMessage, this,
            [&](MemStream& body) { parsed = body.Read(code) && search.Read(body); });
    Receive(Body(93).Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz"));
    QVERIFY(S().Sync());
    QVERIFY(parsed);
    QCOMPARE(code, 3);
    QCOMPARE(search.m_user, std::string("carol"));
    QCOMPARE(search.m_token, 66u);
    QCOMPARE(search.m_text, std::string("jazz"));
}

void ServerCatalogueTest::PossibleParentsAreListed()
{
    using Parents = std::list<std::pair<std::string, TCPAddress>>;
    QList<Parents> lists;
    connect(&server(), &Server::DNetPossibleParents, this,
            [&](Parents& parents) { lists << parents; });
    Receive(Body(102).UInt32(2).String("p1").UInt32(1).Int32(2).String("p2").UInt32(3).Int32(4));
    Receive(Body(102).UInt32(0));
    Receive(Body(102).UInt32(0x20001).String("p3").UInt32(5).Int32(6));
    QVERIFY(S().Sync());
    QCOMPARE(lists.size(), 3);
    QCOMPARE(lists[0], (Parents{{"p1", TCPAddress(1, 2)}, {"p2", TCPAddress(3, 4)}}));
    QVERIFY(lists[1].empty());
    QVERIFY(lists[2].empty());
}

void ServerCatalogueTest::UnknownCodesAndBrokenBodiesAreHarmless()
{
    Receive(Body(9999).String("whatever"));
    S().scripted.Send(ScriptedServer::Frame(QByteArray()));
    Receive(Body(16).String("lobby"));
    Receive(Body(69).UInt32(5).String("only-one"));
    QVERIFY(S().Sync());
    QVERIFY(server().IsConnected());
    QVERIFY(Find(User, "only-one").IsConnected(IsPrivileged));
    // The cut join still joins an (empty-named) user: fields keep their defaults.
    QCOMPARE(Members("lobby"), std::set<std::string>{""});
}

void ServerCatalogueTest::AddressRequestsAreNotRepeatedWhileOutstanding()
{
    server().GetUserAddress("bob");
    server().GetUserAddress("bob");
    QCOMPARE(S().TakeSent(), Sent(Body(3).String("bob")));
    Receive(Body(3).String("bob").UInt32(1).Int32(2).Int32(0).Int32(0));
    QVERIFY(S().Sync());
    server().GetUserAddress("bob");
    QCOMPARE(S().TakeSent(), Sent(Body(3).String("bob")));
}

void ServerCatalogueTest::TrackingFlagsGuardTheirRequests()
{
    server().TrackUser("bob");
    server().TrackUser("bob");
    QVERIFY(Find(User, "bob").IsConnected(IsTracked));
    server().UntrackUser("bob");
    server().UntrackUser("bob");
    server().UntrackUser("nobody");
    QVERIFY(!Find(User, "bob").IsConnected(IsTracked));
    QVERIFY(!Find(User, "nobody"));
    server().AddUser("carol");
    QCOMPARE(S().TakeSent(), Sent(Body(5).String("bob")) + Sent(Body(6).String("bob")) +
                                 Sent(Body(5).String("carol")));
    QVERIFY(!Find(User, "carol"));
}

void ServerCatalogueTest::LeaveRoomOnlyFromARoomWeAreIn()
{
    server().LeaveRoom("lobby");
    Receive(Body(14).String("lobby").UInt32(0));
    QVERIFY(S().Sync());
    server().LeaveRoom("lobby");
    QCOMPARE(S().TakeSent(), Sent(Body(15).String("lobby")));
    // The flag goes only when the server confirms.
    QVERIFY(Find(Room, "lobby").IsConnected(InRoom));
}

void ServerCatalogueTest::IndirectRequestsCarryIncreasingTokens()
{
    LogCapture log;
    QCOMPARE(server().SendIndirectConnectionRequest("bob", "P"), 1u);
    QCOMPARE(server().SendIndirectConnectionRequest("carol", "D"), 2u);
    QCOMPARE(S().TakeSent(), Sent(Body(18).UInt32(1).String("bob").String("P")) +
                                 Sent(Body(18).UInt32(2).String("carol").String("D")));
    QCOMPARE(log.lines, (QStringList{"server|Sent indirect connection request to bob",
                                     "server|Sent indirect connection request to carol"}));
}

void ServerCatalogueTest::SearchesCreateTheirRequestItems()
{
    QSignalSpy requested(&server(), &Server::SearchRequested);
    QCOMPARE(server().FileSearch("blue song", false), 1u);
    QCOMPARE(server().FileSearch("blue song", true), 2u);
    QCOMPARE(S().TakeSent(), Sent(Body(26).UInt32(1).String("blue song")) +
                                 Sent(Body(103).UInt32(2).String("blue song")));

    ItemPtr once = Find(SearchTypes::SearchRequest, "1");
    ItemPtr wished = Find(SearchTypes::SearchRequest, "2");
    QCOMPARE(once[SearchTypes::SearchRequestText].AsString(), std::string("blue song"));
    QVERIFY(once[SearchTypes::SearchRequestText] == wished[SearchTypes::SearchRequestText]);
    QVERIFY(!once.IsConnected(SearchTypes::WishListSearch));
    QVERIFY(wished.IsConnected(SearchTypes::WishListSearch));

    QCOMPARE(requested.count(), 2);
    QCOMPARE(requested.at(1).at(0).toUInt(), 2u);
    QCOMPARE(requested.at(1).at(1).value<std::string>(), std::string("blue song"));
    QVERIFY(!requested.at(0).at(2).toBool());
    QVERIFY(requested.at(1).at(2).toBool());
}

void ServerCatalogueTest::EverySendingMethodWritesItsMessage()
{
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
        Sent(Body(2).UInt32(2235).UInt32(1).UInt32(8973)) + Sent(Body(7).String("bob")) +
        Sent(Body(13).String("lobby").String("hey")) + Sent(Body(14).String("lobby")) +
        Sent(Body(22).String("bob").String("psst")) + Sent(Body(35).UInt32(3).UInt32(40)) +
        Sent(Body(36).String("bob")) + Sent(Body(64)) + Sent(Body(71).Byte(1)) + Sent(Body(92)) +
        Sent(Body(100).Byte(0)) + Sent(Body(121).UInt32(5000)) + Sent(Body(126).UInt32(2)) +
        Sent(Body(127).String("root")) + Sent(Body(129).Byte(1)) +
        Sent(Body(1001).UInt32(9).String("bob"));
    QCOMPARE(S().TakeSent(), expected);
}

QTEST_GUILESS_MAIN(ServerCatalogueTest)
#include "ServerCatalogueTest.moc"
