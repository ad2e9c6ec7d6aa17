#include <algorithm>
#include <csignal>
#include <string>

#include <sys/resource.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "Bytes.h"
#include "StoreTestSupport.h"
#include "base/Log.h"
#include "base/LogSink.h"
#include "store/DataSaver.h"

namespace {

// Keeps the last log line while it lives.
class LastLogLine : public LogSink
{
public:
    LastLogLine() { SetLogSink(this); }
    ~LastLogLine() override { SetLogSink(nullptr); }
    void Append(const QString&, const QString& text, ItemPtr) override { line = text; }
    QString line;
};

class LoadedCounter : public DataLoadedEventHandler
{
public:
    int calls = 0;
    void DataLoaded() override { ++calls; }
};

// Settings and the user list as the program declares them.
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

    explicit Store(bool declareSaved = true)
    {
        global->RelateToType(value, MANY, ONE, false);
        vglobal->RelateToType(value, MANY, ONE, false);
        user->RelateToType(listed, MANY, ONE, false);
        saver.AddDataLoadedEventHandler(&loaded);
        if (!declareSaved)
            return;
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

// The type count; per type its name, null flag, item count and records; the pairs.
struct SnapshotBytes : ByteBuilder
{
    explicit SnapshotBytes(int typeCount) { Int32(typeCount); }
    SnapshotBytes& Section(const char* name, bool null, int itemCount)
    {
        String(name).Byte(null ? 1 : 0).Int32(itemCount);
        return *this;
    }
    SnapshotBytes& Record(int id, const QByteArray& value)
    {
        Int32(id).String(value);
        return *this;
    }
    SnapshotBytes& NullRecord(int id)
    {
        Int32(id);
        return *this;
    }
    SnapshotBytes& Pairs(const std::vector<std::pair<int, int>>& pairs)
    {
        Int32(static_cast<int>(pairs.size()));
        for (const auto& [first, second] : pairs)
            Int32(first).Int32(second);
        return *this;
    }
};

QByteArray Text(Item* item)
{
    return QByteArray::fromStdString(item->AsString());
}

const QByteArray kEmptySnapshot = ByteBuilder().Int32(0).Int32(0).Data();

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QByteArray PathOf(const char* name) const { return QFile::encodeName(m_dir.filePath(name)); }
    static QByteArray ReadAll(const QByteArray& path)
    {
        QFile file(QFile::decodeName(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void WriteAll(const QByteArray& path, const QByteArray& bytes)
    {
        QFile file(QFile::decodeName(path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private slots:
    // Sections follow the types' declaration; a pair is written once, smaller id first.
    void SavedByConnectionWritesOnlyConnectedItems()
    {
        Store s(false);
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { s.saver.AddSavedType("nope"); }));
        QVERIFY(ThrowsPointer<TypeNotFoundException>(
            [&] { s.saver.AddSavedByConnectionType("global", "nope"); }));
        s.saver.AddSavedByConnectionType("global_value", "global");
        s.saver.AddSavedType("global");
        s.saver.AddSavedByConnectionType("global", "global_value"); // saving whole still wins
        s.saver.AddSavedType("in_user_list");
        s.user->NewItem("bob")->NewItem("in_user_list"); // a null item: no value
        s.Set("use_upnp", "yes");
        Item* upnp = s.global->GetItem("use_upnp");
        Item* bare = s.global->NewItem("no_value_key");
        s.value->NewItem("orphan");
        s.vglobal->NewItem("shown")->Connect(s.value->NewItem("unsaved"));
        QVERIFY(s.saver.Save(PathOf("byconnection")));

        std::vector<Item*> keys = InAddressOrder({upnp, bare});
        SnapshotBytes expected(3);
        expected.Section("global", false, 2).Record(1, Text(keys[0])).Record(2, Text(keys[1]));
        expected.Section("global_value", false, 1).Record(3, "yes");
        expected.Section("in_user_list", true, 1).NullRecord(4);
        expected.Pairs({{keys[0] == upnp ? 1 : 2, 3}});
        QCOMPARE(ReadAll(PathOf("byconnection")), QByteArray(expected));
    }

    // A missing file is a first start; handlers hear a load; retired types are skipped.
    void HandBuiltFileLoadsThroughTheStore()
    {
        Store s;
        s.Set("username", "nobody"); // a default made before loading
        LoadedCounter second;
        s.saver.AddDataLoadedEventHandler(&second);
        s.saver.Load(PathOf("never-written"));
        QVERIFY(s.loaded.calls == 1 && second.calls == 1 && s.ItemCount() == 2);

        EventLog log;
        log.WatchStore(s.data);
        SnapshotBytes file(6);
        file.Section("retired", false, 1).Record(1, "old");
        file.Section("retired_flag", true, 1).NullRecord(2);
        file.Section("global", false, 2).Record(3, "username").Record(4, "use_upnp");
        file.Section("global_value", false, 2)
            .Record(5, QByteArray("alice\0junk", 10)) // the text ends at the zero
            .Record(6, "yes");
        file.Section("user", false, 1).Record(7, "bob");
        file.Section("in_user_list", true, 1)
            .NullRecord(8)
            .Pairs({{1, 3}, {2, 3}, {3, 5}, {4, 6}, {7, 8}});
        WriteAll(PathOf("handmade"), file);

        s.saver.Load(PathOf("handmade"));
        QCOMPARE(s.loaded.calls, 2);
        QVERIFY(
            SameLines(log.lines, {"store added global=use_upnp", "store added global_value=alice",
                                  "store added global_value=yes", "store added user=bob",
                                  "store added in_user_list",
                                  "store disconnected global=username global_value=nobody",
                                  "store connected global=username global_value=alice",
                                  "store connected global=use_upnp global_value=yes",
                                  "store connected user=bob in_user_list"}));
        QCOMPARE(s.ItemCount(), std::size_t(7));
    }

    // Unheard, pairs are linked all at once, ending as pair by pair would.
    void UnwatchedFileLinksLikePairByPair()
    {
        Store s;
        s.Set("username", "nobody");
        s.Set("kept", "yes");
        SnapshotBytes file(4);
        file.Section("global", false, 303);
        for (int n = 1; n <= 300; ++n)
            file.Record(n, QByteArray("g") + QByteArray::number(n));
        file.Record(301, "username").Record(302, "dup").Record(303, "dup");
        file.Section("global_value", false, 3).Record(304, "yes").Record(305, "alice");
        file.Record(306, "other");
        file.Section("user", false, 1).Record(307, "bob");
        file.Section("in_user_list", true, 1).NullRecord(308);
        std::vector<std::pair<int, int>> pairs;
        for (int n = 1; n <= 300; ++n)
            pairs.emplace_back(n, 304);
        pairs.insert(pairs.end(), {{301, 305}, {302, 306}, {303, 306}, {307, 308}});
        WriteAll(PathOf("bulk"), file.Pairs(pairs));
        s.saver.Load(PathOf("bulk"));

        Item* yes = s.value->HasItem("yes").Get();
        QCOMPARE(yes->Partners(s.global)->size(), std::size_t(301));
        QCOMPARE(s.global->HasItem("kept").Get()->HasItem(s.value), yes);
        QCOMPARE(s.global->HasItem("g300").Get()->HasItem(s.value), yes);
        QCOMPARE(Text(s.global->HasItem("username").Get()->HasItem(s.value)), QByteArray("alice"));
        QVERIFY(s.value->HasItem("nobody").Get()->IsDisconnectedFromAll());
        Item* other = s.value->HasItem("other").Get();
        QCOMPARE(other->Partners(s.global)->size(), std::size_t(1));
        QCOMPARE(Text(other->HasItem(s.global)), QByteArray("dup"));
        QVERIFY(s.user->HasItem("bob").Get()->HasItem(s.listed)->IsConnected(s.user));

        Store t;
        WriteAll(PathOf("two values"), SnapshotBytes(2)
                                           .Section("global", false, 1)
                                           .Record(1, "key")
                                           .Section("global_value", false, 2)
                                           .Record(2, "first")
                                           .Record(3, "second")
                                           .Pairs({{1, 2}, {1, 3}}));
        t.saver.Load(PathOf("two values"));
        QCOMPARE(Text(t.global->HasItem("key").Get()->HasItem(t.value)), QByteArray("second"));
        QVERIFY(t.value->HasItem("first").Get()->IsDisconnectedFromAll());
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
        QTest::newRow("negative string length")
            << QByteArray(SnapshotBytes(1).Int32(-1).Raw("global").Byte(0).Int32(0).Int32(0));
        QTest::newRow("string longer than the file")
            << QByteArray(global(1).Int32(1).Int32(0x7fffffff).Raw("username").Int32(0));
        QTest::newRow("huge item count") << QByteArray(global(0x7fffffff).Int32(1));
        QTest::newRow("pair names a missing item")
            << QByteArray(global(1).Record(1, "username").Pairs({{1, 99}}));
        QTest::newRow("valued type marked null")
            << QByteArray(SnapshotBytes(1).Section("global", true, 1).NullRecord(1).Pairs({}));
        QTest::newRow("null type marked valued") << QByteArray(
            SnapshotBytes(1).Section("in_user_list", false, 1).Record(1, "x").Pairs({}));
    }

    void MalformedFileEmptiesTheStore()
    {
        QFETCH(QByteArray, file);
        Store s;
        s.Set("username", "nobody");
        s.user->NewItem("bob")->NewItem("in_user_list");
        WriteAll(PathOf("malformed"), file);

        QVERIFY_THROWS_EXCEPTION(DataLoadFailure, s.saver.Load(PathOf("malformed")));
        QCOMPARE(s.ItemCount(), std::size_t(0));
        QCOMPARE(s.loaded.calls, 0);
    }

    // Its pair count, known only at the end, lands in a chunk long written.
    void LargeSnapshotReadsBackWhole()
    {
        Store big;
        Item* values[] = {big.value->NewItem("yes"), big.value->NewItem("no")};
        for (int n = 0; n < 150000; ++n)
            big.global->NewItem("g" + std::to_string(n))->Connect(values[n % 2]);
        QVERIFY(big.saver.Save(PathOf("large")));
        Store loaded(false);
        loaded.saver.Load(PathOf("large"));
        QCOMPARE(loaded.global->ItemCount(), std::size_t(150000));
        QCOMPARE(loaded.value->HasItem("yes").Get()->Partners(loaded.global)->size(),
                 std::size_t(75000));
        QCOMPARE(Text(loaded.global->HasItem("g149999").Get()->HasItem(loaded.value)),
                 QByteArray("no"));
    }

    // Written aside and renamed over the old one; a write that fails (here a
    // file size limit) keeps the previous snapshot.
    void SaveReplacesTheSnapshotOnlyWhenWritten()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("snapshot"));
        WriteAll(path, "old snapshot");
        Store big;
        for (int n = 0; n < 2000; ++n)
            big.global->NewItem("a key long enough to pass the limit " + std::to_string(n));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        LastLogLine log;
        const bool written = big.saver.Save(path);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!written);
        QCOMPARE(ReadAll(path), QByteArray("old snapshot"));
        QVERIFY2(log.line.contains("Could not save the snapshot to " + dir.filePath("snapshot")) &&
                     log.line.endsWith("The previous snapshot is kept."),
                 qPrintable(log.line));

        Store s(false);
        s.Set("username", "alice"); // nothing declared: nothing saved
        QVERIFY(s.saver.Save(path));
        QCOMPARE(ReadAll(path), kEmptySnapshot);
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "SnapshotTest.moc"
