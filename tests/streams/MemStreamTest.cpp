#include <csignal>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include <QTest>

#include "Bytes.h"
#include "StreamTestHelpers.h"
#include "streams/MemStream.h"
#include "streams/rcptr.h"

namespace {

void ExpectAbort(void (*misuse)(), const char* condition, const char* function)
{
    const ChildOutcome outcome = RunInChild([misuse] {
        misuse();
        return 0;
    });
    QCOMPARE(outcome.signal, SIGABRT);
    QVERIFY2(outcome.stderrText.contains(condition) && outcome.stderrText.contains(function),
             outcome.stderrText.constData());
}

template <class T> QByteArray Encoded(const T& value)
{
    MemStream stream;
    return stream.Write(value) ? WrittenBytes(stream) : QByteArray("write failed");
}

// A 32-bit length or count, then that many filler bytes.
QByteArray Field(quint32 length, char fill = 'a')
{
    return ByteBuilder().UInt32(length).Raw(QByteArray(qsizetype(length), fill));
}

} // namespace

class MemStreamTest : public QObject
{
    Q_OBJECT

private slots:
    // Capacity doubles until strictly above the data; the source of a write
    // may live in the array that the write replaces.
    void GrowingKeepsAWriteFromItsOwnBuffer()
    {
        QCOMPARE(StreamOf(QByteArray(255, 'x')).GetBufferCapacity(), 256);
        QCOMPARE(StreamOf(QByteArray(256, 'x')).GetBufferCapacity(), 512);
        MemStream stream = StreamOf(QByteArray("a") + QByteArray(198, 'x') + "z");
        QVERIFY(stream.WriteBuffer(stream.GetBuffer(), 200));
        QCOMPARE(stream.GetBufferCapacity(), 512);
        QCOMPARE(WrittenBytes(stream).mid(199, 3), QByteArray("zax"));
        QCOMPARE(stream.GetBuffer()[399], 'z');
    }

    void ReadsAndWritesAreAllOrNothing()
    {
        MemStream stream = StreamOf({1, 2, 3, 4});
        char out[5] = {9, 9, 9, 9, 9};
        QVERIFY(stream.ReadBuffer(out, 1));
        QVERIFY(!stream.ReadBuffer(out, 4) && !stream.ReadBuffer(out, ~0UL));
        QCOMPARE(out[1], char(9));
        QCOMPARE(PendingBytes(stream), Bytes({2, 3, 4}));
        QVERIFY(stream.ReadBuffer(nullptr, 0) && stream.ReadBuffer(out, 3));
        QCOMPARE(QByteArray(out, 3), Bytes({2, 3, 4}));
        QVERIFY(!stream.ReadBuffer(out, 1));

        // Positions are ints: a write they cannot describe fails whole.
        QVERIFY(!stream.WriteBuffer(out, 1UL << 40) && !stream.WriteBuffer(out, 0x7fffffffUL));
        QVERIFY(stream.WriteBuffer(nullptr, 0));
        QCOMPARE(stream.GetBufferLength(), 4);
        QCOMPARE(stream.GetBufferCapacity(), 256);
    }

    void CopiesShareOneBuffer()
    {
        MemStream original = StreamOf({1, 2, 3, 4, 5, 6});
        MemStream copy = original;
        char out[4];
        QVERIFY(copy.ReadBuffer(out, 4));
        QCOMPARE(PendingBytes(original), Bytes({5, 6}));
        QVERIFY(copy.WriteBuffer(QByteArray(300, 'x').constData(), 300)); // grows
        QCOMPARE(static_cast<void*>(original.GetBuffer()), static_cast<void*>(copy.GetBuffer()));
        MemStream moved = std::move(copy); // still a copy
        QVERIFY(moved.ReadBuffer(out, 2));
        QCOMPARE(copy.GetPendingReadLength(), 300);
    }

    void MisuseAbortsNamingTheConditionAndFunction()
    {
        ExpectAbort([] { StreamOf({1}).EnsureBufferCapacity(1000); },
                    "\"mp_buffer->m_writeIndex == 0\"",
                    "void MemStream::EnsureBufferCapacity(int)");
        ExpectAbort([] { MemStream().AdvanceWriteIndex(257); },
                    "\"mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize\"",
                    "void MemStream::AdvanceWriteIndex(int)");
        ExpectAbort([] { *rcptr<int>() = 1; }, "\"mp_object != 0\"", "rcptr");
    }

