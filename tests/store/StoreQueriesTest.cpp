#include <algorithm>
#include <functional>
#include <list>
#include <random>
#include <string>
#include <vector>

#include <QtTest>

#include "StoreTestSupport.h"

// Queries name types as text and the short forms g and i read the program's
// store, so these tests work on `d`, each with type names of its own.

namespace {

std::vector<std::string> Values(const std::list<Item*>& items)
{
    std::vector<std::string> out;
    for (Item* item : items)
        out.push_back(item->AsString());
    return out;
}

std::vector<Item*> InAddressOrder(std::vector<Item*> items)
{
    std::sort(items.begin(), items.end(), std::less<Item*>());
    return items;
}

std::vector<Item*> Reversed(std::vector<Item*> items)
{
    std::reverse(items.begin(), items.end());
    return items;
}

std::vector<Item*> AsVector(const std::list<Item*>& items)
{
    return {items.begin(), items.end()};
}

bool IsAddressOrdered(const ItemSet& set)
{
    return std::is_sorted(set.begin(), set.end(), std::less<Item*>()) &&
           std::adjacent_find(set.begin(), set.end()) == set.end();
}

} // namespace

class StoreQueriesTest : public QObject
{
    Q_OBJECT

private slots:
    void SetAlgebra()
    {
        Type* word = d.NewType("alg_word", false, false, true);
        Item* a = word->NewItem("a");
        Item* b = word->NewItem("b");
        Item* c = word->NewItem("c");
        ItemSet ab{a, b};
        ItemSet bc{b, c};

        QCOMPARE(ab + bc, (ItemSet{a, b, c}));
        QCOMPARE(ab.Common(bc), ItemSet{b});
        QVERIFY(ab.Common(ItemSet()).empty());
        QVERIFY(ItemSet().Common(ab).empty());
        ItemSet grown = ab;
        grown.Add(bc);
        QCOMPARE(grown.size(), std::size_t(3));
        QCOMPARE(ab.size(), std::size_t(2)); // sets are values

        QCOMPARE(g("alg_word"), (ItemSet{a, b, c}));
        QCOMPARE(i("alg_word", "b"), ItemSet{b});
        QVERIFY(i("alg_word", "zzz").empty());
        QVERIFY(word->HasItem("zzz").IsNull()); // i never creates, even on a create-on-get type

        ItemSet{a, c}.Remove();
        QCOMPARE(g("alg_word"), ItemSet{b});
    }

    // Sets switch representation as they grow and shrink; order, membership
    // and the set operations must not notice.
    void LargeSetsKeepAddressOrder()
    {
        Type* token = d.NewType("large_token", false, false, true);
        Type* hub = d.NewType("large_hub", false, false, true);
        hub->RelateToType(token, MANY, MANY, false);
        std::vector<Item*> items;
        for (int n = 0; n < 600; ++n)
            items.push_back(token->NewItem(Value(n)));
        std::vector<Item*> shuffled = items;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

        ItemSet set;
        for (Item* item : shuffled)
            QVERIFY(set.insert(item));
        QVERIFY(!set.insert(shuffled.front()));
        QCOMPARE(set.size(), std::size_t(600));
        QVERIFY(IsAddressOrdered(set));
        QCOMPARE(set.first(), InAddressOrder(items).front());

        ItemSet copy = set;
        QCOMPARE(copy, set);
        ItemSet small{items[0], items[1], items[599]};
        QCOMPARE(set.Common(small), small);
        QCOMPARE(small.Common(set), small);

        for (std::size_t n = 0; n < 590; ++n)
            QVERIFY(set.erase(shuffled[n]));
        QVERIFY(!set.erase(shuffled[0]));
        QCOMPARE(set.size(), std::size_t(10));
        QVERIFY(IsAddressOrdered(set));
        for (std::size_t n = 590; n < 600; ++n)
            QVERIFY(set.contains(shuffled[n]));
        QCOMPARE(copy.size(), std::size_t(600));

        // The same through one item's connections.
        Item* mp3 = hub->NewItem("mp3");
        for (Item* item : shuffled)
            mp3->Connect(item);
        QCOMPARE(mp3->HasItem("large_token"), InAddressOrder(items).front());
        ItemSet partners = ItemPtr(mp3).GetItems("large_token");
        QCOMPARE(partners.size(), std::size_t(600));
        QVERIFY(IsAddressOrdered(partners));
        for (std::size_t n = 0; n < 595; ++n)
            mp3->Disconnect(shuffled[n]);
        partners = ItemPtr(mp3).GetItems("large_token");
        QCOMPARE(partners.size(), std::size_t(5));
        QVERIFY(IsAddressOrdered(partners));
        QVERIFY(!shuffled[0]->IsConnected(mp3));
        QVERIFY(shuffled[599]->IsConnected(mp3));
    }

