#include <new>

#include <QFile>
#include <QTest>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include "StreamTestHelpers.h"
#include "streams/BackgroundDeflater.h"
#include "streams/Compression.h"

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace {

// zlib("hello") at level 9, header 78 DA, Adler-32 062C0215.
QByteArray HelloZlib()
{
    return Bytes({0x78, 0xda, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00, 0x06, 0x2c, 0x02, 0x15});
}

// A zlib stream of count zero bytes, deflated a mebibyte at a time so that
// neither the test nor the code under test ever holds the uncompressed data.
QByteArray DeflateZeros(qint64 count)
{
    static const QByteArray zeros(1 << 20, '\0');
    QByteArray out(qsizetype(count / 1000 + 1024), '\0'); // zeros shrink over 1000:1
    z_stream zs{};
    deflateInit(&zs, 9);
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int result = Z_OK;
    for (qint64 left = count; result == Z_OK && zs.avail_out > 0;) {
        const qint64 piece = qMin<qint64>(left, zeros.size());
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
        zs.avail_in = static_cast<uInt>(piece);
        left -= piece;
        result = deflate(&zs, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    out.resize(result == Z_STREAM_END ? qsizetype(zs.total_out) : 0);
    deflateEnd(&zs);
    return out;
}

// Keeps a probe allocation observable so the compiler cannot drop it.
void* volatile g_allocationSink = nullptr;

bool FirstReadFails(MemStream stream)
{
    unsigned char byte = 0;
    return stream.GetPendingReadLength() == 0 && !stream.Read(byte);
}

// The address space this process uses now, in bytes.
long long CurrentAddressSpace()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

class CompressionTest : public QObject
{
    Q_OBJECT

private slots:
    void ZlibAtLevelNineRoundTrips()
    {
        MemStream hello = StreamOf(QByteArray("hello"));
        char skipped[3];
        QVERIFY(hello.ReadBuffer(skipped, 3));
        QCOMPARE(WrittenBytes(CompressStream(hello)), HelloZlib()); // read or not
        QCOMPARE(PendingBytes(hello), QByteArray("lo"));
        QCOMPARE(WrittenBytes(CompressStream(MemStream())),
                 Bytes({0x78, 0xda, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));

        // A compressed message: u32 code, the zlib stream, anything after it ignored.
        MemStream message = StreamOf(Bytes({9, 0, 0, 0}) + HelloZlib() + "trailing");
        int code = 0;
        QVERIFY(message.Read(code));
        QCOMPARE(PendingBytes(DecompressStream(message)), QByteArray("hello"));
        QCOMPARE(message.GetPendingReadLength(), HelloZlib().size() + 8);

        // Barely compressible, fed in uneven pieces on another thread.
        MemStream random;
        quint32 state = 12345;
        for (int i = 0; i < (1 << 20); ++i) {
            state = state * 1103515245u + 12345u;
            random.Write(static_cast<unsigned char>(state >> 24));
        }
        const QByteArray plain = WrittenBytes(random) + WrittenBytes(random);
        BackgroundDeflater deflater;
        for (qsizetype at = 0, piece = 1; at < plain.size(); at += piece, piece = piece * 3 + 1)
            QVERIFY(deflater.Write(plain.mid(at, piece).toStdString()));
        QVERIFY(deflater.Finish());
        QByteArray streamed(qsizetype(deflater.Size()), '\0');
        deflater.MoveTo(streamed.data());
        QVERIFY(streamed.size() > 1024 * 1024);
        QCOMPARE(streamed, WrittenBytes(CompressStream(StreamOf(plain))));
    }

    void ACorruptStreamYieldsAnEmptyStream()
    {
        const QByteArray corrupt[] = {
            HelloZlib().replace(12, 1, "\x16"),       // checksum
            HelloZlib().replace(3, 1, "\xff"),        // data
            HelloZlib().left(HelloZlib().size() - 2), // truncated
            QByteArray("plain text, not compressed"), QByteArray(),
            // asks for a preset dictionary we never have
            Bytes({0x78, 0xf9, 0x01, 0x26, 0x00, 0xc4, 0x4b, 0x04, 0x00, 0x00, 0x62, 0x00, 0x62})};
        for (const QByteArray& input : corrupt)
            QVERIFY2(FirstReadFails(DecompressStream(StreamOf(input))), input.toHex().constData());
    }

    // 64 MiB comes out whole; one byte more, or a 200 MiB bomb, yields
    // nothing, and the bomb fails without ever holding its size.
    void DecompressionIsCappedAtSixtyFourMebibytes()
    {
        const qint64 cap = 64 * 1024 * 1024;
        const MemStream atCap = DecompressStream(StreamOf(DeflateZeros(cap)));
        QVERIFY(atCap.GetBufferLength() == cap && atCap.GetBufferCapacity() == cap);
        QVERIFY(FirstReadFails(DecompressStream(StreamOf(DeflateZeros(cap + 1)))));
        const QByteArray bomb = DeflateZeros(200LL * 1024 * 1024);
        QVERIFY(bomb.size() < 300 * 1024);
        const MemStream source = StreamOf(bomb);
        QVERIFY(FirstReadFails(DecompressStream(source)));

#ifdef UNDER_ADDRESS_SANITIZER
        QSKIP("AddressSanitizer's reserved address space rules out an address space limit");
#endif
        // A child that may map only 160 MiB more than it holds, counting what
        // malloc keeps for reuse: holding the bomb's 200 MiB would abort it.
        const ChildOutcome outcome = RunInChild([&source] {
            const long long base = CurrentAddressSpace();
            if (base < 0)
                return 3;
            const long long reusable = static_cast<long long>(mallinfo2().fordblks);
            const rlim_t limit = static_cast<rlim_t>(base - reusable + 160LL * 1024 * 1024);
            const rlimit rl{limit, limit};
            if (setrlimit(RLIMIT_AS, &rl) != 0)
                return 4;
            try {
                g_allocationSink = ::operator new(200 * 1024 * 1024);
                return 2; // the limit does not bite: the check would prove nothing
            } catch (const std::bad_alloc&) {
            }
            return FirstReadFails(DecompressStream(source)) ? 0 : 1;
        });
        QVERIFY2(outcome.exitCode == 0,
                 (QByteArray::number(outcome.exitCode) + ": " + outcome.stderrText).constData());
    }
};

QTEST_GUILESS_MAIN(CompressionTest)
#include "CompressionTest.moc"
