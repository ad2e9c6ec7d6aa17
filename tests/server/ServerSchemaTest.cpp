#include <QtTest>

#include "ServerTestSupport.h"
#include "TempHome.h"
#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"

using namespace ServerTypes;

class ServerSchemaTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init() { d.RemoveAllItems(); }

    void FlagsAreSharedAndValuesReplaced();
    void OnlyTheUserListAndAutojoinRoomsAreSaved();
};

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