    void ConnectedFiltersWithEmptyOperands()
    {
        Type* user = d.NewType("cf_user", false, false, true);
        Type* room = d.NewType("cf_room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* u1 = user->NewItem("u1");
        Item* u2 = user->NewItem("u2");
        Item* u3 = user->NewItem("u3");
        Item* r1 = room->NewItem("r1");
        Item* r2 = room->NewItem("r2");
        u1->Connect(r1);
        u2->Connect(r2);
        ItemSet users{u1, u2, u3};
        ItemSet empty;

        QVERIFY(users.Connected(empty).empty());
        QVERIFY(empty.Connected(ItemSet{r1, r2}).empty());
        QCOMPARE(users.NotConnected(empty), users);
        QVERIFY(empty.NotConnected(ItemSet{r1}).empty());

        QCOMPARE(users.Connected(ItemSet{r1}), ItemSet{u1});
        QCOMPARE(users.NotConnected(ItemSet{r1}), (ItemSet{u2, u3}));
        QCOMPARE(users.Connected(ItemPtr(r2)), ItemSet{u2});
        QCOMPARE(users.NotConnected(ItemPtr(r2)), (ItemSet{u1, u3}));
        QCOMPARE(users.Connected("cf_room"), (ItemSet{u1, u2}));
        QCOMPARE(users.NotConnected("cf_room"), ItemSet{u3});
        QCOMPARE(users.Connected("cf_room", "r1"), ItemSet{u1});
        QCOMPARE(users.NotConnected("cf_room", "r1"), (ItemSet{u2, u3}));
    }

    // The filter walks whichever operand is smaller; both walks must keep
    // only members of the filtered set.
    void ConnectedIsTheSameWhicheverSideIsWalked()
    {
        Type* user = d.NewType("walk_user", false, false, true);
        Type* room = d.NewType("walk_room", false, false, true);
        Type* flag = d.NewType("walk_flag", false, true, false);
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(flag, MANY, ONE, false);
        std::vector<Item*> u, r;
        for (int n = 0; n < 5; ++n) {
            u.push_back(user->NewItem(Value(n)));
            r.push_back(room->NewItem(Value(n)));
        }
        u[0]->Connect(r[0]);
        u[4]->Connect(r[0]); // a partner of r0 outside the filtered set
        u[2]->Connect(r[3]);
        u[1]->NewItem("walk_flag");
        ItemSet three{u[0], u[1], u[2]};
        ItemSet fiveRooms{r[0], r[1], r[2], r[3], r[4]};

        QCOMPARE(three.Connected(ItemSet{r[0]}), ItemSet{u[0]});
        QCOMPARE(three.Connected(fiveRooms), (ItemSet{u[0], u[2]}));
        QCOMPARE(three.NotConnected(ItemSet{r[0]}), (ItemSet{u[1], u[2]}));
        QCOMPARE(three.NotConnected(fiveRooms), ItemSet{u[1]});
        QCOMPARE(fiveRooms.Connected(three), (ItemSet{r[0], r[3]}));
        QCOMPARE(ItemSet{r[0]}.Connected(three), ItemSet{r[0]});
    }

    void FilterByMissingValueIsEmptyAndCreatesNothing()
    {
        Type* user = d.NewType("mv_user", false, false, true);
        Type* room = d.NewType("mv_room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        ItemSet users{user->NewItem("alice"), user->NewItem("bob")};
        users.first()->Connect(room->NewItem("lobby"));

        QVERIFY(users.Connected("mv_room", "nowhere").empty());
        QVERIFY(users.NotConnected("mv_room", "nowhere").empty());
        QVERIFY(room->HasItem("nowhere").IsNull());
        QCOMPARE(room->ItemCount(), std::size_t(1));
    }

    void NavigationCollectsPartners()
    {
        Type* user = d.NewType("nav_user", false, false, true);
        Type* room = d.NewType("nav_room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        Item* bob = user->NewItem("bob");
        Item* carol = user->NewItem("carol");
        Item* lobby = room->NewItem("lobby");
        Item* garden = room->NewItem("garden");
        Item* attic = room->NewItem("attic");
        alice->Connect(lobby);
        alice->Connect(garden);
        bob->Connect(garden);
        bob->Connect(attic);

        QCOMPARE(ItemPtr(alice).GetItems("nav_room"), (ItemSet{lobby, garden}));
        ItemSet out;
        ItemPtr(bob).GetItems("nav_room", out);
        QCOMPARE(out, (ItemSet{garden, attic}));
        QVERIFY(ItemPtr(carol).GetItems("nav_room").empty());

        ItemSet people{alice, bob, carol};
        QCOMPARE(people.GetItems("nav_room"), (ItemSet{lobby, garden, attic}));
        QCOMPARE(d.GetItems(people, "nav_room"), (ItemSet{lobby, garden, attic}));
        QVERIFY(ItemSet().GetItems("nav_room").empty());
    }

    void CommonPartnersOfSeveralItems()
    {
        Type* user = d.NewType("cp_user", false, false, true);
        Type* file = d.NewType("cp_file", false, false, true);
        Type* request = d.NewType("cp_transfer_req", false, false, true);
        request->RelateToType(user, MANY, ONE, false);
        request->RelateToType(file, MANY, ONE, false);
        Item* u = user->NewItem("u");
        Item* u2 = user->NewItem("u2");
        Item* idle = user->NewItem("idle");
        Item* f = file->NewItem("f");
        Item* f2 = file->NewItem("f2");
        auto make = [&](int n, Item* who, Item* what) {
            Item* r = request->NewItem(Value(n));
            r->Connect(who);
            r->Connect(what);
            return r;
        };
        Item* t1 = make(1, u, f);
        Item* t2 = make(2, u, f);
        make(3, u, f2);
        Item* t4 = make(4, u2, f);

        QCOMPARE(d.GetItemSubset(ItemSet{u, f}, "cp_transfer_req"), (ItemSet{t1, t2}));
        QCOMPARE(d.GetItems(u, f, "cp_transfer_req"), (ItemSet{t1, t2}));
        QCOMPARE(d.GetItem(u, f, "cp_transfer_req").Get(), std::min(t1, t2, std::less<Item*>()));
        QCOMPARE(d.GetItem(ItemSet{u, f}, "cp_transfer_req").Get(),
                 std::min(t1, t2, std::less<Item*>()));
        QCOMPARE(d.GetItemSubset(ItemSet{f}, "cp_transfer_req"), (ItemSet{t1, t2, t4}));
        QCOMPARE(d.GetItemSubset(ItemSet{u2, f2}, "cp_transfer_req"), ItemSet());

        QVERIFY(d.GetItemSubset(ItemSet{idle, f}, "cp_transfer_req").empty());
        QVERIFY(d.GetItem(idle, f, "cp_transfer_req").IsNull());
        QVERIFY(d.GetItemSubset(ItemSet(), "cp_transfer_req").empty());
        QVERIFY(d.GetItem(ItemSet(), "cp_transfer_req").IsNull());
    }

    void NumericAndAlphabeticOrder()
    {
        Type* number = d.NewType("sort_number", false, false, true);
        for (const char* text : {"10", "9", "-1"})
            number->NewItem(text);
        ItemSet numbers = g("sort_number");

        using Texts = std::vector<std::string>;
        QCOMPARE(Values(numbers.SortNumeric(true)), (Texts{"-1", "9", "10"}));
        QCOMPARE(Values(numbers.SortNumeric(false)), (Texts{"10", "9", "-1"}));
        QCOMPARE(Values(numbers.SortAlphabetic(true)), (Texts{"-1", "10", "9"}));
        QCOMPARE(Values(numbers.SortAlphabetic(false)), (Texts{"9", "10", "-1"}));

        Type* name = d.NewType("sort_name", false, false, true);
        for (const char* text : {"apple", "Zed", "Mango"})
            name->NewItem(text);
        QCOMPARE(Values(g("sort_name").SortAlphabetic(true)), (Texts{"Mango", "Zed", "apple"}));

        // "5" and "05" tie numerically: set order, and exactly reversed.
        Type* tie = d.NewType("sort_tie", false, false, true);
        Item* five = tie->NewItem("5");
        Item* padded = tie->NewItem("05");
        Item* one = tie->NewItem("1");
        std::vector<Item*> tied = InAddressOrder({five, padded});
        std::vector<Item*> ascending = {one, tied[0], tied[1]};
        QCOMPARE(AsVector(g("sort_tie").SortNumeric(true)), ascending);
        QCOMPARE(AsVector(g("sort_tie").SortNumeric(false)), Reversed(ascending));
    }

    void SortByPartnerLeavesOutItemsWithoutOne()
    {
        Type* download = d.NewType("sb_download", false, false, true);
        Type* place = d.NewType("sb_place_in_line", false, false, true);
        download->RelateToType(place, MANY, ONE, false);
        std::vector<Item*> dl;
        for (int n = 0; n < 5; ++n)
            dl.push_back(download->NewItem(Value(n)));
        dl[0]->Connect(place->NewItem("10"));
        dl[1]->Connect(place->NewItem("9"));
        dl[2]->Connect(place->GetItem("10"));
        dl[4]->Connect(place->NewItem("-1")); // dl[3] has no place in line
        ItemSet all = g("sb_download");
        std::vector<Item*> tens = InAddressOrder({dl[0], dl[2]});

        std::vector<Item*> numeric = {dl[4], dl[1], tens[0], tens[1]};
        QCOMPARE(AsVector(all.SortNumericBy("sb_place_in_line", true)), numeric);
        QCOMPARE(AsVector(all.SortNumericBy("sb_place_in_line", false)), Reversed(numeric));

        std::vector<Item*> alphabetic = {dl[4], tens[0], tens[1], dl[1]};
        QCOMPARE(AsVector(all.SortAlphabeticBy("sb_place_in_line", true)), alphabetic);
        QCOMPARE(AsVector(all.SortAlphabeticBy("sb_place_in_line", false)), Reversed(alphabetic));
    }

    void UnknownAndUnrelatedTypesThrow()
    {
        Type* user = d.NewType("bad_user", false, false, true);
        d.NewType("bad_room", false, false, true);
        Item* alice = user->NewItem("alice");
        ItemSet users{alice};

        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { g("bad_nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { users.Connected("bad_nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { users.NotConnected("bad_nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { users.Connected("bad_nope", "x"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { users.GetItems("bad_nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { d.GetItemSubset(users, "bad_nope"); }));
        QVERIFY(
            ThrowsPointer<TypeNotFoundException>([&] { users.SortNumericBy("bad_nope", true); }));
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { users.GetItems("bad_room"); }));
        QVERIFY(ThrowsPointer<NotRelatedException>([&] { ItemPtr(alice).GetItems("bad_room"); }));
    }
};

QTEST_GUILESS_MAIN(StoreQueriesTest)
#include "StoreQueriesTest.moc"
