#include <csignal>
#include <cstring>

#include <QTest>

#include "StreamTestHelpers.h"
#include "streams/MemStream.h"
#include "streams/rcptr.h"

namespace {

struct Tracked
{
    explicit Tracked(int* alive) : m_alive(alive) { ++*m_alive; }
    ~Tracked() { --*m_alive; }
    int* m_alive;
};

void WriteFiller(MemStream& stream, int n)
{
    QByteArray filler(n, 'x');
    QVERIFY(stream.WriteBuffer(filler.constData(), static_cast<unsigned long>(n)));
}

} // namespace

class MemStreamTest : public QObject
{
    Q_OBJECT

private slots:
    void NewStreamHas256ByteBufferAndNothingToRead()
    {
        MemStream stream;
        QCOMPARE(stream.GetBufferCapacity(), 256);
        QCOMPARE(stream.GetBufferLength(), 0);
        QCOMPARE(stream.GetPendingReadLength(), 0);
        char byte = 0;
        QVERIFY(!stream.ReadBuffer(&byte, 1));
    }

    void Writing255BytesKeepsTheCapacity()
    {
        MemStream stream;
        WriteFiller(stream, 255);
        QCOMPARE(stream.GetBufferCapacity(), 256);
        QCOMPARE(stream.GetBufferLength(), 255);
    }

    void Writing256BytesGrowsTo512()
    {
        MemStream stream;
        WriteFiller(stream, 256);
        QCOMPARE(stream.GetBufferCapacity(), 512);
        QCOMPARE(stream.GetBufferLength(), 256);
    }

    void GrowthDoublesUntilStrictlyLarger_data()
    {
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("capacity");
        QTest::newRow("511") << 511 << 512;
        QTest::newRow("512") << 512 << 1024;
        QTest::newRow("1000") << 1000 << 1024;
        QTest::newRow("1024") << 1024 << 2048;
        QTest::newRow("5000") << 5000 << 8192;
    }

    void GrowthDoublesUntilStrictlyLarger()
    {
        QFETCH(int, written);
        QFETCH(int, capacity);
        MemStream oneWrite;
        WriteFiller(oneWrite, written);
        QCOMPARE(oneWrite.GetBufferCapacity(), capacity);

        MemStream byteByByte;
        for (int i = 0; i < written; ++i)
            QVERIFY(byteByByte.Write(static_cast<unsigned char>(i)));
        QCOMPARE(byteByByte.GetBufferCapacity(), capacity);
    }

    void GrowthKeepsWrittenBytes()
    {
        MemStream stream;
        QByteArray expected;
        for (int i = 0; i < 3000; ++i) {
            const char byte = static_cast<char>(i * 7);
            stream.WriteBuffer(&byte, 1);
            expected.append(byte);
        }
        QCOMPARE(WrittenBytes(stream), expected);
    }

    void AppendingOwnBytesSurvivesGrowth()
    {
        // The source of the write lives in the array that the write replaces.
        MemStream stream;
        WriteFiller(stream, 200);
        stream.GetBuffer()[0] = 'a';
        stream.GetBuffer()[199] = 'z';
        QVERIFY(stream.WriteBuffer(stream.GetBuffer(), 200));
        QCOMPARE(stream.GetBufferLength(), 400);
        QCOMPARE(stream.GetBuffer()[200], 'a');
        QCOMPARE(stream.GetBuffer()[399], 'z');
    }

    void ShortReadConsumesNothing()
    {
        MemStream stream = StreamOf({1, 2, 3});
        char out[4] = {9, 9, 9, 9};
        QVERIFY(!stream.ReadBuffer(out, 4));
        QCOMPARE(stream.GetPendingReadLength(), 3);
        QCOMPARE(out[0], char(9));
        QVERIFY(stream.ReadBuffer(out, 3));
        QCOMPARE(QByteArray(out, 3), Bytes({1, 2, 3}));
        QCOMPARE(stream.GetPendingReadLength(), 0);
    }

    void HugeReadLengthFailsWithoutTouchingOutput()
    {
        MemStream stream = StreamOf({1, 2, 3});
        char out = 0;
        QVERIFY(!stream.ReadBuffer(&out, ~0UL));
        QCOMPARE(stream.GetPendingReadLength(), 3);
    }

    void ReadAdvancesTheReadPosition()
    {
        MemStream stream = StreamOf({10, 20, 30, 40, 50});
        char out[2];
        QVERIFY(stream.ReadBuffer(out, 2));
        QCOMPARE(stream.GetPendingReadLength(), 3);
        QCOMPARE(stream.GetBufferLength(), 5);
        QCOMPARE(*stream.GetReadBuffer(), char(30));
        QCOMPARE(PendingBytes(stream), Bytes({30, 40, 50}));
        QCOMPARE(WrittenBytes(stream), Bytes({10, 20, 30, 40, 50}));
    }

