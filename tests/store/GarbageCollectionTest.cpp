#include <algorithm>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <QtTest>

#include "StoreTestSupport.h"

namespace {

// "store removed" lines for these items, in address order, which is the
// order the collector removes unreachable items in.
std::vector<std::string> RemovedInAddressOrder(std::vector<Item*> items)
{
    std::sort(items.begin(), items.end(), std::less<Item*>());
    std::vector<std::string> lines;
    for (Item* item : items)
        lines.push_back("store removed " + Label(item));
    return lines;
}

// When one of its victims' neighbours is removed, removes the other victims
// itself, the way a manager tidies up related items from a removed handler.
class CascadeRemover : public DataHandler
{
public:
    std::vector<std::pair<Type*, std::string>> victims;
    std::map<std::string, int> removed;

    void OnRemoved(Item* item)
    {
        ++removed[Label(item)];
        if (m_busy)
            return;
        m_busy = true;
        for (const auto& [type, value] : victims) {
            Item* victim = type->HasItem(value).Get();
            if (victim && victim != item)
                victim->Remove();
        }
        m_busy = false;
    }

private:
    bool m_busy = false;
};

} // namespace

class GarbageCollectionTest : public QObject
{
    Q_OBJECT

private slots:
    void NothingToCollectReturnsZero()
    {
        Data data;
        Type* share = data.NewType("share", true, false, true);
        Type* folder = data.NewType("folder", false, false, true);
        Type* file = data.NewType("file", false, false, true);
        share->RelateToType(folder, ONE, MANY, false);
        folder->RelateToType(file, ONE, MANY, true);
        Item* music = share->NewItem("music");
        Item* rock = folder->NewItem("rock");
        music->Connect(rock);
        rock->Connect(file->NewItem("a.mp3"));
        rock->Connect(file->NewItem("b.mp3"));
        share->NewItem("empty share");
        EventLog log;
        log.WatchStore(data);

        QCOMPARE(data.RemoveDisconnectedItems(), 0);
        QCOMPARE(data.RemoveDisconnectedItems(), 0);
        QVERIFY(log.lines.empty());
        QCOMPARE(share->ItemCount() + folder->ItemCount() + file->ItemCount(), std::size_t(5));
    }

