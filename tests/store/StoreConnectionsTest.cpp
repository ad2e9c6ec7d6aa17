#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include <QtTest>

#include "StoreTestSupport.h"

namespace {

// The two items of a connection line in a fixed order, so that a test can
// state which pair was disconnected without depending on which end reported.
std::string Unordered(const std::string& line)
{
    // "store disconnected a=x b=y": verb words first, then the two labels.
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    words.push_back(word);
    if (words.size() != 4)
        return line;
    if (words[3] < words[2])
        std::swap(words[2], words[3]);
    return words[0] + " " + words[1] + " " + words[2] + " " + words[3];
}

std::vector<std::string> Unordered(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines)
        out.push_back(Unordered(line));
    return out;
}

// Checks, from inside the removed events, that the item is still connected.
class RemovalProbe : public DataHandler
{
public:
    std::vector<Item*> partners;
    std::vector<bool> stillConnected;
    void OnRemoved(Item* item)
    {
        bool all = true;
        for (Item* partner : partners)
            all = all && item->IsConnected(partner) && partner->IsConnected(item);
        stillConnected.push_back(all);
    }
};

} // namespace

class StoreConnectionsTest : public QObject
{
    Q_OBJECT

private slots:
    void RelationIsRecordedFromBothEnds()
    {
        Data data;
        Type* global = data.NewType("global", false, false, true);
        Type* value = data.NewType("global_value", false, false, true);
        Type* folder = data.NewType("folder", false, false, true);
        Type* file = data.NewType("file", false, false, true);

        global->RelateToType(value, MANY, ONE, false);
        const RelationInfo& keySide = global->GetRelation(value);
        QVERIFY(keySide.thisEnd == MANY && keySide.otherEnd == ONE);
        QVERIFY(!keySide.owns && !keySide.owned);
        const RelationInfo& valueSide = value->GetRelation(global);
        QVERIFY(valueSide.thisEnd == ONE && valueSide.otherEnd == MANY);
        QVERIFY(global->IsRelated(value) && value->IsRelated(global));
        QVERIFY(!global->IsRelated(file));

        folder->RelateToType(file, ONE, MANY, true);
        QVERIFY(folder->GetRelation(file).owns && !folder->GetRelation(file).owned);
        QVERIFY(!file->GetRelation(folder).owns && file->GetRelation(folder).owned);
        QVERIFY(file->HasOwners());
        QVERIFY(!folder->HasOwners());

        QVERIFY(ThrowsPointer<AlreadyRelatedException>(
            [&] { global->RelateToType(value, ONE, ONE, true); }));
        QVERIFY(ThrowsPointer<AlreadyRelatedException>(
            [&] { value->RelateToType(global, ONE, ONE, true); }));
        QVERIFY(global->GetRelation(value).thisEnd == MANY);
        QVERIFY(!value->GetRelation(global).owns && !global->HasOwners());

        QVERIFY(ThrowsPointer<NotRelatedException>([&] { global->GetRelation(file); }));
        std::map<Type*, RelationInfo> related;
        file->GetRelatedTypes(related);
        QCOMPARE(related.size(), std::size_t(1));
        QCOMPARE(related.begin()->first, folder);
    }

    void UnrelatedTypesRefuseConnectionAndNavigation()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        EventLog log;
        log.WatchStore(data);

        QVERIFY(ThrowsPointer<NotRelatedException>([&] { alice->Connect(lobby); }));
        QVERIFY(alice->IsDisconnectedFromAll());
        QVERIFY(lobby->IsDisconnectedFromAll());
        QVERIFY(log.lines.empty());

