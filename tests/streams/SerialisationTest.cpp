#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include <QTest>

#include "StreamTestHelpers.h"
#include "streams/MemStream.h"
#include "streams/UserStats.h"

namespace {

template <class T> QByteArray Encoded(const T& value)
{
    MemStream stream;
    if (!stream.Write(value))
        return QByteArray("write failed");
    return WrittenBytes(stream);
}

// A 32-bit little-endian length or count followed by n bytes of filler.
QByteArray StringField(quint32 length, char fill = 'a')
{
    QByteArray bytes = Bytes({int(length & 0xff), int((length >> 8) & 0xff),
                              int((length >> 16) & 0xff), int(length >> 24)});
    bytes.append(QByteArray(qsizetype(length), fill));
    return bytes;
}

QByteArray CountOf(quint32 count)
{
    return StringField(count).left(4);
}

} // namespace

class SerialisationTest : public QObject
{
    Q_OBJECT

private slots:
    void IntegersAreLittleEndian()
    {
        QCOMPARE(Encoded(0x12345678), Bytes({0x78, 0x56, 0x34, 0x12}));
        QCOMPARE(Encoded(-2), Bytes({0xfe, 0xff, 0xff, 0xff}));
        QCOMPARE(Encoded(0xdeadbeefu), Bytes({0xef, 0xbe, 0xad, 0xde}));
        QCOMPARE(Encoded(std::int64_t(0x0102030405060708)),
                 Bytes({0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
        QCOMPARE(Encoded(qint64(-1)), QByteArray(8, char(0xff)));
        QCOMPARE(Encoded(quint64(0x8000000000000000ULL)), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80}));
    }

    void IntegersReadBackFromLittleEndian()
    {
        MemStream stream = StreamOf({0x78, 0x56, 0x34, 0x12, 0xfe, 0xff, 0xff, 0xff, 0xef, 0xbe,
                                     0xad, 0xde, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x81});
        int positive = 0;
        int negative = 0;
        unsigned int large = 0;
        qint64 wide = 0;
        QVERIFY(stream.Read(positive));
        QVERIFY(stream.Read(negative));
        QVERIFY(stream.Read(large));
        QVERIFY(stream.Read(wide));
        QCOMPARE(positive, 0x12345678);
        QCOMPARE(negative, -2);
        QCOMPARE(large, 0xdeadbeefu);
        QCOMPARE(wide, qint64(0x8102030405060708ULL));
        QCOMPARE(stream.GetPendingReadLength(), 0);

        MemStream unsignedWide = StreamOf({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
        std::uint64_t all = 0;
        QVERIFY(unsignedWide.Read(all));
        QCOMPARE(all, ~std::uint64_t(0));
    }

    void AShortIntegerReadConsumesNothing()
    {
        MemStream stream = StreamOf({1, 2, 3});
        int value = 77;
        QVERIFY(!stream.Read(value));
        QCOMPARE(stream.GetPendingReadLength(), 3);
        qint64 wide = 0;
        MemStream seven = StreamOf({1, 2, 3, 4, 5, 6, 7});
        QVERIFY(!seven.Read(wide));
        QCOMPARE(seven.GetPendingReadLength(), 7);
    }

    void BoolsAndBytesAreOneByte()
    {
        QCOMPARE(Encoded(true), Bytes({1}));
        QCOMPARE(Encoded(false), Bytes({0}));
        QCOMPARE(Encoded(static_cast<unsigned char>(0xab)), Bytes({0xab}));
        QCOMPARE(Encoded(static_cast<signed char>(-1)), Bytes({0xff}));
        QCOMPARE(Encoded('D'), Bytes({'D'}));

        MemStream stream = StreamOf({0, 1, 2, 0xff, 0x80, 'P'});
        bool flags[4] = {true, false, false, false};
        for (bool& flag : flags)
            QVERIFY(stream.Read(flag));
        QCOMPARE(flags[0], false);
        QCOMPARE(flags[1], true);
        QCOMPARE(flags[2], true); // any non-zero byte is true
        QCOMPARE(flags[3], true);
        signed char small = 0;
        char letter = 0;
        QVERIFY(stream.Read(small));
        QVERIFY(stream.Read(letter));
        QCOMPARE(small, static_cast<signed char>(-128));
        QCOMPARE(letter, 'P');
    }

    void StringsAreLengthAndBytesWithoutTerminator()
    {
        QCOMPARE(Encoded(std::string("abc")), Bytes({3, 0, 0, 0, 'a', 'b', 'c'}));
        QCOMPARE(Encoded("abc"), Bytes({3, 0, 0, 0, 'a', 'b', 'c'}));
        QCOMPARE(Encoded(std::string()), Bytes({0, 0, 0, 0}));

        MemStream stream = StreamOf({3, 0, 0, 0, 'x', 'y', 'z', 0, 0, 0, 0});
        std::string text = "old";
        QVERIFY(stream.Read(text));
        QCOMPARE(text, std::string("xyz"));
        QVERIFY(stream.Read(text));
        QCOMPARE(text, std::string());
    }

    void AStringOfTheLimitLengthIsRead()
    {
        MemStream stream = StreamOf(StringField(131072, 'q'));
        std::string text;
        QVERIFY(stream.Read(text));
        QCOMPARE(text.size(), size_t(131072));
        QCOMPARE(text.front(), 'q');
        QCOMPARE(stream.GetPendingReadLength(), 0);
    }

    void AStringOneOverTheLimitFails()
    {
        MemStream stream = StreamOf(StringField(131073, 'q'));
        std::string text;
        QVERIFY(!stream.Read(text));
        // Only the length field was consumed: the body was never touched.
        QCOMPARE(stream.GetPendingReadLength(), 131073);
    }

    void AHugeStringLengthFailsWithoutAllocating()
    {
        MemStream stream = StreamOf({0xff, 0xff, 0xff, 0xff, 'a'});
        std::string text;
        QVERIFY(!stream.Read(text));
        QVERIFY(text.capacity() < 1000);
    }

    void AStringStopsAtItsFirstZeroByte()
    {
        MemStream stream = StreamOf({5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 0x2a});
        std::string text;
        QVERIFY(stream.Read(text));
        QCOMPARE(text, std::string("ab"));
        QCOMPARE(stream.GetPendingReadLength(), 1); // advanced by 4 + 5 = 9
        QCOMPARE(*stream.GetReadBuffer(), char(0x2a));
    }

    void AStringWithAShortBodyFails()
    {
        MemStream stream = StreamOf({5, 0, 0, 0, 'a', 'b'});
        std::string text;
        QVERIFY(!stream.Read(text));
    }

    void PairsAreFirstThenSecond()
    {
        const std::pair<int, std::string> pair(7, "hi");
        const QByteArray expected = Bytes({7, 0, 0, 0, 2, 0, 0, 0, 'h', 'i'});
        QCOMPARE(Encoded(pair), expected);
        MemStream stream = StreamOf(expected);
        std::pair<int, std::string> read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read, pair);
    }

    void ListsAreCountThenElementsInOrder()
    {
        const std::list<int> values = {3, 1, 2};
        const QByteArray expected = Bytes({3, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0});
        QCOMPARE(Encoded(values), expected);
        MemStream stream = StreamOf(expected);
        std::list<int> read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read, values);
    }

    void AnEmptyListReadsAsEmptyAndReplacesTheTarget()
    {
        MemStream stream = StreamOf({0, 0, 0, 0});
        std::list<std::string> read = {"stale"};
        QVERIFY(stream.Read(read));
        QVERIFY(read.empty());
        QCOMPARE(Encoded(std::list<int>()), Bytes({0, 0, 0, 0}));
    }

    void AListOfTheLimitCountIsRead()
    {
        QByteArray bytes = CountOf(131072);
        bytes.append(QByteArray(131072, char(1))); // 131072 true bools
        MemStream stream = StreamOf(bytes);
        std::list<bool> read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read.size(), size_t(131072));
    }

