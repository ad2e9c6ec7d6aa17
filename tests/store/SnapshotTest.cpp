#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "Bytes.h"
#include "StoreTestSupport.h"
#include "store/DataSaver.h"

namespace {

class LoadedCounter : public DataLoadedEventHandler
{
public:
    int calls = 0;
    void DataLoaded() override { ++calls; }
};

// Settings and the user list, as the program declares them, in a store of
// their own with a saver bound to it.
struct Store
{
    Data data;
    Type* global = data.NewType("global", false, false, true);
    Type* value = data.NewType("global_value", false, false, true);
    Type* user = data.NewType("user", true, false, true);
    Type* listed = data.NewType("in_user_list", false, true, false);
    Type* vglobal = data.NewType("vglobal", false, false, true);
    DataSaver saver{data};
    LoadedCounter loaded;

    Store()
    {
        global->RelateToType(value, MANY, ONE, false);
        vglobal->RelateToType(value, MANY, ONE, false);
        user->RelateToType(listed, MANY, ONE, false);
        saver.AddDataLoadedEventHandler(&loaded);
    }

    void DeclareSaved()
    {
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        saver.AddSavedByConnectionType("user", "in_user_list");
        saver.AddSavedType("in_user_list");
    }

    void Set(const char* key, const char* text)
    {
        global->NewItem(key)->Connect(value->NewItem(text));
    }

    std::size_t ItemCount() const
    {
        std::size_t count = 0;
        for (Type* type : data.GetTypes())
            count += type->ItemCount();
        return count;
    }
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::vector<Item*> InAddressOrder(std::vector<Item*> items)
{
    std::sort(items.begin(), items.end(), std::less<Item*>());
    return items;
}

// Expected snapshot files, written field by field in the order of the
// format: a type count, then per type its name, null flag and item count
// with the item records, then the connection records.
class SnapshotBytes
{
public:
    explicit SnapshotBytes(int typeCount) { m_bytes.Int32(typeCount); }

    SnapshotBytes& Section(const char* name, bool null, int itemCount)
    {
        m_bytes.String(name).Byte(null ? 1 : 0).Int32(itemCount);
        return *this;
    }
    SnapshotBytes& Record(int id, const QByteArray& value)
    {
        m_bytes.Int32(id).String(value);
        return *this;
    }
    SnapshotBytes& NullRecord(int id)
    {
        m_bytes.Int32(id);
        return *this;
    }
    SnapshotBytes& Pairs(const std::vector<std::pair<int, int>>& pairs)
    {
        m_bytes.Int32(static_cast<int>(pairs.size()));
        for (const auto& [first, second] : pairs)
            m_bytes.Int32(first).Int32(second);
        return *this;
    }
    // Raw fields, for files that break the format on purpose.
    SnapshotBytes& Int32(int v)
    {
        m_bytes.Int32(v);
        return *this;
    }
    SnapshotBytes& Raw(const QByteArray& bytes)
    {
        m_bytes.Raw(bytes);
        return *this;
    }

