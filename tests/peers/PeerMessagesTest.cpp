#include <QtTest>

#include "Bytes.h"
#include "RecordBytes.h"
#include "peers/PeerMessages.h"
#include "streams/MemStream.h"

using namespace PeerMessages;
using RecordBytes::Compressed;
using RecordBytes::Record;

namespace {

constexpr std::uint32_t Limit = 131072;

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

// A stream over the bytes, positioned after the code (or the direction
// byte), as a receiver reads it.
MemStream AfterCode(const QByteArray& bytes, int codeSize = 4)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    char code[4];
    stream.ReadBuffer(code,
                      static_cast<unsigned long>(std::min<qsizetype>(codeSize, bytes.size())));
    return stream;
}

ByteBuilder Body(std::uint32_t code)
{
    return ByteBuilder().UInt32(code);
}

// A message is written exactly as expected, reads back into what writes the
// same bytes, and every body shorter than `required` bytes (all of them
// unless the message ends in an optional field) is refused.
template <class M>
void CheckLayout(const M& message, const QByteArray& expected, int codeSize = 4, int required = -1)
{
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), expected);

    for (int cut = codeSize; cut < (required < 0 ? expected.size() : required); ++cut) {
        MemStream in = AfterCode(expected.left(cut), codeSize);
        M parsed;
        QVERIFY2(!parsed.Read(in),
                 qPrintable(QString("accepted %1 of %2 bytes").arg(cut).arg(expected.size())));
    }
    MemStream in = AfterCode(expected, codeSize);
    M parsed;
    QVERIFY(parsed.Read(in));
    QCOMPARE(in.GetPendingReadLength(), 0);
    MemStream again;
    QVERIFY(parsed.Write(again));
    QCOMPARE(Bytes(again), expected);
}

template <class M> bool ReadBody(const QByteArray& body, M& message)
{
    MemStream in = AfterCode(body);
    return message.Read(in);
}

FileInfo File(const std::string& name, long long size)
{
    FileInfo file;
    file.m_name = name;
    file.m_size = size;
    return file;
}

} // namespace

class PeerMessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void FirstFramesAreLaidOutAsTheTablesSay();
    void MessagesAreLaidOutAsTheTablesSay();
    void OptionalFieldsMayBeLeftOut();
    void ShareListIsOneZlibStream();
    void SearchResultIsOneZlibStream();
    void SearchResultFileCountIsLimited();
    void FolderContentsAreOneZlibStream();
    void BodiesThatDoNotInflateAreRefused();
    void MessageCodesHaveTheirNames();
};

void PeerMessagesTest::FirstFramesAreLaidOutAsTheTablesSay()
{
    CheckLayout(PeerInit{.m_user = "alice", .m_type = "P"},
                ByteBuilder().Byte(1).String("alice").String("P").UInt32(0), 1);
    CheckLayout(IndirectResponse{.m_token = 0x01020304}, ByteBuilder().Byte(0).UInt32(0x01020304),
                1);

    // A user name at the string limit is read; one byte more refuses the
    // connection.
    const QByteArray longest(Limit, 'u');
    PeerInit init;
    MemStream in = AfterCode(ByteBuilder().Byte(1).String(longest).String("F").UInt32(9), 1);
    QVERIFY(init.Read(in));
    QCOMPARE(init.m_user.size(), std::size_t(Limit));
    QCOMPARE(init.m_type, std::string("F"));
    MemStream over =
        AfterCode(ByteBuilder().Byte(1).String(longest + "u").String("F").UInt32(0), 1);
    QVERIFY(!init.Read(over));
}

