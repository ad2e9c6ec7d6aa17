#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include <QMetaType>
#include <QObject>
#include <QVariant>
#include <QtTest>

#include "StoreTestSupport.h"

namespace {

class TypeRecorder : public DataHandler
{
public:
    std::vector<Type*> added;
    void OnTypeAdded(Type* type) { added.push_back(type); }
};

} // namespace

class StoreItemsTest : public QObject
{
    Q_OBJECT

private slots:
    // Runs first: nothing in this process has touched the meta-type yet, so
    // only the store's own registration can make the name known.
    void ItemPtrIsKnownToTheMetaTypeSystem()
    {
        QVERIFY(QMetaType::fromName("ItemPtr").isValid());

        Data data;
        Item* item = data.NewType("socket", false, false, false)->NewItem("1");
        QVariant carried = QVariant::fromValue(ItemPtr(item));
        QCOMPARE(carried.value<ItemPtr>().Get(), item);
    }

    void DuplicateTypeNameIsRefusedAndFirstTypeKept()
    {
        Data data;
        TypeRecorder recorder;
        data.typeAddedEvent.AddHandler(recorder.MakeHandler(&recorder, &TypeRecorder::OnTypeAdded));

        Type* user = data.NewType("user", true, false, false);
        Type* room = data.NewType("room", false, false, true);
        QVERIFY(ThrowsPointer<TypeAlreadyExistsException>(
            [&] { data.NewType("user", false, true, true); }));

        QCOMPARE(data.GetType("user"), user);
        QVERIFY(user->IsPrimary());
        QVERIFY(!user->IsNull());
        QVERIFY(!user->IsCreateOnGet());
        QCOMPARE(data.GetTypes(), (std::vector<Type*>{user, room}));
        QCOMPARE(recorder.added, (std::vector<Type*>{user, room}));

        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { data.GetType("transfer"); }));
        QVERIFY(data.HasType("transfer") == nullptr);
        QCOMPARE(data.HasType("room"), room);
    }

    void LookupWithoutCreateOnGetCreatesNothing()
    {
        Data data;
        Type* file = data.NewType("file", false, false, false);
        EventLog log;
        log.WatchType(file);

        QVERIFY(file->GetItem("a.mp3") == nullptr);
        QVERIFY((*file)["a.mp3"].IsNull());
        QVERIFY(file->HasItem("a.mp3").IsNull());
        QCOMPARE(file->ItemCount(), std::size_t(0));

        Item* created = file->NewItem("a.mp3");
        QVERIFY(created != nullptr);
        QCOMPARE(file->NewItem("a.mp3"), created);
        QCOMPARE(file->GetItem("a.mp3"), created);
        QCOMPARE(file->HasItem("a.mp3").Get(), created);
        QCOMPARE(file->ItemCount(), std::size_t(1));
        QVERIFY(SameLines(log.lines, {"type added file=a.mp3"}));
    }

    void CreateOnGetLookupCreatesOnce()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        EventLog log;
        log.WatchType(user);
        log.WatchStore(data);

        Item* alice = user->GetItem("alice");
        QVERIFY(alice != nullptr);
        QCOMPARE(alice->AsCStr(), "alice");
        QCOMPARE(user->GetItem("alice"), alice);
        QCOMPARE((*user)["bob"].AsCStr(), "bob");
        QVERIFY(user->HasItem("carol").IsNull());

        QCOMPARE(user->ItemCount(), std::size_t(2));
        QVERIFY(SameLines(log.lines, {"type added user=alice", "store added user=alice",
                                      "type added user=bob", "store added user=bob"}));
    }

    void IntegerAndTextValuesFindTheSameItem()
    {
        Data data;
        Type* port = data.NewType("port", false, false, false);

        Item* five = port->NewItem(Value(5));
        QCOMPARE(five->AsCStr(), "5");
        QCOMPARE(port->GetItem(Value("5")), five);
        QCOMPARE(port->NewItem(Value(std::string("5"))), five);
        QCOMPARE(port->GetItem(Value(5u)), five);
        QCOMPARE(port->GetItem(Value(5LL)), five);

        QCOMPARE(port->NewItem(Value(-12))->AsCStr(), "-12");
        QCOMPARE(port->GetItem("-12"), port->GetItem(Value(-12)));
        QCOMPARE(port->NewItem(Value(4000000000u))->AsCStr(), "4000000000");
        QCOMPARE(port->NewItem(Value(-9007199254740993LL))->AsCStr(), "-9007199254740993");
        QCOMPARE(port->ItemCount(), std::size_t(4));
    }

    void NumbersReadBackFromText()
    {
        Data data;
        Type* number = data.NewType("number", false, false, false);
        auto item = [&](const char* text) { return number->NewItem(text); };

        QCOMPARE(item("42")->AsInt(), 42);
        QCOMPARE(item("-7")->AsInt(), -7);
        QCOMPARE(item("  13")->AsInt(), 13);
        QCOMPARE(item("12abc")->AsInt(), 12);
        QCOMPARE(item("abc")->AsInt(), 0);
        QCOMPARE(item("4000000000")->AsUInt(), 4000000000u);
        QCOMPARE(item("-9007199254740993")->AsInt64(), -9007199254740993LL);
        QCOMPARE(item("9223372036854775807")->AsInt64(), 9223372036854775807LL);
        QCOMPARE(item("18446744073709551615")->AsUInt64(), 18446744073709551615ULL);
    }

    void ObjectAddressesRoundTripInFull()
    {
        Data data;
        Type* socket = data.NewType("socket", false, false, false);

        QObject object;
        Item* item = socket->NewItem(Value(&object));
        // Compared as numbers: a mangled address must fail, not be dereferenced.
        const auto address =
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&object));
        QCOMPARE(item->AsUInt64(), address);
        QCOMPARE(ItemPtr(item).AsUInt64(), address);
        QCOMPARE(socket->HasItem(Value(&object)).Get(), item);

        // An address with bit 63 set: a signed or 32-bit reading mangles it.
        auto* high = reinterpret_cast<QObject*>(std::uintptr_t(0xFFFF800012345678ULL));
        Item* highItem = socket->NewItem(Value(high));
        QCOMPARE(highItem->AsCStr(), "18446603336526616184");
        QCOMPARE(highItem->AsUInt64(), 0xFFFF800012345678ULL);
        QCOMPARE(socket->GetItem(Value("18446603336526616184")), highItem);

        // Same low 32 bits, different object: must stay a different item.
        auto* low = reinterpret_cast<QObject*>(std::uintptr_t(0x12345678ULL));
        Item* lowItem = socket->NewItem(Value(low));
        QVERIFY(lowItem != highItem);
        QCOMPARE(lowItem->AsCStr(), "305419896");
    }

    void ValueOperationsCheckNullness()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Type* user = data.NewType("user", false, false, true);

        QVERIFY(ThrowsPointer<NullTypeException>([&] { flag->GetItem("x"); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { flag->NewItem("x"); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { flag->HasItem("x"); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { (*flag)["x"]; }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { user->NewItem(); }));
        QVERIFY(ThrowsPointer<NullTypeException>([&] { user->GetGlobalNullItem(); }));
        QCOMPARE(flag->ItemCount(), std::size_t(0));
        QCOMPARE(user->ItemCount(), std::size_t(0));
    }

    void GlobalNullItemIsSharedUntilRemoved()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        EventLog log;
        log.WatchType(flag);

        Item* shared = flag->GetGlobalNullItem();
        QVERIFY(shared != nullptr);
        QCOMPARE(shared->AsCStr(), "");
        QCOMPARE(flag->GetGlobalNullItem(), shared);
        QCOMPARE(flag->ItemCount(), std::size_t(1));

        // With several items the shared one is the lowest address.
        Item* a = flag->NewItem();
        Item* b = flag->NewItem();
        QVERIFY(a != b && a != shared && b != shared);
        QCOMPARE(flag->GetGlobalNullItem(), std::min({shared, a, b}, std::less<Item*>()));

        flag->RemoveAllItems();
        QCOMPARE(flag->ItemCount(), std::size_t(0));
        QCOMPARE(log.Only("type removed").size(), std::size_t(3));

        Item* fresh = flag->GetGlobalNullItem();
        QVERIFY(fresh != nullptr);
        QCOMPARE(flag->ItemCount(), std::size_t(1));
        QCOMPARE(log.Only("type added").size(), std::size_t(4));
    }

    void NullHandleIsSafe()
    {
        ItemPtr none;
        QVERIFY(none.IsNull());
        QCOMPARE(none.AsInt(), 0);
        QCOMPARE(none.AsUInt(), 0u);
        QCOMPARE(none.AsInt64(), 0LL);
        QCOMPARE(none.AsUInt64(), 0ULL);
        QCOMPARE(none.AsCStr(), "");
        QVERIFY(none.AsString().empty());
        QVERIFY(none["user"].IsNull());
        QVERIFY(ItemPtr(ItemSet()).IsNull());

        Data data;
        Type* user = data.NewType("user", false, false, false);
        Item* a = user->NewItem("a");
        Item* b = user->NewItem("b");
        QCOMPARE(ItemPtr(ItemSet{a, b}).Get(), std::min(a, b, std::less<Item*>()));
    }

    void RemoveAllItemsEmptiesEveryType()
    {
        Data data;
        Type* user = data.NewType("user", false, false, false);
        Type* room = data.NewType("room", false, false, false);
        Type* flag = data.NewType("in_room", false, true, false);
        user->RelateToType(room, MANY, MANY, false);
        room->RelateToType(flag, ONE, ONE, false);
        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        alice->Connect(lobby);
        lobby->NewItem("in_room");
        EventLog log;
        log.WatchStore(data);

        data.RemoveAllItems();

        QCOMPARE(user->ItemCount(), std::size_t(0));
        QCOMPARE(room->ItemCount(), std::size_t(0));
        QCOMPARE(flag->ItemCount(), std::size_t(0));
        QCOMPARE(log.Only("store removed").size(), std::size_t(3));
        QVERIFY(user->HasItem("alice").IsNull());
    }
};

QTEST_GUILESS_MAIN(StoreItemsTest)
#include "StoreItemsTest.moc"