        QVERIFY(ThrowsPointer<NotRelatedException>([&] { alice->HasItem("room"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { alice->IsConnected("nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { alice->HasItem("nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { alice->NewItem("nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { alice->Disconnect("nope"); }));
    }

    void ConnectingTwiceFiresOnce()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        EventLog log;
        log.WatchStore(data);

        QCOMPARE(alice->Connect(lobby), lobby);
        QCOMPARE((ItemPtr(alice) += ItemPtr(lobby)).Get(), lobby);
        QCOMPARE(ItemPtr(lobby).Connect(alice).Get(), alice);

        QVERIFY(SameLines(log.lines, {"store connected user=alice room=lobby"}));
        QVERIFY(alice->IsConnected(lobby) && lobby->IsConnected(alice));
        QVERIFY(alice->IsConnected(room) && alice->IsConnected("room"));
        QVERIFY(lobby->IsConnected("user"));
        QCOMPARE(ItemPtr(alice).GetItems("room"), ItemSet{lobby});
        QCOMPARE(ItemPtr(lobby).GetItems("user"), ItemSet{alice});
    }

    void ConnectAndDisconnectNotifyInOrder()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* bob = user->NewItem("bob");
        Item* lobby = room->NewItem("lobby");
        EventLog log;
        log.WatchType(user);
        log.WatchType(room);
        log.WatchStore(data);
        log.WatchPair(data, user, room);
        log.WatchPair(data, room, user);

        alice->Connect(lobby);
        QVERIFY(SameLines(log.lines, {
                                         "type connected user=alice room=lobby",
                                         "store connected user=alice room=lobby",
                                         "type connected room=lobby user=alice",
                                         "pair connected user=alice room=lobby",
                                         "pair connected room=lobby user=alice",
                                     }));

        // Started from the other end, every list follows the operation's order.
        log.lines.clear();
        lobby->Connect(bob);
        QVERIFY(SameLines(log.lines, {
                                         "type connected room=lobby user=bob",
                                         "store connected room=lobby user=bob",
                                         "type connected user=bob room=lobby",
                                         "pair connected room=lobby user=bob",
                                         "pair connected user=bob room=lobby",
                                     }));

        log.lines.clear();
        alice->Disconnect(lobby);
        QVERIFY(SameLines(log.lines, {
                                         "type disconnected user=alice room=lobby",
                                         "store disconnected user=alice room=lobby",
                                         "type disconnected room=lobby user=alice",
                                         "pair disconnected user=alice room=lobby",
                                         "pair disconnected room=lobby user=alice",
                                     }));
        QVERIFY(alice->IsDisconnectedFromAll());
        QVERIFY(!lobby->IsConnected(alice) && lobby->IsConnected(bob));
    }

    void OneEndReplacesOldPartnerFirst()
    {
        Data data;
        Type* global = data.NewType("global", false, false, true);
        Type* value = data.NewType("global_value", false, false, true);
        global->RelateToType(value, MANY, ONE, false);
        Item* key = global->NewItem("username");
        Item* alice = value->NewItem("alice");
        Item* bob = value->NewItem("bob");
        key->Connect(alice);
        EventLog log;
        log.WatchStore(data);

        key->Connect(bob);
        QVERIFY(SameLines(log.lines, {"store disconnected global=username global_value=alice",
                                      "store connected global=username global_value=bob"}));
        QCOMPARE(key->HasItem("global_value"), bob);
        QVERIFY(alice->IsDisconnectedFromAll());

        // The MANY end keeps every partner: two keys may share one value.
        Item* other = global->NewItem("minimize_to_tray");
        other->Connect(bob);
        QVERIFY(key->IsConnected(bob) && other->IsConnected(bob));
        QCOMPARE(ItemPtr(bob).GetItems("global"), (ItemSet{key, other}));
    }

    void OneToOneReplacesOnBothEnds()
    {
        Data data;
        Type* socket = data.NewType("socket", false, false, true);
        Type* transfer = data.NewType("transfer", false, false, true);
        socket->RelateToType(transfer, ONE, ONE, false);
        Item* s1 = socket->NewItem("s1");
        Item* s2 = socket->NewItem("s2");
        Item* t1 = transfer->NewItem("t1");
        Item* t2 = transfer->NewItem("t2");
        s1->Connect(t1);
        s2->Connect(t2);
        EventLog log;
        log.WatchStore(data);

        // s1 gives up t1, then t2 gives up s2, and only then s1 and t2 connect.
        s1->Connect(t2);
        QVERIFY(SameLines(Unordered(log.lines), {"store disconnected socket=s1 transfer=t1",
                                                 "store disconnected socket=s2 transfer=t2",
                                                 "store connected socket=s1 transfer=t2"}));
        QVERIFY(t1->IsDisconnectedFromAll());
        QVERIFY(s2->IsDisconnectedFromAll());
        QCOMPARE(ItemPtr(s1).GetItems("transfer"), ItemSet{t2});
        QCOMPARE(ItemPtr(t2).GetItems("socket"), ItemSet{s1});
    }

    void DisconnectingUnconnectedItemsStillNotifies()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        EventLog log;
        log.WatchType(user);
        log.WatchStore(data);
        log.WatchPair(data, user, room);

        ItemPtr(alice) -= ItemPtr(lobby);
        QVERIFY(SameLines(log.lines, {"type disconnected user=alice room=lobby",
                                      "store disconnected user=alice room=lobby",
                                      "pair disconnected user=alice room=lobby"}));
        QVERIFY(alice->IsDisconnectedFromAll());
        QVERIFY(lobby->IsDisconnectedFromAll());
    }

    void DisconnectByTypeName()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        Type* online = data.NewType("is_online", false, true, false);
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(online, MANY, ONE, false);
        Item* alice = user->NewItem("alice");
        Item* bob = user->NewItem("bob");
        Item* lobby = room->NewItem("lobby");
        Item* garden = room->NewItem("garden");
        alice->Connect(lobby);
        alice->Connect(garden);
        bob->Connect(garden);
        Item* flag = alice->NewItem("is_online");
        EventLog log;
        log.WatchStore(data);

        alice->Disconnect("room");
        QCOMPARE(log.lines.size(), std::size_t(2));
        QVERIFY(!alice->IsConnected("room"));
        QVERIFY(alice->IsConnected(flag));
        QVERIFY(bob->IsConnected(garden));

        log.lines.clear();
        alice->Disconnect("room");
        QVERIFY(log.lines.empty());

        ItemSet{alice, bob}.Disconnect("is_online");
        bob->Connect(lobby);
        ItemSet{alice, bob}.Disconnect("room");
        QVERIFY(alice->IsDisconnectedFromAll());
        QVERIFY(bob->IsDisconnectedFromAll());
        QVERIFY(lobby->IsDisconnectedFromAll() && garden->IsDisconnectedFromAll());
    }

    void NavigationPicksLowestAddress()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* bob = user->NewItem("bob");
        std::vector<Item*> rooms = {room->NewItem("r1"), room->NewItem("r2"), room->NewItem("r3")};
        for (Item* r : rooms)
            alice->Connect(r);
        Item* lowest = *std::min_element(rooms.begin(), rooms.end(), std::less<Item*>());

        QCOMPARE(alice->HasItem("room"), lowest);
        QCOMPARE(alice->GetItem("room"), lowest);
        QCOMPARE(ItemPtr(alice)["room"].Get(), lowest);
        QVERIFY(bob->HasItem("room") == nullptr);
        QVERIFY(ItemPtr(bob)["room"].IsNull());

        std::map<Type*, ItemSet> connections;
        alice->GetConnectedItems(connections);
        QCOMPARE(connections.size(), std::size_t(1));
        QCOMPARE(connections[room].size(), std::size_t(3));

        // A type's entry disappears with its last partner.
        alice->Disconnect("room");
        connections.clear();
        alice->GetConnectedItems(connections);
        QVERIFY(connections.empty());
        QVERIFY(alice->IsDisconnectedFromAll());
    }

    void NewItemAttachesFlags()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* online = data.NewType("is_online", false, true, false);
        Type* search = data.NewType("search", false, false, true);
        Type* result = data.NewType("search_result", false, true, false);
        Type* ticket = data.NewType("ticket", false, true, false);
        Type* room = data.NewType("room", false, false, true);
        user->RelateToType(online, MANY, ONE, false); // one shared flag for every user
        search->RelateToType(result, ONE, MANY, false);
        user->RelateToType(ticket, ONE, ONE, false);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* bob = user->NewItem("bob");
        EventLog log;
        log.WatchType(online);

        Item* shared = alice->NewItem("is_online");
        QCOMPARE(bob->NewItem("is_online"), shared);
        QCOMPARE(alice->NewItem("is_online"), shared);
        QCOMPARE(online->GetGlobalNullItem(), shared);
        QCOMPARE(ItemPtr(shared).GetItems("user"), (ItemSet{alice, bob}));
        QCOMPARE(online->ItemCount(), std::size_t(1));
        QCOMPARE(log.Only("type added").size(), std::size_t(1));

        shared->Remove();
        Item* carol = user->NewItem("carol");
        Item* fresh = carol->NewItem("is_online");
        QVERIFY(carol->IsConnected(fresh));
        QVERIFY(!alice->IsConnected("is_online"));
        QCOMPARE(online->ItemCount(), std::size_t(1));
        QCOMPARE(log.Only("type added").size(), std::size_t(2));

        Item* query = search->NewItem("1");
        Item* r1 = query->NewItem("search_result");
        Item* r2 = query->NewItem("search_result");
        QVERIFY(r1 != r2);
        QCOMPARE(ItemPtr(query).GetItems("search_result"), (ItemSet{r1, r2}));

        Item* t1 = alice->NewItem("ticket");
        QCOMPARE(alice->NewItem("ticket"), t1);
        Item* t2 = bob->NewItem("ticket");
        QVERIFY(t2 != t1);
        QCOMPARE(ticket->ItemCount(), std::size_t(2));

        QVERIFY(ThrowsPointer<NullTypeException>([&] { alice->NewItem("room"); }));
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { alice->NewItem("search_result"); }));
        QCOMPARE(room->ItemCount(), std::size_t(0));
        QCOMPARE(result->ItemCount(), std::size_t(2));
    }

    void RemovalNotifiesBeforeDisconnecting()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        Type* online = data.NewType("is_online", false, true, false);
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(online, MANY, ONE, false);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        Item* garden = room->NewItem("garden");
        alice->Connect(lobby);
        alice->Connect(garden);

        RemovalProbe probe;
        probe.partners = {lobby, garden};
        user->itemRemovedEvent.AddHandler(probe.MakeHandler(&probe, &RemovalProbe::OnRemoved));
        data.itemRemovedEvent.AddHandler(probe.MakeHandler(&probe, &RemovalProbe::OnRemoved));
        EventLog log;
        log.WatchType(user);
        log.WatchStore(data);

        alice->Remove();

        QCOMPARE(probe.stillConnected, (std::vector<bool>{true, true}));
        Item* first = std::min(lobby, garden, std::less<Item*>());
        Item* second = first == lobby ? garden : lobby;
        QVERIFY(SameLines(log.Only("store"), {
                                                 "store removed user=alice",
                                                 "store disconnected user=alice " + Label(first),
                                                 "store disconnected user=alice " + Label(second),
                                             }));
        QCOMPARE(log.lines.front(), std::string("type removed user=alice"));
        QVERIFY(user->HasItem("alice").IsNull());
        QCOMPARE(user->ItemCount(), std::size_t(0));
        QVERIFY(lobby->IsDisconnectedFromAll() && garden->IsDisconnectedFromAll());
        QCOMPARE(room->ItemCount(), std::size_t(2)); // partners stay

        // A null item leaves its type's collection too.
        Item* bob = user->NewItem("bob");
        Item* flag = bob->NewItem("is_online");
        flag->Remove();
        QCOMPARE(online->ItemCount(), std::size_t(0));
        QVERIFY(bob->IsDisconnectedFromAll());
    }
};

QTEST_GUILESS_MAIN(StoreConnectionsTest)
#include "StoreConnectionsTest.moc"
