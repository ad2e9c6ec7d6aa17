#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QtTest>

#include "StoreTestSupport.h"

class StoreTest : public QObject
{
    Q_OBJECT

private slots:
    void TypesAndRelationsAreDeclaredOnce()
    {
        Data data;
        Type* global = data.NewType("global", true, false, false);
        Type* value = data.NewType("global_value", false, false, true);
        Type* file = data.NewType("file", false, false, true);
        QVERIFY(ThrowsPointer<TypeAlreadyExistsException>(
            [&] { data.NewType("global", false, true, true); }));
        QCOMPARE(data.GetType("global"), global);
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { data.GetType("nope"); }));

        global->RelateToType(value, MANY, ONE, false);
        value->RelateToType(file, ONE, MANY, true);
        QVERIFY(file->HasOwners() && !global->HasOwners() && !value->HasOwners());
        QVERIFY(ThrowsPointer<AlreadyRelatedException>(
            [&] { value->RelateToType(global, ONE, ONE, true); }));
        QVERIFY(!value->GetRelation(global).owns && !global->HasOwners());

        Item* key = global->NewItem("k");
        Item* song = file->NewItem("a.mp3");
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { key->Connect(song); }));
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { key->HasItem("file"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { key->Disconnect("nope"); }));
        QVERIFY(key->IsDisconnectedFromAll());
    }

    void LookupCreatesOnlyOnCreateOnGetTypes()
    {
        Data data;
        Type* file = data.NewType("file", false, false, false);
        Type* user = data.NewType("user", false, false, true);
        QVERIFY(file->GetItem("a.mp3") == nullptr && (*file)["a.mp3"].IsNull());
        QCOMPARE(file->ItemCount(), std::size_t(0));
        Item* song = file->NewItem("a.mp3");
        QVERIFY(file->NewItem("a.mp3") == song && file->HasItem("a.mp3").Get() == song);

        Item* alice = user->GetItem("alice");
        QCOMPARE(user->GetItem("alice"), alice);
        QCOMPARE((*user)["bob"].AsCStr(), "bob");
        QVERIFY(user->HasItem("carol").IsNull());
        QCOMPARE(user->ItemCount(), std::size_t(2));

        // Many at once, past one group of look-ups, with a missing value
        // given twice: made once, and found as one at a time finds it.
        std::vector<std::string> names{"alice", "dave", "dave"};
        for (int n = 0; n < 40; ++n)
            names.push_back("u" + std::to_string(n % 35));
        const std::vector<std::string_view> views(names.begin(), names.end());
        std::vector<Item*> found;
        user->GetItems(views, found);
        QCOMPARE(found.size(), names.size());
        QCOMPARE(found[0], alice);
        QVERIFY(found[1] == found[2] && found[1]->AsString() == "dave");
        for (std::size_t n = 0; n < names.size(); ++n)
            QCOMPARE(found[n], user->HasItem(names[n]).Get());
        QCOMPARE(user->ItemCount(), std::size_t(2 + 1 + 35));
        file->GetItems({"a.mp3", "b.mp3"}, found);
        QVERIFY(found == std::vector<Item*>({song, nullptr}));
    }

    void ValuesAreTextReadBackAsNumbers()
    {
        Data data;
        Type* port = data.NewType("port", false, false, false);
        Item* five = port->NewItem(Value(5));
        QVERIFY(five->AsString() == "5" && port->GetItem(Value("5")) == five);
        QCOMPARE(port->NewItem(Value(4000000000u))->AsCStr(), "4000000000");
        QCOMPARE(port->NewItem(Value(-9007199254740993LL))->AsInt64(), -9007199254740993LL);
        QVERIFY(port->NewItem("12abc")->AsInt() == 12 && port->NewItem("abc")->AsInt() == 0);
        QCOMPARE(port->NewItem("18446744073709551615")->AsUInt64(), 18446744073709551615ULL);

        // An address with bit 63 set, and one sharing its low 32 bits: a
        // signed or 32-bit reading would mangle or merge them.
        auto* high = reinterpret_cast<QObject*>(std::uintptr_t(0xFFFF800012345678ULL));
        auto* low = reinterpret_cast<QObject*>(std::uintptr_t(0x12345678ULL));
        Item* highItem = port->NewItem(Value(high));
        QCOMPARE(highItem->AsCStr(), "18446603336526616184");
        QCOMPARE(ItemPtr(highItem).AsUInt64(), 0xFFFF800012345678ULL);
        QVERIFY(port->NewItem(Value(low)) != highItem &&
                port->HasItem(Value(high)).Get() == highItem);
    }

    void NullItemsAndTheGlobalNullItem()
    {
        Chat s;
        QVERIFY(ThrowsPointer<NullTypeException>([&] { s.online->NewItem("x"); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { s.online->HasItem("x"); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { s.user->NewItem(); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { s.user->GetGlobalNullItem(); }));
        QCOMPARE(s.online->ItemCount() + s.user->ItemCount(), std::size_t(0));

        Item* shared = s.online->GetGlobalNullItem();
        Item* other = s.online->NewItem();
        QVERIFY(other != shared);
        QCOMPARE(s.online->GetGlobalNullItem(), InAddressOrder({shared, other}).front());

        // NewItem: MANY-to-ONE shares one flag.
        s.online->RemoveAllItems();
        Item* alice = s.user->NewItem("alice");
        Item* bob = s.user->NewItem("bob");
        Item* flag = alice->NewItem("is_online");
        QCOMPARE(bob->NewItem("is_online"), flag);
        QCOMPARE(s.online->ItemCount(), std::size_t(1));
        QCOMPARE(ItemPtr(flag).GetItems("user"), (ItemSet{alice, bob}));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { alice->NewItem("room"); }));
        Type* ticket = s.data.NewType("ticket", false, true, false);
        s.user->RelateToType(ticket, ONE, ONE, false);
        Item* t1 = alice->NewItem("ticket");
        QVERIFY(alice->NewItem("ticket") == t1 && bob->NewItem("ticket") != t1);

        ItemPtr none;
        QVERIFY(none["user"].IsNull() && none.AsUInt64() == 0 && ItemPtr(ItemSet()).IsNull());
    }

    void ConnectAndDisconnectNotifyInOrder()
    {
        Chat s;
        Item* alice = s.user->NewItem("alice");
        Item* bob = s.user->NewItem("bob");
        Item* lobby = s.room->NewItem("lobby");
        EventLog log;
        log.WatchType(s.user);
        log.WatchType(s.room);
        log.WatchStore(s.data);
        log.WatchPair(s.data, s.user, s.room);
        log.WatchPair(s.data, s.room, s.user);

        // Whatever a save would see differently moves the change count;
        // looking and repeating a connection do not.
        auto changed = [&s, last = s.data.ChangeCount()]() mutable {
            const std::uint64_t now = s.data.ChangeCount();
            return std::exchange(last, now) != now;
        };
        QCOMPARE(alice->Connect(lobby), lobby);
        QCOMPARE(ItemPtr(lobby).Connect(alice).Get(), alice); // already connected: silent
        QVERIFY(SameLines(log.lines, Notifications("connected", alice, lobby)));
        QVERIFY(changed());
        alice->Connect(lobby);
        QVERIFY(alice->IsConnected(lobby) && s.user->HasItem("alice"));
        QVERIFY(!changed());
        log.lines.clear();
        lobby->Connect(bob);
        QVERIFY(SameLines(log.lines, Notifications("connected", lobby, bob)));
        log.lines.clear();
        changed();
        alice->Disconnect(lobby);
        QVERIFY(changed());
        QVERIFY(SameLines(log.lines, Notifications("disconnected", alice, lobby)));
        QVERIFY(alice->IsDisconnectedFromAll() && lobby->IsConnected(bob));

        Item* garden = s.room->NewItem("garden");
        alice->Connect(lobby);
        alice->Connect(garden);
        Item* flag = alice->NewItem("is_online");
        log.lines.clear();
        alice->Disconnect("room");
        QCOMPARE(log.Only("store disconnected").size(), std::size_t(2));
        QVERIFY(!alice->IsConnected("room") && alice->IsConnected(flag) && bob->IsConnected(lobby));
        ItemSet{alice, bob}.Disconnect("room");
        QVERIFY(lobby->IsDisconnectedFromAll());

        // Heard, several partners at once are announced one by one.
        std::vector<Item*> rooms{lobby, garden};
        std::sort(rooms.begin(), rooms.end());
        log.lines.clear();
        alice->ConnectAll(rooms);
        QCOMPARE(log.Only("store connected").size(), std::size_t(2));
        QVERIFY(alice->IsConnected(lobby) && garden->IsConnected(alice));
        alice->Disconnect("room");

        log.lines.clear();
        changed();
        Item* carol = s.user->NewItem("carol");
        QVERIFY(changed());
        carol->Remove();
        QVERIFY(changed());
        QVERIFY(SameLines(log.lines, {"type added user=carol", "store added user=carol",
                                      "type removed user=carol", "store removed user=carol"}));
    }

    // The old partner is disconnected, and announced, before the new
    // connection is made: no handler ever sees a key with two values.
    void OneEndReplacesTheOldPartnerFirst()
    {
        Data data;
        Type* global = data.NewType("global", false, false, true);
        Type* value = data.NewType("global_value", false, false, true);
        Type* socket = data.NewType("socket", false, false, true);
        Type* transfer = data.NewType("transfer", false, false, true);
        global->RelateToType(value, MANY, ONE, false);
        socket->RelateToType(transfer, ONE, ONE, false);
        Item* key = global->NewItem("username");
        Item* other = global->NewItem("nick");
        Item* alice = key->Connect(value->NewItem("alice"));
        Item* bob = other->Connect(value->NewItem("bob"));
        Item* s1 = socket->NewItem("s1");
        Item* t1 = s1->Connect(transfer->NewItem("t1"));
        Item* s2 = socket->NewItem("s2");
        Item* t2 = s2->Connect(transfer->NewItem("t2"));
        EventLog log;
        log.WatchPair(data, global, value);
        log.WatchPair(data, socket, transfer);

        key->Connect(bob);
        s1->Connect(t2); // ONE-to-ONE: both old partners go first
        QVERIFY(SameLines(log.lines, {"pair disconnected global=username global_value=alice",
                                      "pair connected global=username global_value=bob",
                                      "pair disconnected socket=s1 transfer=t1",
                                      "pair disconnected socket=s2 transfer=t2",
                                      "pair connected socket=s1 transfer=t2"}));
        QVERIFY(alice->IsDisconnectedFromAll());
        QCOMPARE(ItemPtr(bob).GetItems("global"), (ItemSet{key, other})); // MANY end keeps both
        QVERIFY(t1->IsDisconnectedFromAll() && s2->IsDisconnectedFromAll());
    }

    void RemovalNotifiesBeforeDisconnecting()
    {
        Chat s;
        Item* alice = s.user->NewItem("alice");
        Item* lobby = s.room->NewItem("lobby");
        Item* garden = s.room->NewItem("garden");
        alice->Connect(lobby);
        alice->Connect(garden);
        std::vector<bool> stillConnected;
        ItemProbe probe;
        probe.on = [&](Item* item) {
            stillConnected.push_back(item->IsConnected(lobby) && garden->IsConnected(item));
        };
        s.user->itemRemovedEvent.AddHandler(probe.Handler());
        s.data.itemRemovedEvent.AddHandler(probe.Handler());
        EventLog log;
        log.WatchStore(s.data);

        alice->Remove();
        QCOMPARE(stillConnected, (std::vector<bool>{true, true}));
        std::vector<Item*> rooms = InAddressOrder({lobby, garden});
        QVERIFY(SameLines(log.lines, {"store removed user=alice",
                                      "store disconnected user=alice " + Label(rooms[0]),
                                      "store disconnected user=alice " + Label(rooms[1])}));
        QVERIFY(s.user->HasItem("alice").IsNull() && s.room->ItemCount() == 2); // partners stay
        probe.RemoveDataHandlers(); // it looks at the rooms, which go below

        Item* bob = s.user->NewItem("bob");
        bob->NewItem("is_online")->Remove();
        QVERIFY(s.online->ItemCount() == 0 && bob->IsDisconnectedFromAll());
        bob->Connect(lobby);
        bob->NewItem("is_online");
        log.lines.clear();
        s.data.RemoveAllItems();
        QCOMPARE(log.Only("store removed").size(), std::size_t(4));
        QCOMPARE(s.user->ItemCount() + s.room->ItemCount() + s.online->ItemCount(), std::size_t(0));
    }

    // An item survives collection only with all its owners and on a chain
    // from a primary item that repeats no type; unreachable items go in
    // address order, and items a handler already removed are skipped.
    void CollectorRules()
    {
        Data data;
        Type* share = data.NewType("share", true, false, true);
        Type* folder = data.NewType("folder", false, false, true);
        Type* file = data.NewType("file", false, false, true);
        Type* tag = data.NewType("tag", false, false, true);
        Type* a = data.NewType("a", false, false, true);
        Type* b = data.NewType("b", false, false, true);
        share->RelateToType(folder, MANY, MANY, false);
        share->RelateToType(file, MANY, MANY, false);
        folder->RelateToType(file, ONE, MANY, true);
        share->RelateToType(tag, MANY, MANY, true);
        folder->RelateToType(tag, MANY, MANY, true);
        share->RelateToType(a, MANY, MANY, false);
        a->RelateToType(b, MANY, MANY, false);
        share->NewItem("empty share"); // a primary item survives alone
        Item* music = share->NewItem("music");
        Item* rock = music->Connect(folder->NewItem("rock"));
        rock->Connect(music->Connect(file->NewItem("kept.mp3")));
        music->Connect(file->NewItem("stray.mp3")); // reachable, no folder owns it
        rock->Connect(music->Connect(tag->NewItem("both")));
        music->Connect(tag->NewItem("half")); // has one of its two owners only
        Item* b1 = music->Connect(a->NewItem("a1"))->Connect(b->NewItem("b1"));
        b1->Connect(a->NewItem("a2")); // reached only through a second "a"
        EventLog log;
        log.WatchStore(data);

        QCOMPARE(data.RemoveDisconnectedItems(), 3);
        std::vector<std::string> removed = log.Only("store removed");
        std::sort(removed.begin(), removed.end());
        QVERIFY(SameLines(removed, {"store removed a=a2", "store removed file=stray.mp3",
                                    "store removed tag=half"}));
        // The same shape stays when the repeated type is also reached directly.
        music->Connect(b1->Connect(a->NewItem("a3")));
        log.lines.clear();
        QCOMPARE(data.RemoveDisconnectedItems(), 0);
        QVERIFY(log.lines.empty());

        Item* attic = a->NewItem("attic");
        std::vector<Item*> unreachable = {attic, attic->Connect(b->NewItem("dust")),
                                          b->NewItem("lonely")};
        std::vector<std::string> expected;
        for (Item* item : InAddressOrder(unreachable))
            expected.push_back("store removed " + Label(item));
        QCOMPARE(data.RemoveDisconnectedItems(), 3);
        QVERIFY(SameLines(log.Only("store removed"), expected));

        // Each victim's removal takes the others with it, as managers tidy up.
        std::vector<std::pair<Type*, std::string>> victims = {
            {file, "f1"}, {file, "f2"}, {b, "j1"}, {b, "j2"}, {b, "j3"}};
        for (const auto& [type, name] : victims)
            type->NewItem(name);
        std::map<std::string, int> times;
        bool busy = false;
        ItemProbe remover;
        remover.on = [&](Item* item) {
            ++times[Label(item)];
            if (std::exchange(busy, true))
                return;
            for (const auto& [type, name] : victims)
                if (Item* victim = type->HasItem(name).Get(); victim && victim != item)
                    victim->Remove();
            busy = false;
        };
        data.itemRemovedEvent.AddHandler(remover.Handler());
        const int count = data.RemoveDisconnectedItems();
        QVERIFY(count >= 1 && count <= 5);
        QCOMPARE(times.size(), std::size_t(5));
        for (const auto& [label, n] : times)
            QVERIFY2(n == 1, label.c_str());
        QCOMPARE(file->ItemCount() + b->ItemCount(), std::size_t(2)); // kept.mp3, b1
    }

    // A large set is a row of blocks that split, merge and go.
    void LargeSetsMatchAReferenceThroughInsertsAndErases()
    {
        Data data;
        Type* token = data.NewType("token", false, false, true);
        std::vector<Item*> items;
        for (int n = 0; n < 3000; ++n)
            items.push_back(token->NewItem(Value(n)));
        std::sort(items.begin(), items.end());

        ItemSet set;
        std::set<Item*> reference;
        auto matches = [&] {
            return set.size() == reference.size() &&
                   std::equal(set.begin(), set.end(), reference.begin(), reference.end()) &&
                   set.first() == (reference.empty() ? nullptr : *reference.begin());
        };
        auto apply = [&](Item* item, bool add) {
            const bool changed = add ? set.insert(item) : set.erase(item);
            const bool expected = add ? reference.insert(item).second : reference.erase(item) == 1;
            return changed == expected;
        };
        // A seeker asked about rising items, with gaps of any length between
        // them, answers as a search from the top would.
        auto seeks = [&] {
            for (std::size_t stride : {1, 7, 613}) {
                ItemSet::Seeker seeker(set);
                for (std::size_t n = stride / 2; n < items.size(); n += stride)
                    if (seeker.Contains(items[n]) != (reference.count(items[n]) == 1))
                        return false;
            }
            return true;
        };

        for (Item* item : items)
            QVERIFY(apply(item, true));
        QVERIFY(matches());
        // Back between a block with room and a full one: it ends the former.
        QVERIFY(apply(items[255], false) && apply(items[255], true) && matches());
        for (Item* item : {items[0], items[2999], items[1500], items[255], items[256], items[0]})
            QVERIFY(apply(item, false));
        QVERIFY(matches());
        for (Item* item : {items[1500], items[0], items[2999], items[256]})
            QVERIFY(apply(item, true));
        QVERIFY(matches() && seeks());
        for (std::size_t n : {std::size_t(1), std::size_t(700), std::size_t(2998)}) {
            auto at = set.find(items[n]);
            QVERIFY(at != set.end() && *at == items[n]);
            QCOMPARE(std::distance(at, set.end()),
                     std::distance(reference.find(items[n]), reference.end()));
        }
        QVERIFY(set.find(items[255]) == set.end() && !set.contains(items[255]));

        // A full block between full ones splits; the member lands past the middle.
        ItemSet evens;
        for (std::size_t n = 0; n < items.size(); n += 2)
            evens.insert(items[n]);
        QVERIFY(evens.insert(items[1281]) && evens.size() == 1501);
        QVERIFY(std::is_sorted(evens.begin(), evens.end()) && evens.contains(items[1281]));

        // Down through the small forms (an array, a lone member, none) and back.
        for (std::size_t target : {6, 1, 0, 2}) {
            for (std::size_t n = 0; reference.size() != target; ++n)
                QVERIFY(apply(items[n], reference.size() < target));
            QVERIFY(matches() && seeks());
        }
    }

    // Appends to a large set go through a copy of its last block's count
    // and highest member; every other change to that block must renew it.
    void AppendsAfterChangesToTheLastBlockStayInOrder()
    {
        Data data;
        Type* token = data.NewType("token", false, false, true);
        std::vector<Item*> items;
        for (int n = 0; n < 2000; ++n)
            items.push_back(token->NewItem(Value(n)));
        std::sort(items.begin(), items.end());

        ItemSet set;
        std::set<Item*> reference;
        auto apply = [&](std::size_t n, bool add) {
            const bool changed = add ? set.insert(items[n]) : set.erase(items[n]);
            const bool expected =
                add ? reference.insert(items[n]).second : reference.erase(items[n]) == 1;
            return changed == expected;
        };
        auto matches = [&] {
            ItemSet::Seeker seeker(set);
            for (Item* item : items)
                if (seeker.Contains(item) != (reference.count(item) == 1))
                    return false;
            return set.size() == reference.size() &&
                   std::equal(set.begin(), set.end(), reference.begin(), reference.end());
        };
        // Even members only, so odd ones can land inside any block later:
        // blocks of 256, 256 and 88.
        for (std::size_t n = 0; n < 1200; n += 2)
            QVERIFY(apply(n, true));
        QVERIFY(matches());

        // Inside the last block, then its highest member goes: each append
        // after must take the slot after the true last member.
        QVERIFY(apply(1101, true) && apply(1202, true) && matches());
        QVERIFY(apply(1202, false) && apply(1198, false) && apply(1204, true) && matches());

        // The whole last block goes; then a full last block splits.
        for (std::size_t n = 1024; n <= 1204; ++n)
            QVERIFY(apply(n, false));
        QVERIFY(matches() && apply(1300, true) && matches());
        for (std::size_t n = 1302; reference.size() % 256 != 0; n += 2)
            QVERIFY(apply(n, true));
        QVERIFY(apply(1401, true) && apply(1999, true) && matches());

        // Erasing from the top thins the last block until it joins the one
        // before it.
        QVERIFY(apply(1999, false));
        for (std::size_t n = 1810; n >= 1672; n -= 2)
            QVERIFY(apply(n, false));
        QVERIFY(matches() && apply(1900, true) && matches());

        // A copy appends into blocks of its own.
        ItemSet copy(set);
        QVERIFY(copy.insert(items[1950]) && copy.contains(items[1950]));
        QVERIFY(!set.contains(items[1950]) && matches());
    }

    // The query shorthands read the program's store `d`.
    void ConnectedFiltersAndNavigation()
    {
        Type* user = d.NewType("cf_user", false, false, true);
        Type* room = d.NewType("cf_room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        std::vector<Item*> u, r;
        for (int n = 0; n < 5; ++n) {
            u.push_back(user->NewItem(Value(n)));
            r.push_back(room->NewItem(Value(n)));
        }
        u[0]->Connect(r[0]);
        u[4]->Connect(r[0]); // a partner of r0 outside the filtered set
        u[2]->Connect(r[3]);
        u[2]->Connect(r[4]);
        ItemSet three{u[0], u[1], u[2]};
        ItemSet rooms{r[0], r[1], r[2], r[3], r[4]};
        ItemSet empty;

        QVERIFY(three.Connected(empty).empty() && empty.Connected(rooms).empty());
        QCOMPARE(three.Connected(ItemSet{r[0]}), ItemSet{u[0]});
        QCOMPARE(three.Connected(rooms), (ItemSet{u[0], u[2]}));
        QCOMPARE(rooms.Connected(three), (ItemSet{r[0], r[3], r[4]}));
        QCOMPARE(three.Connected(ItemPtr(r[3])), ItemSet{u[2]});
        QCOMPARE(three.Connected("cf_room", "0"), ItemSet{u[0]});
        // A value with no item matches nothing and creates nothing.
        QVERIFY(three.Connected("cf_room", "nowhere").empty());
        QVERIFY(room->HasItem("nowhere").IsNull());

        QCOMPARE(u[2]->HasItem("cf_room"), InAddressOrder({r[3], r[4]}).front());
        QCOMPARE(three.GetItems("cf_room"), (ItemSet{r[0], r[3], r[4]}));
        QVERIFY(ItemPtr(u[1])["cf_room"].IsNull() && empty.GetItems("cf_room").empty());

        Type* request = d.NewType("cf_transfer_req", false, false, true);
        request->RelateToType(user, MANY, ONE, false);
        request->RelateToType(room, MANY, ONE, false);
        const std::pair<Item*, Item*> requests[] = {
            {u[0], r[0]}, {u[0], r[0]}, {u[0], r[1]}, {u[1], r[0]}};
        std::vector<Item*> t;
        for (const auto& [who, what] : requests) {
            t.push_back(request->NewItem(Value(int(t.size()))));
            t.back()->Connect(who);
            t.back()->Connect(what);
        }
        QCOMPARE(d.GetItems(u[0], r[0], "cf_transfer_req"), (ItemSet{t[0], t[1]}));
        QCOMPARE(d.GetItem(u[0], r[0], "cf_transfer_req").Get(),
                 InAddressOrder({t[0], t[1]}).front());
        QVERIFY(d.GetItem(u[3], r[0], "cf_transfer_req").IsNull());
        // By a partner's number, highest first; an item without one is left out.
        t.push_back(request->NewItem(Value(4)));
        const std::list<Item*> byRoom = g("cf_transfer_req").SortNumericBy("cf_room", false);
        QVERIFY(byRoom.size() == 4 && byRoom.front() == t[2]);

        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { g("cf_nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { rooms.SortNumericBy("nope", true); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { rooms.Connected("nope", "x"); }));
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { rooms.GetItems("cf_room"); }));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "StoreTest.moc"