    void ZeroLengthReadAndWriteSucceed()
    {
        MemStream stream;
        QVERIFY(stream.WriteBuffer(nullptr, 0));
        QVERIFY(stream.ReadBuffer(nullptr, 0));
        QCOMPARE(stream.GetBufferLength(), 0);
    }

    void WriteBeyondTwoGigabytesIsRefused()
    {
        // Positions are ints; a write they cannot describe fails whole.
        MemStream stream = StreamOf({1});
        const char byte = 0;
        QVERIFY(!stream.WriteBuffer(&byte, 1UL << 40));
        QVERIFY(!stream.WriteBuffer(&byte, 0x7fffffffUL));
        QCOMPARE(stream.GetBufferLength(), 1);
        QCOMPARE(stream.GetBufferCapacity(), 256);
    }

    void ACopyReadingMovesTheOriginalsReadPosition()
    {
        MemStream original = StreamOf({1, 2, 3, 4, 5, 6});
        MemStream copy = original;
        char out[4];
        QVERIFY(copy.ReadBuffer(out, 4));
        QCOMPARE(original.GetPendingReadLength(), 2);
        QCOMPARE(*original.GetReadBuffer(), char(5));
    }

    void WritesThroughACopyAreSeenByTheOriginal()
    {
        MemStream original;
        MemStream copy(original);
        WriteFiller(copy, 300); // grows the shared buffer
        QCOMPARE(original.GetBufferLength(), 300);
        QCOMPARE(original.GetBufferCapacity(), 512);
        QCOMPARE(static_cast<const void*>(original.GetBuffer()),
                 static_cast<const void*>(copy.GetBuffer()));
    }

    void AssignmentSharesAndReleases()
    {
        MemStream a = StreamOf({1, 2});
        MemStream b = StreamOf({7, 8, 9});
        b = a;
        QCOMPARE(b.GetBufferLength(), 2);
        char out;
        QVERIFY(b.ReadBuffer(&out, 1));
        QCOMPARE(a.GetPendingReadLength(), 1);
        MemStream& alias = a;
        a = alias; // self-assignment keeps the buffer
        QCOMPARE(a.GetPendingReadLength(), 1);
    }

    void TheBufferOutlivesTheStreamItWasMadeBy()
    {
        MemStream survivor;
        {
            MemStream creator = StreamOf({42});
            survivor = creator;
        }
        char out = 0;
        QVERIFY(survivor.ReadBuffer(&out, 1));
        QCOMPARE(out, char(42));
    }

    void AMovedFromStreamStillSharesTheBuffer()
    {
        MemStream source = StreamOf({1, 2, 3});
        MemStream target = std::move(source);
        char out;
        QVERIFY(target.ReadBuffer(&out, 1));
        QCOMPARE(source.GetPendingReadLength(), 2);
    }

    void EnsureBufferCapacityOnAnEmptyStreamSizesExactly()
    {
        MemStream stream;
        stream.EnsureBufferCapacity(1000);
        QCOMPARE(stream.GetBufferCapacity(), 1000);
        stream.EnsureBufferCapacity(10);
        QCOMPARE(stream.GetBufferCapacity(), 1000);

        MemStream small;
        small.EnsureBufferCapacity(100);
        QCOMPARE(small.GetBufferCapacity(), 256);
    }

    void DirectWriteThroughTheWriteBuffer()
    {
        // The receive path: size the body, fill it from the socket, declare it.
        MemStream body;
        MemStream sharedCopy = body;
        body.EnsureBufferCapacity(300);
        QCOMPARE(sharedCopy.GetBufferCapacity(), 300);
        std::memset(body.GetWriteBuffer(), 'a', 100);
        body.AdvanceWriteIndex(100);
        std::memset(body.GetWriteBuffer(), 'b', 200);
        body.AdvanceWriteIndex(200);
        QCOMPARE(body.GetBufferLength(), 300);
        QCOMPARE(body.GetBufferCapacity(), 300);
        QCOMPARE(PendingBytes(sharedCopy), QByteArray(100, 'a') + QByteArray(200, 'b'));
        // A full buffer still grows by the usual rule on the next write.
        QVERIFY(body.Write('c'));
        QCOMPARE(body.GetBufferCapacity(), 600);
        QCOMPARE(WrittenBytes(body), QByteArray(100, 'a') + QByteArray(200, 'b') + 'c');
    }

