#include <QtTest>

#include "Bytes.h"
#include "peers/Scrambler.h"
#include "streams/MemStream.h"

namespace {

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

QByteArray ScrambleWithKey(std::uint32_t key, const QByteArray& frame)
{
    Scrambler scrambler([key] { return key; });
    return Bytes(scrambler.Scramble(frame.constData(), static_cast<int>(frame.size())));
}

// The frame of a code-43 body without fields: length 4, then code 43.
const QByteArray CodeOnlyFrame = ByteBuilder().UInt32(4).UInt32(43);

} // namespace

class ScramblerTest : public QObject
{
    Q_OBJECT

private slots:
    void KeyIsRotatedBeforeEveryGroupOfFour();
    void ZeroKeyLeavesTheFramePlain();
    void ReceiverUndoesTheSenderAtEveryLength();
    void EveryFrameDrawsAFreshKey();
};

void ScramblerTest::KeyIsRotatedBeforeEveryGroupOfFour()
{
    // Key 1: rotated to 2 for the length, to 4 for the code.
    QCOMPARE(ScrambleWithKey(1, CodeOnlyFrame), QByteArray::fromHex("01000000"
                                                                    "06000000"
                                                                    "2f000000"));
    // The top bit wraps round to the bottom.
    QCOMPARE(ScrambleWithKey(0x80000000, CodeOnlyFrame), QByteArray::fromHex("00000080"
                                                                             "05000000"
                                                                             "29000000"));
    // Every byte of the key is used, least significant first.
    QCOMPARE(ScrambleWithKey(0x01020304, CodeOnlyFrame), QByteArray::fromHex("04030201"
                                                                             "0c060402"
                                                                             "3b0c0804"));
}

void ScramblerTest::ZeroKeyLeavesTheFramePlain()
{
    QCOMPARE(ScrambleWithKey(0, CodeOnlyFrame), QByteArray(4, '\0') + CodeOnlyFrame);
}

void ScramblerTest::ReceiverUndoesTheSenderAtEveryLength()
{
    for (int bodyLength = 0; bodyLength <= 9; ++bodyLength) {
        QByteArray body;
        for (int i = 0; i < bodyLength; ++i)
            body.append(static_cast<char>(0xa0 + i));
        const QByteArray frame =
            ByteBuilder().UInt32(static_cast<std::uint32_t>(bodyLength)).Raw(body);
        const QByteArray scrambled = ScrambleWithKey(0xdeadbeef, frame);
        QCOMPARE(scrambled.size(), frame.size() + 4);

        std::uint32_t key = 0;
        const auto* header = reinterpret_cast<const unsigned char*>(scrambled.constData());
        QCOMPARE(Scrambler::ReadHeader(header, key), static_cast<std::uint32_t>(bodyLength));
        QByteArray received = scrambled.mid(Scrambler::HeaderSize);
        Scrambler::DescrambleBody(key, received.data(), static_cast<int>(received.size()));
        QCOMPARE(received, body);
    }
}

void ScramblerTest::EveryFrameDrawsAFreshKey()
{
    std::uint32_t next = 7;
    Scrambler scrambler([&next] { return next++; });
    const QByteArray first = Bytes(scrambler.Scramble(CodeOnlyFrame.constData(), 8));
    const QByteArray second = Bytes(scrambler.Scramble(CodeOnlyFrame.constData(), 8));
    QCOMPARE(first.left(4), QByteArray::fromHex("07000000"));
    QCOMPARE(second.left(4), QByteArray::fromHex("08000000"));

    // The clock-seeded default source does not repeat one key.
    Scrambler seeded;
    QSet<QByteArray> keys;
    for (int i = 0; i < 16; ++i)
        keys.insert(Bytes(seeded.Scramble(CodeOnlyFrame.constData(), 8)).left(4));
    QVERIFY(keys.size() > 1);
}

QTEST_GUILESS_MAIN(ScramblerTest)
#include "ScramblerTest.moc"