void PeerMessagesTest::MessagesAreLaidOutAsTheTablesSay()
{
    CheckLayout(GetSharedFileList(), Body(4));
    CheckLayout(GetSharedFilesInFolder{.m_token = 21, .m_folder = "music\\old"},
                Body(36).UInt32(21).String("music\\old"));
    ByteBuilder request = Body(40).UInt32(1).UInt32(77).String("music\\a.mp3");
    CheckLayout(TransferRequest{.m_token = 77, .m_file = "music\\a.mp3", .m_size = 0x100000002LL},
                RecordBytes::UInt64(request, 0x100000002ULL));
    ByteBuilder accepted = Body(41).UInt32(77).Byte(1);
    CheckLayout(
        TransferResponse{.m_token = 77, .m_allowed = true, .m_hasSize = true, .m_size = 5000},
        RecordBytes::UInt64(accepted, 5000), 4, 9);
    CheckLayout(TransferResponse{.m_token = 78, .m_reason = "Queued"},
                Body(41).UInt32(78).Byte(0).String("Queued"));
    CheckLayout(QueueUpload{.m_file = "music\\a.mp3"}, Body(43).String("music\\a.mp3"));
    CheckLayout(UploadPlaceInLine{.m_file = "music\\a.mp3", .m_place = 12},
                Body(44).String("music\\a.mp3").UInt32(12));
    CheckLayout(UploadFailed{.m_file = "music\\a.mp3"}, Body(46).String("music\\a.mp3"));
    CheckLayout(UploadDenied{.m_file = "music\\a.mp3", .m_reason = "File not shared."},
                Body(50).String("music\\a.mp3").String("File not shared."));
    CheckLayout(UploadPlaceInLineRequest{.m_file = "music\\a.mp3"},
                Body(51).String("music\\a.mp3"));
}

void PeerMessagesTest::OptionalFieldsMayBeLeftOut()
{
    // A download request (direction 0) carries no size, in either direction
    // of travel.
    CheckLayout(TransferRequest{.m_direction = 0, .m_token = 5, .m_file = "a", .m_size = 99},
                Body(40).UInt32(0).UInt32(5).String("a"));
    TransferRequest download;
    download.m_size = 99;
    QVERIFY(ReadBody(Body(40).UInt32(0).UInt32(5).String("a"), download));
    QCOMPARE(download.m_size, 0LL);

    // An acceptance may stop after the allowed byte, also when only part of
    // the size arrived.
    for (const QByteArray& body : {QByteArray(Body(41).UInt32(6).Byte(1)),
                                   QByteArray(Body(41).UInt32(6).Byte(1).UInt32(5))}) {
        TransferResponse response{.m_hasSize = true, .m_size = 3, .m_reason = "stale"};
        QVERIFY(ReadBody(body, response));
        QVERIFY(response.m_allowed);
        QVERIFY(!response.m_hasSize);
        QCOMPARE(response.m_size, 0LL);
        QCOMPARE(response.m_reason, std::string());
    }
    MemStream out;
    QVERIFY((TransferResponse{.m_token = 6, .m_allowed = true, .m_size = 8}.Write(out)));
    QCOMPARE(Bytes(out), QByteArray(Body(41).UInt32(6).Byte(1)));

    // Any non-zero byte allows.
    TransferResponse allowed;
    QVERIFY(ReadBody(Body(41).UInt32(6).Byte(7), allowed));
    QVERIFY(allowed.m_allowed);
}

void PeerMessagesTest::ShareListIsOneZlibStream()
{
    const QByteArray listing = ByteBuilder()
                                   .UInt32(2)
                                   .String("music")
                                   .UInt32(1)
                                   .Raw(Record("a.mp3", 4000, "mp3", {{0, 192}, {2, 0}}))
                                   .String("music\\live")
                                   .UInt32(2)
                                   .Raw(Record("b.ogg", 5))
                                   .Raw(Record("c.ogg", 6));
    const QByteArray table = ByteBuilder().UInt32(0);

    SharedFileList message;
    FileInfo mp3 = File("a.mp3", 4000);
    mp3.m_attributes.m_extension = "mp3";
    mp3.m_attributes.m_attributes = {{0, 192}, {2, 0}};
    message.m_share["music"] = {mp3};
    message.m_share["music\\live"] = {File("c.ogg", 6), File("b.ogg", 5)};
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(5).Raw(Compressed(listing + table))));

    SharedFileList read;
    QVERIFY(ReadBody(
        Body(5).Raw(Compressed(listing + ByteBuilder().UInt32(1).UInt32(0).String("bitrate"))),
        read));
    QVERIFY(read.m_share == message.m_share);
    QCOMPARE(read.m_attributeTable.at(0), std::string("bitrate"));

    // A listing without the table, or with a broken one, is still a listing.
    for (const QByteArray& tail : {QByteArray(), QByteArray(ByteBuilder().UInt32(Limit + 1)),
                                   QByteArray(ByteBuilder().UInt32(2).UInt32(0).String("x"))}) {
        SharedFileList noTable;
        QVERIFY(ReadBody(Body(5).Raw(Compressed(listing + tail)), noTable));
        QCOMPARE(noTable.m_share.size(), std::size_t(2));
        QVERIFY(noTable.m_attributeTable.empty());
    }

    // A broken folder map is not.
    SharedFileList broken;
    QVERIFY(!ReadBody(Body(5).Raw(Compressed(listing.chopped(1))), broken));
    QVERIFY(!ReadBody(Body(5).Raw(Compressed(ByteBuilder().UInt32(Limit + 1))), broken));
}