    void ReserveBufferCapacityKeepsTheContent()
    {
        MemStream stream = StreamOf({1, 2, 3});
        char out;
        QVERIFY(stream.ReadBuffer(&out, 1));
        stream.ReserveBufferCapacity(10000);
        QCOMPARE(stream.GetBufferCapacity(), 10000);
        QCOMPARE(PendingBytes(stream), Bytes({2, 3}));
        stream.ReserveBufferCapacity(5);
        QCOMPARE(stream.GetBufferCapacity(), 10000);
    }

    void ResetRewindsBothPositionsAndKeepsTheCapacity()
    {
        MemStream stream;
        WriteFiller(stream, 600);
        char out[10];
        QVERIFY(stream.ReadBuffer(out, 10));
        stream.Reset();
        QCOMPARE(stream.GetBufferLength(), 0);
        QCOMPARE(stream.GetPendingReadLength(), 0);
        QCOMPARE(stream.GetBufferCapacity(), 1024);
        // After a reset the stream counts as empty again.
        stream.EnsureBufferCapacity(2048);
        QCOMPARE(stream.GetBufferCapacity(), 2048);
    }

    void ReadBufAndWriteBufCopyRawBytes()
    {
        struct Raw
        {
            int a;
            short b;
        };
        MemStream stream;
        const Raw in{0x01020304, 0x0506};
        QVERIFY(stream.WriteBuf(in));
        QCOMPARE(stream.GetBufferLength(), int(sizeof(Raw)));
        QCOMPARE(std::memcmp(stream.GetBuffer(), &in, sizeof in), 0);
        Raw out{};
        QVERIFY(stream.ReadBuf(out));
        QCOMPARE(out.a, in.a);
        QCOMPARE(out.b, in.b);
        QVERIFY(!stream.ReadBuf(out));
    }

    void SizingANonEmptyStreamAsserts()
    {
        const ChildOutcome outcome = RunInChild([] {
            MemStream stream = StreamOf({1});
            stream.EnsureBufferCapacity(1000);
            return 0;
        });
        QCOMPARE(outcome.signal, SIGABRT);
        QVERIFY2(outcome.stderrText.contains("\"mp_buffer->m_writeIndex == 0\""),
                 outcome.stderrText.constData());
        QVERIFY2(outcome.stderrText.contains("void MemStream::EnsureBufferCapacity(int)"),
                 outcome.stderrText.constData());
    }

    void AdvancingPastTheCapacityAsserts()
    {
        const ChildOutcome outcome = RunInChild([] {
            MemStream stream;
            stream.AdvanceWriteIndex(200);
            stream.AdvanceWriteIndex(57); // 257 > 256
            return 0;
        });
        QCOMPARE(outcome.signal, SIGABRT);
        QVERIFY2(
            outcome.stderrText.contains("\"mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize\""),
            outcome.stderrText.constData());
        QVERIFY2(outcome.stderrText.contains("void MemStream::AdvanceWriteIndex(int)"),
                 outcome.stderrText.constData());
    }

    void AdvancingExactlyToTheCapacityIsAllowed()
    {
        MemStream stream;
        stream.AdvanceWriteIndex(256);
        QCOMPARE(stream.GetBufferLength(), 256);
    }

    void DereferencingAnEmptyPointerAsserts()
    {
        const ChildOutcome outcome = RunInChild([] {
            rcptr<int> empty;
            return *empty;
        });
        QCOMPARE(outcome.signal, SIGABRT);
        QVERIFY2(outcome.stderrText.contains("\"mp_object != 0\""), outcome.stderrText.constData());
        QVERIFY2(outcome.stderrText.contains("rcptr"), outcome.stderrText.constData());
    }

    void PointerCountsCopiesAndFreesWithTheLast()
    {
        int alive = 0;
        {
            rcptr<Tracked> first(new Tracked(&alive));
            QCOMPARE(first.UseCount(), 1);
            {
                rcptr<Tracked> second = first;
                rcptr<Tracked> third;
                third = second;
                QCOMPARE(first.UseCount(), 3);
                QCOMPARE(third.Get(), first.Get());
            }
            QCOMPARE(first.UseCount(), 1);
            QCOMPARE(alive, 1);
            rcptr<Tracked> moved = std::move(first);
            QVERIFY(first.IsNull());
            QCOMPARE(moved.UseCount(), 1);
        }
        QCOMPARE(alive, 0);
    }
};

QTEST_GUILESS_MAIN(MemStreamTest)
#include "MemStreamTest.moc"
