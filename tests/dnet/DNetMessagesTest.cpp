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
    void MessagesHaveTheirLayout();
    void SearchesNeedTheirMarkerToBeRead();
    void ShortBodiesDoNotRead();
};

void DNetMessagesTest::MessagesHaveTheirLayout()
{
    SearchRequest search;
    search.m_user = "carol";
    search.m_token = 66;
    search.m_text = "jazz";
    QCOMPARE(Written(search),
             ByteBuilder().Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz").Data());
    QCOMPARE(Written(Level{.m_level = -1}), ByteBuilder().Byte(4).Int32(-1).Data());
    QCOMPARE(Written(GroupLeader{.m_user = "lead"}), ByteBuilder().Byte(5).String("lead").Data());
    QCOMPARE(Written(ChildDepth{.m_depth = 7}), ByteBuilder().Byte(7).Int32(7).Data());
}

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

void DNetMessagesTest::ShortBodiesDoNotRead()
{
    const QByteArray search =
        ByteBuilder().Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz");
    // Every cut of a search short of its end fails, down to a missing marker.
    for (qsizetype length = 1; length < search.size(); ++length) {
        MemStream in = AfterCode(search.left(length));
        QVERIFY2(!SearchRequest().Read(in), qPrintable(QString::number(length)));
    }
    MemStream level = AfterCode(ByteBuilder().Byte(4).Byte(1).Byte(2));
    QVERIFY(!Level().Read(level));
    MemStream leader = AfterCode(ByteBuilder().Byte(5).UInt32(10).Raw("short"));
    QVERIFY(!GroupLeader().Read(leader));
    MemStream depth = AfterCode(ByteBuilder().Byte(7));
    QVERIFY(!ChildDepth().Read(depth));
}

QTEST_GUILESS_MAIN(DNetMessagesTest)
#include "DNetMessagesTest.moc"
