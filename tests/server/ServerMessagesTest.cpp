#include <QtTest>

#include "Bytes.h"
#include "server/ServerMessages.h"
#include "streams/MemStream.h"

using namespace ServerMessages;

namespace {

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

// A stream over the bytes, positioned after the code, as a receiver reads it.
MemStream AfterCode(const QByteArray& bytes, int codeSize = 4)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    char code[4];
    stream.ReadBuffer(code,
                      static_cast<unsigned long>(std::min<qsizetype>(codeSize, bytes.size())));
    return stream;
}

// A request is written exactly as expected, parses back strictly, and any
// shorter body is refused.
template <class M> void CheckRequest(const M& message, const QByteArray& expected)
{
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), expected);

    for (int cut = 4; cut < expected.size(); ++cut) {
        MemStream in = AfterCode(expected.left(cut));
        M parsed;
        QVERIFY2(!parsed.Read(in),
                 qPrintable(QString("accepted %1 of %2 bytes").arg(cut).arg(expected.size())));
    }
    MemStream in = AfterCode(expected);
    M parsed;
    QVERIFY(parsed.Read(in));
    QCOMPARE(in.GetPendingReadLength(), 0);
    MemStream again;
    parsed.Write(again);
    QCOMPARE(Bytes(again), expected);
}

ByteBuilder Body(std::uint32_t code)
{
    return ByteBuilder().UInt32(code);
}

ByteBuilder Stats(int speed, std::uint64_t count, int files, int folders)
{
    return ByteBuilder()
        .Int32(speed)
        .UInt32(static_cast<std::uint32_t>(count))
        .UInt32(static_cast<std::uint32_t>(count >> 32))
        .Int32(files)
        .Int32(folders);
}

// A server message read as the client reads it; `complete` tells whether
// every field was there.
template <class M> M ReadLenient(const QByteArray& body, bool& complete)
{
    MemStream in = AfterCode(body);
    M message;
    complete = message.Read(in);
    return message;
}

} // namespace

class ServerMessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void RequestsAreLaidOutAsTheTablesSay();
    void LoginDigestIsLowercaseHexMd5OfUserThenPassword();
    void ServerMessagesAreWrittenForTheLabServer();
    void MissingFieldsKeepTheirInitialValues();
    void OversizedListsAndStringsAreCutShort();
    void RoomOwnerPartIsOptional();
    void PossibleParentsFollowTheCount();
};

void ServerMessagesTest::RequestsAreLaidOutAsTheTablesSay()
{
    using namespace ToServer;
    CheckRequest(Login{.m_user = "u", .m_password = "pw", .m_digest = "d"},
                 Body(1).String("u").String("pw").UInt32(157).String("d").UInt32(100));
    CheckRequest(SetWaitPort{.m_port = 2235, .m_obfuscatedPort = 8973},
                 Body(2).UInt32(2235).UInt32(1).UInt32(8973));
    CheckRequest(GetUserAddress{.m_user = "bob"}, Body(3).String("bob"));
    CheckRequest(AddUser{.m_user = "bob"}, Body(5).String("bob"));
    CheckRequest(UntrackUser{.m_user = "bob"}, Body(6).String("bob"));
    CheckRequest(GetUserStatus{.m_user = "bob"}, Body(7).String("bob"));
    CheckRequest(ToServer::RoomChat{.m_room = "r", .m_text = "hello"},
                 Body(13).String("r").String("hello"));
    CheckRequest(EnterRoom{.m_room = "r"}, Body(14).String("r"));
    CheckRequest(LeaveRoom{.m_room = "r"}, Body(15).String("r"));
    CheckRequest(IndirectConnectionRequest{.m_token = 9, .m_user = "bob", .m_type = "P"},
                 Body(18).UInt32(9).String("bob").String("P"));
    CheckRequest(ToServer::PrivateChat{.m_user = "bob", .m_text = "hi"},
                 Body(22).String("bob").String("hi"));
    CheckRequest(AcknowledgePrivateChat{.m_value = 77}, Body(23).UInt32(77));
    CheckRequest(FileSearch{.m_token = 4, .m_text = "song"}, Body(26).UInt32(4).String("song"));
    CheckRequest(SharedFilesFolders{.m_folders = 3, .m_files = 40}, Body(35).UInt32(3).UInt32(40));
    CheckRequest(GetUserStats{.m_user = "bob"}, Body(36).String("bob"));
    CheckRequest(GetRoomList(), Body(64));
    CheckRequest(DNetHasParent{.m_value = true}, Body(71).Byte(1));
    CheckRequest(GetOwnPrivilegesStatus(), Body(92));
    CheckRequest(DNetCanParent(), Body(100).Byte(0));
    CheckRequest(WishListSearch{.m_token = 5, .m_text = "song"},
                 Body(103).UInt32(5).String("song"));
    CheckRequest(UploadSpeed{.m_value = 123456}, Body(121).UInt32(123456));
    CheckRequest(DNetLevel{.m_value = 2}, Body(126).UInt32(2));
    CheckRequest(DNetGroupLeader{.m_user = "root"}, Body(127).String("root"));
    CheckRequest(ChildDepth{.m_value = true}, Body(129).Byte(1));
    CheckRequest(CantConnectToPeer{.m_token = 12, .m_user = "bob"},
                 Body(1001).UInt32(12).String("bob"));
}