void PeerMessagesTest::SearchResultIsOneZlibStream()
{
    const QByteArray files = ByteBuilder()
                                 .UInt32(2)
                                 .Raw(Record("music\\b.mp3", 300, "mp3", {{1, 61}}))
                                 .Raw(Record("music\\a.mp3", 200));
    const QByteArray head = ByteBuilder().String("bob").UInt32(7);
    const QByteArray trailer = ByteBuilder().Byte(1).UInt32(2048).UInt32(3).UInt32(0);

    FileSearchResult message{.m_user = "bob",
                             .m_token = 7,
                             .m_freeSlot = true,
                             .m_averageSpeed = 2048,
                             .m_queueLength = 3};
    FileInfo first = File("music\\b.mp3", 300);
    first.m_attributes.m_extension = "mp3";
    first.m_attributes.m_attributes = {{1, 61}};
    // Files keep the order they were sent in, not name order.
    message.m_files = {first, File("music\\a.mp3", 200)};
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(9).Raw(Compressed(head + files + trailer))));

    FileSearchResult read;
    QVERIFY(ReadBody(Bytes(out), read));
    QCOMPARE(read.m_user, std::string("bob"));
    QCOMPARE(read.m_token, 7u);
    QVERIFY(read.m_files == message.m_files);
    QVERIFY(read.m_freeSlot);
    QCOMPARE(read.m_averageSpeed, 2048u);
    QCOMPARE(read.m_queueLength, 3u);

    // Everything after the files may be missing, in part or whole.
    for (int kept : {0, 1, 3, 5, 9, 12}) {
        FileSearchResult partial;
        QVERIFY(ReadBody(Body(9).Raw(Compressed(head + files + trailer.left(kept))), partial));
        QCOMPARE(partial.m_files.size(), std::size_t(2));
        QCOMPARE(partial.m_freeSlot, kept >= 1);
        QCOMPARE(partial.m_averageSpeed, kept >= 5 ? 2048u : 0u);
        QCOMPARE(partial.m_queueLength, kept >= 9 ? 3u : 0u);
    }

    // The sender, the token and every file are required.
    FileSearchResult refused;
    QVERIFY(!ReadBody(Body(9).Raw(Compressed(head.chopped(1))), refused));
    QVERIFY(!ReadBody(Body(9).Raw(Compressed(head + files.chopped(1))), refused));
}

void PeerMessagesTest::SearchResultFileCountIsLimited()
{
    // Empty records are one byte each, so the largest result is cheap.
    const QByteArray head = ByteBuilder().String("bob").UInt32(7);
    FileSearchResult full;
    QVERIFY(ReadBody(Body(9).Raw(Compressed(head + ByteBuilder().UInt32(Limit).Data() +
                                            QByteArray(Limit, '\0'))),
                     full));
    QCOMPARE(full.m_files.size(), std::size_t(Limit));

    FileSearchResult over;
    QVERIFY(!ReadBody(Body(9).Raw(Compressed(head + ByteBuilder().UInt32(Limit + 1).Data() +
                                             QByteArray(Limit + 1, '\0'))),
                      over));
}