    void ScalarsAreLittleEndian()
    {
        MemStream stream = StreamOf({0xfe, 0xff, 0xff, 0xff, 0xef, 0xbe, 0xad, 0xde, 8, 7, 6,
                                     5,    4,    3,    2,    0x81, 0,    2,    0x80, 1, 2, 3});
        int negative = 0;
        unsigned int large = 0;
        qint64 wide = 0;
        bool no = true, yes = false; // any non-zero byte is true
        signed char small = 0;
        QVERIFY(stream.Read(negative) && stream.Read(large) && stream.Read(wide));
        QVERIFY(stream.Read(no) && stream.Read(yes) && stream.Read(small));
        QVERIFY(negative == -2 && large == 0xdeadbeefu && wide == qint64(0x8102030405060708ULL));
        QVERIFY(!no && yes && small == -128);
        // A short read consumes nothing.
        QVERIFY(!stream.Read(negative) && !stream.Read(wide));
        QCOMPARE(stream.GetPendingReadLength(), 3);
    }

    void StringsAreLengthThenBytesUpToTheLimit()
    {
        // Read up to the first zero byte, advanced by the whole length.
        MemStream stream = StreamOf({5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 0, 0, 0, 0, 0x2a});
        std::string text = "old";
        QVERIFY(stream.Read(text) && text == "ab");
        QVERIFY(stream.Read(text) && text.empty());
        QCOMPARE(PendingBytes(stream), Bytes({0x2a}));

        MemStream atLimit = StreamOf(Field(131072, 'q'));
        QVERIFY(atLimit.Read(text) && text == std::string(131072, 'q'));
        MemStream overLimit = StreamOf(Field(131073, 'q'));
        QVERIFY(!overLimit.Read(text));
        QCOMPARE(overLimit.GetPendingReadLength(), 131073); // the body was never touched
        MemStream huge = StreamOf({0xff, 0xff, 0xff, 0xff, 'a'});
        std::string untouched;
        QVERIFY(!huge.Read(untouched) && untouched.capacity() < 1000);
        MemStream shortBody = StreamOf({5, 0, 0, 0, 'a', 'b'});
        QVERIFY(!shortBody.Read(text));
    }

    // Containers replace their contents, stop at the first missing element,
    // and refuse counts past the limit before reading an element.
    void ContainersAreCountThenElementsUpToTheLimit()
    {
        QCOMPARE(Encoded(std::pair<int, std::string>(7, "hi")),
                 Bytes({7, 0, 0, 0, 2, 0, 0, 0, 'h', 'i'}));
        QCOMPARE(Encoded(std::list<int>{3, 1}), Bytes({2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}));
        QCOMPARE(Encoded(std::set<int>{5, -1}),
                 Bytes({2, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 5, 0, 0, 0}));
        QCOMPARE(Encoded(std::map<std::string, int>{{"b", 2}, {"a", 1}}),
                 Bytes({2, 0, 0, 0, 1, 0, 0, 0, 'a', 1, 0, 0, 0, 1, 0, 0, 0, 'b', 2, 0, 0, 0}));

        MemStream stream = StreamOf(Bytes({0, 0, 0, 0, 2, 0, 0, 0}) + Field(1, 'x') + Field(0));
        std::list<std::string> list = {"stale"};
        QVERIFY(stream.Read(list) && list.empty());
        std::list<std::pair<std::string, int>> pairs;
        QVERIFY(!stream.Read(pairs)); // the second pair is missing
        QCOMPARE(pairs, (std::list<std::pair<std::string, int>>{{"x", 0}}));

        std::list<bool> bools;
        MemStream atLimit = StreamOf(Field(131072, char(1)));
        QVERIFY(atLimit.Read(bools) && bools.size() == 131072);
        MemStream overLimit = StreamOf(Field(131073, char(1)));
        QVERIFY(!overLimit.Read(bools) && bools.empty());

        // A repeated key keeps its first value.
        MemStream repeats = StreamOf(Bytes({3, 0, 0, 0, 7, 0, 0, 0, 1,   0, 0, 0, 'x', //
                                            8, 0, 0, 0, 1, 0, 0, 0, 'y',               //
                                            7, 0, 0, 0, 1, 0, 0, 0, 'z'}));
        std::map<int, std::string> values = {{99, "stale"}};
        QVERIFY(repeats.Read(values) && repeats.GetPendingReadLength() == 0);
        QCOMPARE(values, (std::map<int, std::string>{{7, "x"}, {8, "y"}}));
    }
};

QTEST_GUILESS_MAIN(MemStreamTest)
#include "MemStreamTest.moc"
