#include <QIODevice>
#include <QtTest>

#include "Bytes.h"
#include "streams/FrameReader.h"

namespace {

// A device whose bytes arrive only when the test feeds them, like a socket.
class FeedDevice : public QIODevice
{
public:
    FeedDevice() { open(QIODevice::ReadOnly); }
    void Feed(const QByteArray& bytes) { m_pending += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_pending.size() + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, m_pending.size());
        std::memcpy(data, m_pending.constData(), static_cast<size_t>(n));
        m_pending.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_pending;
};

QByteArray Framed(const QByteArray& body)
{
    return ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body);
}

QByteArray Pending(const MemStream& body)
{
    return QByteArray(body.GetReadBuffer(), body.GetPendingReadLength());
}

// Every body the reader completes from what the device holds now.
QList<QByteArray> Drain(FrameReader& reader, QIODevice& device)
{
    QList<QByteArray> bodies;
    MemStream body;
    while (reader.Next(device, body) == FrameReader::Complete)
        bodies << Pending(body);
    return bodies;
}

} // namespace

class FrameReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void FramesSplitAnywhereAreReassembled();
    void ThreeFramesInOneReadComeOutInOrder();
    void ReadsNoFurtherThanTheBody();
    void LargeBodyGetsABufferOfExactlyItsLength();
    void BodiesAboveTheBoundAreRefused();
    void FrameWritesLengthThenEveryWrittenByte();
};

void FrameReaderTest::FramesSplitAnywhereAreReassembled()
{
    const QList<QByteArray> bodies = {"first body", "", "xyz"};
    QByteArray stream;
    for (const QByteArray& body : bodies)
        stream += Framed(body);

    for (int split = 0; split <= stream.size(); ++split) {
        FrameReader reader(1024);
        FeedDevice device;
        device.Feed(stream.left(split));
        QList<QByteArray> got = Drain(reader, device);
        device.Feed(stream.mid(split));
        got += Drain(reader, device);
        QCOMPARE(got, bodies);
    }

    // One byte per read: a length arrives in four pieces, a body in many.
    FrameReader reader(1024);
    FeedDevice device;
    QList<QByteArray> got;
    for (char byte : stream) {
        device.Feed(QByteArray(1, byte));
        got += Drain(reader, device);
    }
    QCOMPARE(got, bodies);
}

void FrameReaderTest::ThreeFramesInOneReadComeOutInOrder()
{
    FrameReader reader(1024);
    FeedDevice device;
    device.Feed(Framed("one") + Framed("two") + Framed("three"));
    QCOMPARE(Drain(reader, device), (QList<QByteArray>{"one", "two", "three"}));
}

void FrameReaderTest::ReadsNoFurtherThanTheBody()
{
    FrameReader reader(1024);
    FeedDevice device;
    device.Feed(Framed("body") + QByteArray("\x09\x00", 2));
    MemStream body;
    QCOMPARE(reader.Next(device, body), FrameReader::Complete);
    QCOMPARE(Pending(body), QByteArray("body"));
    QCOMPARE(device.bytesAvailable(), qint64(2));
    // Half a length stays in the device until the rest arrives.
    QCOMPARE(reader.Next(device, body), FrameReader::Incomplete);
    QCOMPARE(device.bytesAvailable(), qint64(2));
}

void FrameReaderTest::LargeBodyGetsABufferOfExactlyItsLength()
{
    FrameReader reader(1 << 20);
    FeedDevice device;
    const QByteArray large(1000, 'L');
    device.Feed(Framed(large).left(500));
    MemStream body;
    QCOMPARE(reader.Next(device, body), FrameReader::Incomplete);
    device.Feed(Framed(large).mid(500) + Framed("small"));
    QCOMPARE(reader.Next(device, body), FrameReader::Complete);
    QCOMPARE(Pending(body), large);
    QCOMPARE(body.GetBufferCapacity(), 1000);
    // The next, smaller body reuses that buffer.
    QCOMPARE(reader.Next(device, body), FrameReader::Complete);
    QCOMPARE(Pending(body), QByteArray("small"));
    QCOMPARE(body.GetBufferCapacity(), 1000);
}

void FrameReaderTest::BodiesAboveTheBoundAreRefused()
{
    FrameReader reader(16);
    FeedDevice device;
    device.Feed(Framed(QByteArray(16, 'a')) + ByteBuilder().UInt32(17).Raw("more").Data());
    MemStream body;
    QCOMPARE(reader.Next(device, body), FrameReader::Complete);
    QCOMPARE(reader.Next(device, body), FrameReader::Oversized);
    // The stream is broken from here on, whatever follows.
    device.Feed(Framed("ok"));
    QCOMPARE(reader.Next(device, body), FrameReader::Oversized);

    reader.Reset();
    FeedDevice fresh;
    fresh.Feed(Framed("ok"));
    QCOMPARE(Drain(reader, fresh), QList<QByteArray>{"ok"});
}

void FrameReaderTest::FrameWritesLengthThenEveryWrittenByte()
{
    MemStream body;
    body.Write(7u);
    body.Write(std::string("hi"));
    unsigned int alreadyRead = 0;
    body.Read(alreadyRead);
    const MemStream frame = Frame(body);
    const QByteArray expected = ByteBuilder().UInt32(10).UInt32(7).String("hi");
    QCOMPARE(QByteArray(frame.GetBuffer(), frame.GetBufferLength()), expected);
}

QTEST_GUILESS_MAIN(FrameReaderTest)
#include "FrameReaderTest.moc"
