#include <QtTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"

namespace {

// Average speed, the 64-bit count, files, folders.
ByteBuilder& Stats(ByteBuilder& bytes, std::int32_t speed, std::uint32_t count, std::int32_t files,
                   std::int32_t folders)
{
    return bytes.Int32(speed).UInt32(count).UInt32(0).Int32(files).Int32(folders);
}

QByteArray Joined(const QByteArray& user)
{
    ByteBuilder bytes;
    bytes.UInt32(16).String("lobby").String(user).Int32(2);
    return Stats(bytes, 0, 0, 0, 0).Int32(0).String("XX");
}

QByteArray Left(const QByteArray& user)
{
    return ByteBuilder().UInt32(17).String("lobby").String(user);
}

QByteArray RoomList(std::uint32_t count)
{
    ByteBuilder bytes;
    bytes.UInt32(64).UInt32(1).String("lobby").UInt32(1).UInt32(count);
    for (int empty = 0; empty < 6; ++empty)
        bytes.UInt32(0);
    return bytes;
}

} // namespace

class LabServerRoomsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void MembersSeeEachOtherJoinChatAndLeave();
    void StatisticsReachTheRoomAndTheStatsAnswer();

private:
    LabServerProcess* m_server = nullptr;
    LabTestClient* m_alice = nullptr;
    LabTestClient* m_bob = nullptr;
};

void LabServerRoomsTest::init()
{
    m_server = new LabServerProcess;
    QVERIFY(m_server->Start());
    m_alice = new LabTestClient;
    m_bob = new LabTestClient;
    QVERIFY(m_alice->Connect(m_server->Port()));
    QVERIFY(m_alice->LogIn("alice"));
    QVERIFY(m_bob->Connect(m_server->Port()));
    QVERIFY(m_bob->LogIn("bob"));
}

void LabServerRoomsTest::cleanup()
{
    delete m_alice;
    delete m_bob;
    const bool stopped = m_server->Stop();
    delete m_server;
    m_server = nullptr;
    QVERIFY(stopped);
}

void LabServerRoomsTest::MembersSeeEachOtherJoinChatAndLeave()
{
    m_alice->Send(ByteBuilder().UInt32(14).String("lobby"));
    ByteBuilder aliceAlone;
    aliceAlone.UInt32(14).String("lobby").UInt32(1).String("alice").UInt32(1).Int32(2).UInt32(1);
    Stats(aliceAlone, 0, 0, 0, 0).UInt32(1).Int32(0).UInt32(1).String("XX");
    QCOMPARE(m_alice->Next(), aliceAlone.Data());

    m_bob->Send(ByteBuilder().UInt32(14).String("lobby"));
    ByteBuilder both;
    both.UInt32(14).String("lobby").UInt32(2).String("alice").String("bob");
    both.UInt32(2).Int32(2).Int32(2).UInt32(2);
    Stats(Stats(both, 0, 0, 0, 0), 0, 0, 0, 0).UInt32(2).Int32(0).Int32(0);
    both.UInt32(2).String("XX").String("XX");
    QCOMPARE(m_bob->Next(), both.Data());
    QCOMPARE(m_alice->Next(), Joined("bob"));

    const QByteArray chat = ByteBuilder().UInt32(13).String("lobby").String("bob").String("hello");
    m_bob->Send(ByteBuilder().UInt32(13).String("lobby").String("hello"));
    QCOMPARE(m_bob->Next(), chat);
    QCOMPARE(m_alice->Next(), chat);

    m_alice->Send(ByteBuilder().UInt32(64));
    QCOMPARE(m_alice->Next(), RoomList(2));

    // Someone outside the room can neither talk into it nor leave it.
    LabTestClient carol;
    QVERIFY(carol.Connect(m_server->Port()));
    QVERIFY(carol.LogIn("carol"));
    carol.Send(ByteBuilder().UInt32(13).String("lobby").String("intruder"));
    carol.Send(ByteBuilder().UInt32(15).String("lobby"));
    QVERIFY(carol.NothingElsePending());
    QVERIFY(m_alice->NothingElsePending());

    m_bob->Send(ByteBuilder().UInt32(15).String("lobby"));
    QCOMPARE(m_bob->Next(), ByteBuilder().UInt32(15).String("lobby").Data());
    QCOMPARE(m_alice->Next(), Left("bob"));

    m_bob->Send(ByteBuilder().UInt32(14).String("lobby"));
    QCOMPARE(CodeOf(m_bob->Next()), 14u);
    QCOMPARE(m_alice->Next(), Joined("bob"));
    m_bob->Disconnect();
    QCOMPARE(m_alice->Next(), Left("bob"));
    m_alice->Send(ByteBuilder().UInt32(64));
    QCOMPARE(m_alice->Next(), RoomList(1));
}

void LabServerRoomsTest::StatisticsReachTheRoomAndTheStatsAnswer()
{
    m_alice->Send(ByteBuilder().UInt32(35).UInt32(3).UInt32(40));
    m_alice->Send(ByteBuilder().UInt32(121).UInt32(100));
    m_alice->Send(ByteBuilder().UInt32(121).UInt32(301));
    m_alice->Send(ByteBuilder().UInt32(14).String("lobby"));
    QCOMPARE(CodeOf(m_alice->Next()), 14u);

    m_bob->Send(ByteBuilder().UInt32(14).String("lobby"));
    ByteBuilder both;
    both.UInt32(14).String("lobby").UInt32(2).String("alice").String("bob");
    both.UInt32(2).Int32(2).Int32(2).UInt32(2);
    Stats(Stats(both, 200, 2, 40, 3), 0, 0, 0, 0).UInt32(2).Int32(0).Int32(0);
    both.UInt32(2).String("XX").String("XX");
    QCOMPARE(m_bob->Next(), both.Data());

    m_bob->Send(ByteBuilder().UInt32(36).String("alice"));
    ByteBuilder stats;
    stats.UInt32(36).String("alice");
    QCOMPARE(m_bob->Next(), Stats(stats, 200, 2, 40, 3).Data());
    // Statistics belong to the account and outlive the session.
    m_alice->Disconnect();
    QCOMPARE(m_bob->Next(), Left("alice"));
    m_bob->Send(ByteBuilder().UInt32(36).String("alice"));
    QCOMPARE(m_bob->Next(), stats.Data());
}

QTEST_GUILESS_MAIN(LabServerRoomsTest)
#include "LabServerRoomsTest.moc"