void ServerMessagesTest::LoginDigestIsLowercaseHexMd5OfUserThenPassword()
{
    // RFC 1321's test value for "abc", split across user and password.
    QCOMPARE(ToServer::Login::Digest("a", "bc"), std::string("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(ToServer::Login::Digest("", ""), std::string("d41d8cd98f00b204e9800998ecf8427e"));
}

void ServerMessagesTest::ServerMessagesAreWrittenForTheLabServer()
{
    using namespace FromServer;
    MemStream out;
    LoginReply refused;
    refused.m_reason = "INVALIDPASS";
    refused.Write(out);
    QCOMPARE(Bytes(out), QByteArray(Body(1).Byte(0).String("INVALIDPASS")));

    MemStream requestOut;
    PeerConnectionRequest request;
    request.m_user = "bob";
    request.m_type = "F";
    request.m_address = 0x0100007f;
    request.m_port = 2235;
    request.m_token = 8;
    request.m_privileged = true;
    request.m_obfuscationType = 1;
    request.m_obfuscatedPort = 8973;
    request.Write(requestOut);
    QCOMPARE(Bytes(requestOut), QByteArray(Body(18)
                                               .String("bob")
                                               .String("F")
                                               .UInt32(0x0100007f)
                                               .Int32(2235)
                                               .UInt32(8)
                                               .Byte(1)
                                               .Int32(1)
                                               .Int32(8973)));

    MemStream addOut;
    AddUserReply offline;
    offline.m_user = "bob";
    offline.m_exists = true;
    offline.m_stats = UserStats(10, 0x100000002LL, 3, 1);
    offline.m_countryCode = "never written";
    offline.Write(addOut);
    QCOMPARE(Bytes(addOut), QByteArray(Body(5).String("bob").Byte(1).Int32(0).Raw(
                                Stats(10, 0x100000002ULL, 3, 1))));

    // The server passes the embedded bytes on as they are.
    const QByteArray searchBytes =
        ByteBuilder().Byte(3).UInt32(49).String("carol").UInt32(66).String("jazz");
    DNetMessage wrapper;
    wrapper.m_embedded = searchBytes.toStdString();
    MemStream wrapped;
    wrapper.Write(wrapped);
    QCOMPARE(Bytes(wrapped), QByteArray(Body(93).Raw(searchBytes)));
    MemStream in = AfterCode(Bytes(wrapped));
    DNetMessage parsed;
    QVERIFY(parsed.Read(in));
    QCOMPARE(QByteArray::fromStdString(parsed.m_embedded), searchBytes);
}

void ServerMessagesTest::MissingFieldsKeepTheirInitialValues()
{
    bool complete = false;
    auto status = ReadLenient<FromServer::UserStatus>(Body(7).String("bob").Int32(1), complete);
    QVERIFY(!complete);
    QCOMPARE(status.m_user, std::string("bob"));
    QCOMPARE(status.m_status, 1);
    QVERIFY(!status.m_privileged);

    // A field that breaks off does not stop the ones after it being tried:
    // the two bytes left are too few for the port and the token, but the
    // privileged byte still reads the first of them.
    auto request = ReadLenient<FromServer::PeerConnectionRequest>(
        Body(18).String("bob").String("P").UInt32(5).Raw("\x01\x00"), complete);
    QVERIFY(!complete);
    QCOMPARE(request.m_user, std::string("bob"));
    QCOMPARE(request.m_address, 5u);
    QCOMPARE(request.m_port, 0);
    QCOMPARE(request.m_token, 0u);
    QVERIFY(request.m_privileged);
    QCOMPARE(request.m_obfuscationType, 0);

    auto added =
        ReadLenient<FromServer::AddUserReply>(Body(5).String("bob").Byte(1).Int32(2), complete);
    QVERIFY(!complete);
    QVERIFY(added.m_exists);
    QCOMPARE(added.m_status, 2);
    QCOMPARE(added.m_countryCode, std::string());
}

void ServerMessagesTest::OversizedListsAndStringsAreCutShort()
{
    bool complete = false;
    const QByteArray tooLong(131073, 'x');
    auto cut = ReadLenient<FromServer::RoomEntered>(
        Body(14).String("room").UInt32(3).String("a").String("b").String(tooLong), complete);
    QVERIFY(!complete);
    QCOMPARE(cut.m_room, std::string("room"));
    QCOMPARE(cut.m_users, (std::list<std::string>{"a", "b"}));

    auto refused = ReadLenient<FromServer::PrivilegedUsers>(Body(69).UInt32(0x20001), complete);
    QVERIFY(!complete);
    QVERIFY(refused.m_users.empty());
    auto atLimit = ReadLenient<FromServer::PrivilegedUsers>(
        Body(69).UInt32(2).String("a").String(QByteArray(131072, 'y')), complete);
    QVERIFY(complete);
    QCOMPARE(atLimit.m_users.size(), std::size_t(2));
}

void ServerMessagesTest::RoomOwnerPartIsOptional()
{
    bool complete = false;
    ByteBuilder base = Body(14)
                           .String("room")
                           .UInt32(1)
                           .String("bob")
                           .UInt32(1)
                           .Int32(1)
                           .UInt32(1)
                           .Raw(Stats(5, 0, 6, 7))
                           .UInt32(1)
                           .Int32(0)
                           .UInt32(1)
                           .String("SE");
    auto without = ReadLenient<FromServer::RoomEntered>(base, complete);
    QVERIFY(complete);
    QVERIFY(!without.m_hasOwner);
    QCOMPARE(without.m_stats.front(), UserStats(5, 0, 6, 7));
    QCOMPARE(without.m_countryCodes.front(), std::string("SE"));

    auto with = ReadLenient<FromServer::RoomEntered>(
        ByteBuilder(base).String("owner").UInt32(2).String("op1").String("op2"), complete);
    QVERIFY(complete);
    QVERIFY(with.m_hasOwner);
    QCOMPARE(with.m_owner, std::string("owner"));
    QCOMPARE(with.m_operators, (std::set<std::string>{"op1", "op2"}));

    MemStream out;
    with.Write(out);
    QCOMPARE(Bytes(out),
             QByteArray(ByteBuilder(base).String("owner").UInt32(2).String("op1").String("op2")));
}

void ServerMessagesTest::PossibleParentsFollowTheCount()
{
    bool complete = false;
    auto none = ReadLenient<FromServer::PossibleParents>(Body(102).UInt32(0), complete);
    QVERIFY(complete);
    QVERIFY(none.m_parents.empty());
    auto refused = ReadLenient<FromServer::PossibleParents>(
        Body(102).UInt32(0x20001).String("a").UInt32(1).Int32(2), complete);
    QVERIFY(!complete);
    QVERIFY(refused.m_parents.empty());

    auto two = ReadLenient<FromServer::PossibleParents>(
        Body(102).UInt32(3).String("a").UInt32(1).Int32(2).String("b").UInt32(3).Int32(4),
        complete);
    QVERIFY(!complete);
    using Parent = std::pair<std::string, TCPAddress>;
    QCOMPARE(two.m_parents, (std::list<Parent>{{"a", TCPAddress(1, 2)}, {"b", TCPAddress(3, 4)}}));
}

QTEST_GUILESS_MAIN(ServerMessagesTest)
#include "ServerMessagesTest.moc"