    void UnreachableItemsAreCollected()
    {
        Data data;
        Type* user = data.NewType("user", true, false, true);
        Type* room = data.NewType("room", false, false, true);
        Type* message = data.NewType("message", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        room->RelateToType(message, ONE, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        Item* hello = message->NewItem("hello");
        alice->Connect(lobby);
        lobby->Connect(hello);
        Item* attic = room->NewItem("attic");
        Item* dust = message->NewItem("dust");
        attic->Connect(dust);
        Item* lonely = room->NewItem("lonely");
        user->NewItem("bob"); // a primary item survives without connections
        EventLog log;
        log.WatchStore(data);

        const std::vector<std::string> expected = RemovedInAddressOrder({attic, dust, lonely});
        QCOMPARE(data.RemoveDisconnectedItems(), 3);
        QVERIFY(SameLines(log.Only("store removed"), expected));
        QCOMPARE(user->ItemCount(), std::size_t(2));
        QCOMPARE(ItemPtr(lobby).GetItems("message"), ItemSet{hello});
        QVERIFY(room->HasItem("attic").IsNull() && message->HasItem("dust").IsNull());
    }

    void OwnerlessItemsGoEvenWhenReachable()
    {
        Data data;
        Type* share = data.NewType("share", true, false, true);
        Type* folder = data.NewType("folder", false, false, true);
        Type* file = data.NewType("file", false, false, true);
        Type* tag = data.NewType("tag", false, false, true);
        share->RelateToType(folder, MANY, MANY, false);
        share->RelateToType(file, MANY, MANY, false);
        folder->RelateToType(file, ONE, MANY, true);
        share->RelateToType(tag, MANY, MANY, true);
        folder->RelateToType(tag, MANY, MANY, true);
        Item* music = share->NewItem("music");
        Item* rock = folder->NewItem("rock");
        music->Connect(rock);
        Item* kept = file->NewItem("kept.mp3");
        music->Connect(kept);
        rock->Connect(kept);
        Item* stray = file->NewItem("stray.mp3");
        music->Connect(stray); // reachable, but no folder owns it
        Item* both = tag->NewItem("both");
        music->Connect(both);
        rock->Connect(both);
        Item* half = tag->NewItem("half");
        music->Connect(half); // owned by share and folder, connected to a share only
        EventLog log;
        log.WatchStore(data);

        QCOMPARE(data.RemoveDisconnectedItems(), 2);
        std::vector<std::string> removed = log.Only("store removed");
        std::sort(removed.begin(), removed.end());
        QVERIFY(SameLines(removed, {"store removed file=stray.mp3", "store removed tag=half"}));
        QVERIFY(file->HasItem("kept.mp3") == kept);
        QVERIFY(tag->HasItem("both") == both);
    }

    void ChainMayNotRepeatAType()
    {
        Data data;
        Type* root = data.NewType("root", true, false, true);
        Type* a = data.NewType("a", false, false, true);
        Type* b = data.NewType("b", false, false, true);
        root->RelateToType(a, MANY, MANY, false);
        a->RelateToType(b, MANY, MANY, false);
        Item* r = root->NewItem("r");
        Item* a1 = r->Connect(a->NewItem("a1"));
        Item* b1 = a1->Connect(b->NewItem("b1"));
        b1->Connect(a->NewItem("a2")); // reached only through a second "a"
        EventLog log;
        log.WatchStore(data);

        QCOMPARE(data.RemoveDisconnectedItems(), 1);
        QVERIFY(SameLines(log.Only("store removed"), {"store removed a=a2"}));
        QVERIFY(b->HasItem("b1") == b1);
        QVERIFY(a->HasItem("a2").IsNull());

        // The same shape is kept when the repeated type is reachable directly.
        Item* a3 = b1->Connect(a->NewItem("a3"));
        r->Connect(a3);
        QCOMPARE(data.RemoveDisconnectedItems(), 0);
        QVERIFY(a->HasItem("a3") == a3);
    }

    void ItemRemovedByHandlerIsNotRemovedTwice()
    {
        Data data;
        Type* share = data.NewType("share", true, false, true);
        Type* folder = data.NewType("folder", false, false, true);
        Type* file = data.NewType("file", false, false, true);
        Type* junk = data.NewType("junk", false, false, true);
        share->RelateToType(folder, MANY, MANY, false);
        folder->RelateToType(file, ONE, MANY, true);
        share->NewItem("music");
        for (const char* name : {"f1", "f2"})
            file->NewItem(name);
        for (const char* name : {"j1", "j2", "j3"})
            junk->NewItem(name);

        // Owner-less files and unreachable junk, each able to take the others
        // with it: whichever goes first, the collector must skip the rest.
        CascadeRemover remover;
        remover.victims = {{file, "f1"}, {file, "f2"}, {junk, "j1"}, {junk, "j2"}, {junk, "j3"}};
        data.itemRemovedEvent.AddHandler(remover.MakeHandler(&remover, &CascadeRemover::OnRemoved));

        int count = data.RemoveDisconnectedItems();

        QVERIFY(count >= 1 && count <= 5);
        QCOMPARE(remover.removed.size(), std::size_t(5));
        for (const auto& [label, times] : remover.removed)
            QVERIFY2(times == 1, label.c_str());
        QCOMPARE(file->ItemCount() + junk->ItemCount(), std::size_t(0));
        QCOMPARE(share->ItemCount(), std::size_t(1));
        QCOMPARE(data.RemoveDisconnectedItems(), 0);
    }
};

QTEST_GUILESS_MAIN(GarbageCollectionTest)
#include "GarbageCollectionTest.moc"