void PeerMessagesTest::FolderContentsAreOneZlibStream()
{
    SharedFilesInFolder message{.m_token = 21, .m_folder = "music\\old"};
    message.m_contents["music\\old"].m_files = {File("b", 2), File("a", 1)};
    const QByteArray raw = ByteBuilder()
                               .UInt32(21)
                               .String("music\\old")
                               .UInt32(1)
                               .String("music\\old")
                               .UInt32(2)
                               .Raw(Record("a", 1))
                               .Raw(Record("b", 2))
                               .UInt32(0);
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(37).Raw(Compressed(raw))));

    SharedFilesInFolder read;
    QVERIFY(ReadBody(Bytes(out), read));
    QCOMPARE(read.m_token, 21u);
    QCOMPARE(read.m_folder, std::string("music\\old"));
    QVERIFY(read.m_contents == message.m_contents);
    QVERIFY(!ReadBody(Body(37).Raw(Compressed(raw.chopped(1))), read));
}

void PeerMessagesTest::BodiesThatDoNotInflateAreRefused()
{
    const QByteArray good = Compressed(ByteBuilder().UInt32(0).UInt32(0));
    SharedFileList list;
    QVERIFY(ReadBody(Body(5).Raw(good), list));

    // Not zlib at all, cut short, or the message left uncompressed.
    for (const QByteArray& body : {QByteArray(), QByteArray("not zlib at all"), good.chopped(2),
                                   QByteArray(ByteBuilder().UInt32(0).UInt32(0))}) {
        SharedFileList share;
        QVERIFY(!ReadBody(Body(5).Raw(body), share));
        FileSearchResult result;
        QVERIFY(!ReadBody(Body(9).Raw(body), result));
        SharedFilesInFolder folder;
        QVERIFY(!ReadBody(Body(37).Raw(body), folder));
    }
}

void PeerMessagesTest::MessageCodesHaveTheirNames()
{
    const std::map<int, std::string> names = {
        {1, "PM_SAY"},
        {4, "PM_GET_SHARED_FILE_LIST"},
        {5, "PM_SHARED_FILE_LIST"},
        {8, "PM_FILE_SEARCH_REQUEST"},
        {9, "PM_FILE_SEARCH_RESULT"},
        {10, "PM_INVITE_USER_TO_ROOM"},
        {14, "PM_CANCELLED_QUEUED_TRANSFER"},
        {15, "PM_USER_INFO_REQUEST"},
        {16, "PM_USER_INFO_REPLY"},
        {33, "PM_SEND_CONNECT_TOKEN"},
        {34, "PM_MOVE_DOWNLOAD_TO_TOP"},
        {36, "PM_GET_SHARED_FILES_IN_FOLDER"},
        {37, "PM_SHARED_FILES_IN_FOLDER"},
        {40, "PM_TRANSFER_REQUEST"},
        {41, "PM_TRANSFER_RESPONSE"},
        {42, "PM_PLACEHOLD_UPLOAD"},
        {43, "PM_QUEUE_UPLOAD"},
        {44, "PM_UPLOAD_PLACE_IN_LINE"},
        {46, "PM_UPLOAD_FAILED"},
        {47, "PM_EXACT_FILE_SEARCH_REQUEST"},
        {48, "PM_QUEUED_DOWNLOADS"},
        {49, "PM_INDIRECT_FILE_SEARCH_REQUEST"},
        {50, "PM_UPLOAD_DENIED"},
        {51, "PM_UPLOAD_PLACE_IN_LINE_REQUEST"},
        {52, "PM_NOTHING"},
    };
    for (int code = -1; code <= 60; ++code) {
        const auto it = names.find(code);
        const std::string expected =
            it != names.end() ? it->second : std::to_string(code) + " (unknown)";
        QCOMPARE(MessageCodeToString(code), expected);
    }
    QCOMPARE(MessageCodeToString(1234), std::string("1234 (unknown)"));
}

QTEST_GUILESS_MAIN(PeerMessagesTest)
#include "PeerMessagesTest.moc"