    void ContainersOverTheLimitCountFail()
    {
        QByteArray bytes = CountOf(131073);
        bytes.append(QByteArray(131073, char(1)));
        std::list<bool> list;
        MemStream listStream = StreamOf(bytes);
        QVERIFY(!listStream.Read(list));
        QVERIFY(list.empty());
        std::set<unsigned char> set;
        MemStream setStream = StreamOf(bytes);
        QVERIFY(!setStream.Read(set));
        std::map<unsigned char, unsigned char> map;
        MemStream mapStream = StreamOf(bytes);
        QVERIFY(!mapStream.Read(map));
    }

    void AContainerStopsAtItsFirstFailingElement()
    {
        // Three strings announced, the third one over the limit.
        QByteArray bytes = CountOf(3);
        bytes += StringField(1, 'a') + StringField(1, 'b') + CountOf(131073);
        MemStream stream = StreamOf(bytes);
        std::list<std::string> read;
        QVERIFY(!stream.Read(read));
        QCOMPARE(read, (std::list<std::string>{"a", "b"}));

        MemStream shortStream = StreamOf({2, 0, 0, 0, 9, 0, 0, 0});
        std::list<int> ints;
        QVERIFY(!shortStream.Read(ints));
        QCOMPARE(ints, std::list<int>{9});
    }