    operator QByteArray() const { return m_bytes; }

private:
    ByteBuilder m_bytes;
};

// Every item and connection of a store as text, independent of addresses.
std::set<std::string> Describe(const Data& data)
{
    std::set<std::string> out;
    for (Type* type : data.GetTypes()) {
        for (Item* item : type->GetItems()) {
            out.insert(Label(item));
            std::map<Type*, ItemSet> partners;
            item->GetConnectedItems(partners);
            for (const auto& [partnerType, set] : partners)
                for (Item* partner : set)
                    out.insert(Label(item) + " -- " + Label(partner));
        }
    }
    return out;
}

const QByteArray kEmptySnapshot = ByteBuilder().Int32(0).Int32(0).Data();

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString PathOf(const char* name) const { return m_dir.filePath(name); }
    static QByteArray Native(const QString& path) { return QFile::encodeName(path); }

private slots:
    void NothingDeclaredWritesEightZeroBytes()
    {
        Store s;
        s.Set("username", "alice");
        const QString path = PathOf("empty");

        QVERIFY(s.saver.Save(Native(path).constData()));
        QCOMPARE(ReadAll(path), kEmptySnapshot);

        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { s.saver.AddSavedType("nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>(
            [&] { s.saver.AddSavedByConnectionType("nope", "global"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>(
            [&] { s.saver.AddSavedByConnectionType("global", "nope"); }));
        QVERIFY(s.saver.Save(Native(path).constData()));
        QCOMPARE(ReadAll(path), kEmptySnapshot);
    }

    void ConnectedPairIsWrittenOnceSmallerIdFirst()
    {
        Store s;
        // Sections follow the declaration of the types, not of the saving.
        s.saver.AddSavedType("global_value");
        s.saver.AddSavedType("global");
        s.Set("username", "alice");
        const QString path = PathOf("pair");

        QVERIFY(s.saver.Save(Native(path).constData()));
        SnapshotBytes expected(2);
        expected.Section("global", false, 1).Record(1, "username");
        expected.Section("global_value", false, 1).Record(2, "alice");
        expected.Pairs({{1, 2}});
        QCOMPARE(ReadAll(path), QByteArray(expected));
    }

    void NullTypesAndIdsFollowAddressOrder()
    {
        Data data;
        Type* room = data.NewType("room", false, false, true);
        Type* autojoin = data.NewType("room_autojoin", false, true, false);
        room->RelateToType(autojoin, ONE, ONE, false);
        Item* a = room->NewItem("a");
        Item* b = room->NewItem("b");
        Item* c = room->NewItem("c");
        Item* ja = a->NewItem("room_autojoin");
        Item* jc = c->NewItem("room_autojoin");
        DataSaver saver(data);
        saver.AddSavedType("room_autojoin");
        saver.AddSavedType("room");
        const QString path = PathOf("null");
        QVERIFY(saver.Save(Native(path).constData()));

        // Ids are handed out section by section, each section by identity.
        std::map<Item*, int> id;
        std::vector<Item*> rooms = InAddressOrder({a, b, c});
        std::vector<Item*> flags = InAddressOrder({ja, jc});
        int next = 1;
        for (Item* item : rooms)
            id[item] = next++;
        for (Item* item : flags)
            id[item] = next++;

        SnapshotBytes expected(2);
        expected.Section("room", false, 3);
        for (Item* item : rooms)
            expected.Record(id[item], QByteArray::fromStdString(item->AsString()));
        expected.Section("room_autojoin", true, 2);
        for (Item* item : flags)
            expected.NullRecord(id[item]);
        std::set<std::pair<int, int>> pairs = {{id[a], id[ja]}, {id[c], id[jc]}};
        expected.Pairs({pairs.begin(), pairs.end()});
        QCOMPARE(ReadAll(path), QByteArray(expected));
    }

    // An item's partners are held by type address, which need not follow
    // the order of the sections; the pairs must come out sorted anyway.
    void PairsAreSortedAcrossPartnerTypes()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        {
            // Freed blocks are handed out again last-freed first, so the
            // next two types usually land in falling address order.
            Data scratch;
            scratch.NewType("first", false, false, false);
            scratch.NewType("second", false, false, false);
        }
        Type* room = data.NewType("room", false, false, true);
        Type* topic = data.NewType("topic", false, false, true);
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(topic, MANY, MANY, false);
        Item* alice = user->NewItem("alice");
        alice->Connect(room->NewItem("lobby"));
        alice->Connect(topic->NewItem("news"));
        DataSaver saver(data);
        for (const char* name : {"user", "room", "topic"})
            saver.AddSavedType(name);
        const QString path = PathOf("sorted");
        QVERIFY(saver.Save(Native(path).constData()));

        SnapshotBytes expected(3);
        expected.Section("user", false, 1).Record(1, "alice");
        expected.Section("room", false, 1).Record(2, "lobby");
        expected.Section("topic", false, 1).Record(3, "news");
        expected.Pairs({{1, 2}, {1, 3}});
        QCOMPARE(ReadAll(path), QByteArray(expected));
    }

    void SavedByConnectionWritesOnlyConnectedItems()
    {
        Store s;
        s.saver.AddSavedType("global");
        s.saver.AddSavedByConnectionType("global", "global_value"); // whole still wins
        s.saver.AddSavedByConnectionType("global_value", "global");
        s.Set("use_upnp", "yes");
        Item* upnp = s.global->GetItem("use_upnp");
        Item* bare = s.global->NewItem("no_value_key");
        s.value->NewItem("orphan");
        s.vglobal->NewItem("shown")->Connect(s.value->NewItem("unsaved"));
        const QString path = PathOf("byconnection");
        QVERIFY(s.saver.Save(Native(path).constData()));

        std::vector<Item*> keys = InAddressOrder({upnp, bare});
        const int upnpId = keys[0] == upnp ? 1 : 2;
        SnapshotBytes expected(2);
        expected.Section("global", false, 2);
        for (int n = 0; n < 2; ++n)
            expected.Record(n + 1, QByteArray::fromStdString(keys[n]->AsString()));
        expected.Section("global_value", false, 1).Record(3, "yes");
        expected.Pairs({{upnpId, 3}});
        QCOMPARE(ReadAll(path), QByteArray(expected));
    }

    void LoadRecreatesItemsThroughTheStore()
    {
        Store s;
        s.DeclareSaved();
        s.Set("username", "nobody"); // a default made before loading
        EventLog log;
        log.WatchStore(s.data);
        const QString path = PathOf("handmade");
        SnapshotBytes file(4);
        file.Section("global", false, 2).Record(1, "username").Record(2, "use_upnp");
        file.Section("global_value", false, 2)
            .Record(3, QByteArray("alice\0junk", 10)) // the text ends at the zero
            .Record(4, "yes");
        file.Section("user", false, 1).Record(5, "bob");
        file.Section("in_user_list", true, 1).NullRecord(6);
        file.Pairs({{1, 3}, {2, 4}, {5, 6}});
        WriteAll(path, file);

        s.saver.Load(Native(path).constData());

        QCOMPARE(s.loaded.calls, 1);
        QVERIFY(SameLines(log.lines, {
                                         "store added global=use_upnp",
                                         "store added global_value=alice",
                                         "store added global_value=yes",
                                         "store added user=bob",
                                         "store added in_user_list",
                                         "store disconnected global=username global_value=nobody",
                                         "store connected global=username global_value=alice",
                                         "store connected global=use_upnp global_value=yes",
                                         "store connected user=bob in_user_list",
                                     }));
        QCOMPARE(ItemPtr(s.global->GetItem("username"))["global_value"].AsCStr(), "alice");
        QVERIFY(s.value->GetItem("nobody")->IsDisconnectedFromAll());
        QVERIFY(s.user->GetItem("bob")->IsConnected("in_user_list"));
        QCOMPARE(s.listed->ItemCount(), std::size_t(1));
    }

    void SavedStoreLoadsIntoAFreshOne()
    {
        Store original;
        original.DeclareSaved();
        original.Set("username", "alice");
        original.Set("use_upnp", "yes");
        original.Set("minimize_to_tray", "yes");
        original.user->NewItem("bob")->NewItem("in_user_list");
        original.user->NewItem("carol")->NewItem("in_user_list");
        original.vglobal->NewItem("session")->Connect(original.value->NewItem("live"));
        const QString path = PathOf("roundtrip");
        QVERIFY(original.saver.Save(Native(path).constData()));

        Store loaded;
        loaded.DeclareSaved();
        loaded.saver.Load(Native(path).constData());

        original.vglobal->GetItem("session")->Remove(); // not declared, so not saved
        original.value->GetItem("live")->Remove();
        QCOMPARE(Describe(loaded.data), Describe(original.data));
        QCOMPARE(loaded.loaded.calls, 1);
    }

    void UnregisteredSectionIsSkipped()
    {
        Store s;
        s.DeclareSaved();
        const QString path = PathOf("retired");
        SnapshotBytes file(4);
        file.Section("retired", false, 1).Record(1, "old");
        file.Section("retired_flag", true, 1).NullRecord(2);
        file.Section("global", false, 1).Record(3, "k");
        file.Section("global_value", false, 1).Record(4, "v");
        file.Pairs({{1, 3}, {2, 3}, {3, 4}});
        WriteAll(path, file);

        s.saver.Load(Native(path).constData());

        QCOMPARE(s.loaded.calls, 1);
        QCOMPARE(s.ItemCount(), std::size_t(2));
        QCOMPARE(ItemPtr(s.global->GetItem("k"))["global_value"].AsCStr(), "v");
    }

    void MalformedFileEmptiesTheStore_data()
    {
        QTest::addColumn<QByteArray>("file");
        auto global = [](int items) { return SnapshotBytes(1).Section("global", false, items); };

        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("ends inside an item record")
            << QByteArray(global(2).Record(1, "username").Int32(2).Int32(5).Raw("ab"));
        QTest::newRow("ends before the pair count") << QByteArray(global(1).Record(1, "username"));
        QTest::newRow("ends inside a pair")
            << QByteArray(global(1).Record(1, "username").Int32(1).Int32(1));
        QTest::newRow("negative string length") << QByteArray(
            SnapshotBytes(1).Int32(-1).Raw("global").Raw(QByteArray(1, '\0')).Int32(0).Int32(0));
        QTest::newRow("string longer than the file")
            << QByteArray(global(1).Int32(1).Int32(0x7fffffff).Raw("username").Int32(0));
        QTest::newRow("huge item count") << QByteArray(global(0x7fffffff).Int32(1));
        QTest::newRow("pair names a missing item")
            << QByteArray(SnapshotBytes(2)
                              .Section("global", false, 1)
                              .Record(1, "username")
                              .Section("global_value", false, 1)
                              .Record(2, "alice")
                              .Pairs({{1, 99}}));
        QTest::newRow("valued type marked null")
            << QByteArray(SnapshotBytes(1).Section("global", true, 1).NullRecord(1).Pairs({}));
        QTest::newRow("null type marked valued") << QByteArray(
            SnapshotBytes(1).Section("in_user_list", false, 1).Record(1, "x").Pairs({}));
    }

    void MalformedFileEmptiesTheStore()
    {
        QFETCH(QByteArray, file);
        Store s;
        s.DeclareSaved();
        s.Set("username", "nobody");
        s.user->NewItem("bob")->NewItem("in_user_list");
        const QString path = PathOf("malformed");
        WriteAll(path, file);

        QVERIFY_THROWS_EXCEPTION(DataLoadFailure, s.saver.Load(Native(path).constData()));
        QCOMPARE(s.ItemCount(), std::size_t(0));
        QCOMPARE(s.loaded.calls, 0);
    }

    void MissingFileIsAFirstStart()
    {
        Store s;
        s.DeclareSaved();
        s.Set("username", "nobody");
        LoadedCounter second;
        s.saver.AddDataLoadedEventHandler(&second);

        s.saver.Load(Native(PathOf("never-written")).constData());
        QCOMPARE(s.loaded.calls, 1);
        QCOMPARE(second.calls, 1);
        QCOMPARE(s.ItemCount(), std::size_t(2));
    }

    void TemporaryNameSkipsLeftovers()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("snapshot");
        WriteAll(path + ".1", "left behind");
        WriteAll(path, "old snapshot");
        Store s;

        QVERIFY(s.saver.Save(Native(path).constData()));
        QCOMPARE(ReadAll(path), kEmptySnapshot);
        QCOMPARE(ReadAll(path + ".1"), QByteArray("left behind"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"snapshot", "snapshot.1"}));
    }

    void FailedSaveKeepsThePreviousSnapshot()
    {
        QTemporaryDir dir;
        QVERIFY(!Store().saver.Save(Native(dir.filePath("missing/snapshot")).constData()));
        QVERIFY(!QFile::exists(dir.filePath("missing")));

        // A disk that fills up half way: the file size limit makes writes fail.
        const QString path = dir.filePath("snapshot");
        WriteAll(path, "old snapshot");
        Store s;
        s.saver.AddSavedType("global");
        for (int n = 0; n < 2000; ++n)
            s.global->NewItem("a key long enough to pass the limit " + std::to_string(n));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = s.saver.Save(Native(path).constData());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!written);
        QCOMPARE(ReadAll(path), QByteArray("old snapshot"));
        QVERIFY(QFile::exists(path + ".1")); // the abandoned file stays where it is
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "SnapshotTest.moc"
