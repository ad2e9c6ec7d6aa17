#include <QtTest>

#include "ServerTestSupport.h"
#include "TempHome.h"
#include "peers/PeerTypes.h"
#include "search/SearchTypes.h"
#include "server/ServerTypes.h"

using namespace ServerTypes;

class ServerSchemaTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init() { d.RemoveAllItems(); }

    void BaseTypesAreDeclaredInTableOrder();
    void FlagsAreSharedAndValuesReplaced();
    void OnlyTheUserListAndAutojoinRoomsAreSaved();
};

void ServerSchemaTest::BaseTypesAreDeclaredInTableOrder()
{
    // name, primary, null; every one creates its items on lookup.
    const std::vector<std::tuple<std::string, bool, bool>> expected = {
        {"user", true, false},
        {"is_online", false, true},
        {"is_tracked", false, true},
        {"is_privileged", false, true},
        {"room", true, false},
        {"room_autojoin", false, true},
        {"user_count", false, false},
        {"in_room", false, true},
        {"room_owner", false, true},
        {"room_operator", false, true},
        {"average_download_speed", false, false},
        {"shared_files_count", false, false},
        {"country_code", false, false},
        {"in_user_list", false, true},
        {"user_list_group", true, false},
        {"group_download_priority", false, false},
        {"user_address_request", false, true}};
    const std::vector<Type*>& types = d.GetTypes();
    // The three setting types come first.
    QVERIFY(types.size() >= 3 + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Type* type = types[3 + i];
        QCOMPARE(type->GetName(), std::get<0>(expected[i]));
        QCOMPARE(type->IsPrimary(), std::get<1>(expected[i]));
        QCOMPARE(type->IsNull(), std::get<2>(expected[i]));
        QVERIFY(type->IsCreateOnGet());
    }
    QCOMPARE(types[3 + expected.size()]->GetName(), std::string(PeerTypes::UninitializedSocket));
    QVERIFY(d.HasType(SearchTypes::WishListSearch));
}

void ServerSchemaTest::FlagsAreSharedAndValuesReplaced()
{
    ItemPtr bob = d.GetType(User)->GetItem("bob");
    ItemPtr carol = d.GetType(User)->GetItem("carol");
    QVERIFY(bob.NewItem(IsOnline) == carol.NewItem(IsOnline));
    QVERIFY(bob.NewItem(UserAddressRequest) == carol.NewItem(UserAddressRequest));
    QVERIFY(bob.NewItem(InUserList) != carol.NewItem(InUserList));
    QVERIFY(bob.NewItem(InUserList) == bob[InUserList]);

    bob.Connect(d.GetType(CountryCode)->GetItem("SE"));
    bob.Connect(d.GetType(CountryCode)->GetItem("NO"));
    QCOMPARE(bob.GetItems(CountryCode).size(), std::size_t(1));
    bob.Connect(d.GetType(PeerTypes::UserPort)->GetItem("1"));
    bob.Connect(d.GetType(PeerTypes::UserPort)->GetItem("2"));
    QCOMPARE(bob[PeerTypes::UserPort].AsString(), std::string("2"));

    // One owner link per room, any number of operator links.
    ItemPtr room = d.GetType(Room)->GetItem("lobby");
    QVERIFY(room.NewItem(RoomOwner) == room.NewItem(RoomOwner));
    room.NewItem(RoomOperator);
    room.NewItem(RoomOperator);
    QCOMPARE(room.GetItems(RoomOperator).size(), std::size_t(2));
    // A user without a country has none to read.
    QVERIFY(!carol[CountryCode]);
}

void ServerSchemaTest::OnlyTheUserListAndAutojoinRoomsAreSaved()
{
    ItemPtr autoRoom = d.GetType(Room)->GetItem("auto");
    autoRoom.NewItem(RoomAutojoin);
    autoRoom.NewItem(InRoom);
    autoRoom.Connect(d.GetType(UserCount)->GetItem("12"));
    d.GetType(Room)->GetItem("plain")->NewItem(InRoom);

    ItemPtr group = d.GetType(UserListGroup)->GetItem("mates");
    group.Connect(d.GetType(GroupDownloadPriority)->GetItem("5"));
    ItemPtr friendly = d.GetType(User)->GetItem("friend");
    friendly.NewItem(InUserList).Connect(group);
    friendly.NewItem(IsOnline);
    friendly.Connect(d.GetType(CountryCode)->GetItem("SE"));
    d.GetType(User)->GetItem("stranger")->NewItem(IsOnline);
    d.GetType(User)->GetItem("asked")->NewItem(UserAddressRequest);

    TempHome home;
    const QByteArray path = QFile::encodeName(home.File(".Quorvale"));
    QVERIFY(dataSaver->Save(path.constData()));
    d.RemoveAllItems();
    dataSaver->Load(path.constData());

    ItemPtr loadedRoom = d.GetType(Room)->HasItem("auto");
    QVERIFY(loadedRoom && loadedRoom.IsConnected(RoomAutojoin));
    QVERIFY(!loadedRoom.IsConnected(InRoom));
    QVERIFY(!loadedRoom[UserCount]);
    QVERIFY(!d.GetType(Room)->HasItem("plain"));

    ItemPtr loadedFriend = d.GetType(User)->HasItem("friend");
    QVERIFY(loadedFriend);
    QCOMPARE(loadedFriend[InUserList][UserListGroup].AsString(), std::string("mates"));
    QVERIFY(!loadedFriend.IsConnected(IsOnline));
    QVERIFY(!loadedFriend[CountryCode]);
    QVERIFY(!d.GetType(UserListGroup)->HasItem("mates")[GroupDownloadPriority]);
    QVERIFY(!d.GetType(User)->HasItem("stranger"));
    QVERIFY(!d.GetType(User)->HasItem("asked"));
}

QTEST_GUILESS_MAIN(ServerSchemaTest)
#include "ServerSchemaTest.moc"