    void SetsAreWrittenInOrderAndDeduplicatedOnRead()
    {
        const std::set<int> values = {5, -1, 3};
        QCOMPARE(Encoded(values),
                 Bytes({3, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 3, 0, 0, 0, 5, 0, 0, 0}));
        MemStream stream =
            StreamOf(CountOf(3) + StringField(1, 'b') + StringField(1, 'a') + StringField(1, 'b'));
        std::set<std::string> read = {"stale"};
        QVERIFY(stream.Read(read));
        QCOMPARE(read, (std::set<std::string>{"a", "b"}));
        QCOMPARE(stream.GetPendingReadLength(), 0);
    }

    void MapsAreWrittenInKeyOrder()
    {
        const std::map<std::string, int> values = {{"b", 2}, {"a", 1}};
        QCOMPARE(Encoded(values),
                 Bytes({2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 0, 0, 0, 1, 0, 0, 0, 'b', 2, 0, 0, 0}));
    }

    void ARepeatedMapKeyKeepsTheFirstValue()
    {
        MemStream stream = StreamOf({3, 0, 0, 0,                    // three entries
                                     7, 0, 0, 0, 1, 0, 0, 0, 'x',   // 7 -> "x"
                                     8, 0, 0, 0, 1, 0, 0, 0, 'y',   // 8 -> "y"
                                     7, 0, 0, 0, 1, 0, 0, 0, 'z'}); // 7 -> "z", ignored
        std::map<int, std::string> read = {{99, "stale"}};
        QVERIFY(stream.Read(read));
        QCOMPARE(read, (std::map<int, std::string>{{7, "x"}, {8, "y"}}));
        QCOMPARE(stream.GetPendingReadLength(), 0);
    }

    void AnEmptyMapAndSetRead()
    {
        MemStream stream = StreamOf({0, 0, 0, 0, 0, 0, 0, 0});
        std::map<int, int> map = {{1, 1}};
        std::set<int> set = {1};
        QVERIFY(stream.Read(map));
        QVERIFY(stream.Read(set));
        QVERIFY(map.empty());
        QVERIFY(set.empty());
    }

    void NestedContainersRoundTrip()
    {
        const std::map<std::string, std::list<std::pair<int, std::string>>> values = {
            {"music", {{1, "a.mp3"}, {2, "b.mp3"}}}, {"empty", {}}};
        MemStream stream;
        QVERIFY(stream.Write(values));
        std::map<std::string, std::list<std::pair<int, std::string>>> read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read, values);
        QCOMPARE(stream.GetPendingReadLength(), 0);
    }

    void UserStatsIsTwentyBytesInFieldOrder()
    {
        const UserStats stats(0x01020304, 0x1112131415161718LL, 300, -5);
        const QByteArray expected = Bytes({0x04, 0x03, 0x02, 0x01,                         // speed
                                           0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, // count
                                           0x2c, 0x01, 0x00, 0x00,                         // files
                                           0xfb, 0xff, 0xff, 0xff}); // folders
        QCOMPARE(Encoded(stats), expected);
        QCOMPARE(expected.size(), UserStats::WireSize);

        MemStream stream = StreamOf(expected);
        UserStats read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read.m_averageSpeed, 0x01020304);
        QCOMPARE(read.m_transferCount, std::int64_t(0x1112131415161718LL));
        QCOMPARE(read.m_sharedFiles, 300);
        QCOMPARE(read.m_sharedFolders, -5);
        QVERIFY(read == stats);
    }

    void UserStatsOneByteShortFails()
    {
        MemStream stream = StreamOf(QByteArray(19, char(0)));
        UserStats read;
        QVERIFY(!stream.Read(read));
    }

    void ListsOfRecordsUseTheRecordsOwnEncoding()
    {
        const std::list<UserStats> stats = {UserStats(1, 2, 3, 4), UserStats(5, 6, 7, 8)};
        MemStream stream;
        QVERIFY(stream.Write(stats));
        QCOMPARE(stream.GetBufferLength(), 4 + 2 * UserStats::WireSize);
        std::list<UserStats> read;
        QVERIFY(stream.Read(read));
        QCOMPARE(read, stats);
    }
};

QTEST_GUILESS_MAIN(SerialisationTest)
#include "SerialisationTest.moc"
