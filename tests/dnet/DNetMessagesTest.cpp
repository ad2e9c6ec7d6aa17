#include <QtTest>

#include "Bytes.h"
#include "dnet/DNetMessages.h"
#include "streams/MemStream.h"

using namespace DNetMessages;

namespace {

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

template <class Message> QByteArray Written(const Message& message)
{
    MemStream out;
    if (!message.Write(out))
        return "write failed";
    return Bytes(out);
}

// A stream over the body after its one-byte code, as the receiver reads it.
MemStream AfterCode(const QByteArray& body)
{
    MemStream in;
    in.WriteBuffer(body.constData() + 1, body.size() - 1);
    return in;
}

} // namespace

class DNetMessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void SearchesNeedTheirMarkerToBeRead();
};

void DNetMessagesTest::SearchesNeedTheirMarkerToBeRead()
{
    MemStream good =
        AfterCode(ByteBuilder().Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz"));
    SearchRequest search;
    QVERIFY(search.Read(good));
    QVERIFY(!search.IsOpaque());
    QCOMPARE(search.m_user, std::string("carol"));
    QCOMPARE(search.m_token, 66u);
    QCOMPARE(search.m_text, std::string("jazz"));
    QCOMPARE(good.GetPendingReadLength(), 0);

    // With another marker the rest is not ours: it stays unread.
    MemStream opaque = AfterCode(ByteBuilder().Byte(3).UInt32(50).String("carol"));
    SearchRequest other;
    QVERIFY(other.Read(opaque));
    QVERIFY(other.IsOpaque());
    QVERIFY(other.m_user.empty());
    QCOMPARE(opaque.GetPendingReadLength(), 9);
    QCOMPARE(Written(other), ByteBuilder().Byte(3).UInt32(50).Data());
}

QTEST_GUILESS_MAIN(DNetMessagesTest)
#include "DNetMessagesTest.moc"
