#include <QtTest>

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

template <class M> bool ReadBody(const QByteArray& body, M& message, int codeSize = 4)
{
    MemStream in = AfterCode(body, codeSize);
    return message.Read(in);
}

ByteBuilder Body(std::uint32_t code)
{
    return ByteBuilder().UInt32(code);
}

// A message is written exactly as expected and reads back into what writes
// the same bytes; every body shorter than `required` bytes (all of them
// unless the message ends in an optional field) is refused.
template <class M>
void CheckLayout(const M& message, const QByteArray& expected, int codeSize = 4, int required = -1)
{
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), expected);
    M parsed;
    for (int cut = codeSize; cut < (required < 0 ? expected.size() : required); ++cut)
        QVERIFY2(!ReadBody(expected.left(cut), parsed, codeSize), qPrintable(QString::number(cut)));
    QVERIFY(ReadBody(expected, parsed, codeSize));
    MemStream again;
    QVERIFY(parsed.Write(again));
    QCOMPARE(Bytes(again), expected);
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
    void MessagesAreLaidOutAsTheTablesSay();
    void OptionalFieldsMayBeLeftOut();
    void ShareListIsOneZlibStream();
    void SearchResultIsOneZlibStream();
    void FolderContentsAreOneZlibStream();
    void MessageCodesHaveTheirNames();
};

void PeerMessagesTest::MessagesAreLaidOutAsTheTablesSay()
{
    CheckLayout(PeerInit{.m_user = "alice", .m_type = "P"},
                ByteBuilder().Byte(1).String("alice").String("P").UInt32(0), 1);
    CheckLayout(IndirectResponse{.m_token = 0x01020304}, ByteBuilder().Byte(0).UInt32(0x01020304),
                1);
    CheckLayout(GetSharedFileList(), Body(4));
    CheckLayout(GetSharedFilesInFolder{.m_token = 21, .m_folder = "m\\old"},
                Body(36).UInt32(21).String("m\\old"));
    ByteBuilder request = Body(40).UInt32(1).UInt32(77).String("m\\a.mp3");
    CheckLayout(TransferRequest{.m_token = 77, .m_file = "m\\a.mp3", .m_size = 0x100000002LL},
                RecordBytes::UInt64(request, 0x100000002ULL));
    CheckLayout(TransferResponse{.m_token = 78, .m_reason = "Queued"},
                Body(41).UInt32(78).Byte(0).String("Queued"));
    CheckLayout(QueueUpload{.m_file = "m\\a.mp3"}, Body(43).String("m\\a.mp3"));
    CheckLayout(UploadPlaceInLine{.m_file = "m\\a.mp3", .m_place = 12},
                Body(44).String("m\\a.mp3").UInt32(12));
    CheckLayout(UploadFailed{.m_file = "m\\a.mp3"}, Body(46).String("m\\a.mp3"));
    CheckLayout(UploadDenied{.m_file = "m\\a.mp3", .m_reason = "File not shared."},
                Body(50).String("m\\a.mp3").String("File not shared."));
    CheckLayout(UploadPlaceInLineRequest{.m_file = "m\\a.mp3"}, Body(51).String("m\\a.mp3"));

    // A user name at the string limit is read; one byte more is refused.
    PeerInit init;
    const QByteArray longest(Limit, 'u');
    QVERIFY(ReadBody(ByteBuilder().Byte(1).String(longest).String("F").UInt32(9), init, 1));
    QCOMPARE(init.m_user.size(), std::size_t(Limit));
    QVERIFY(!ReadBody(ByteBuilder().Byte(1).String(longest + "u").String("F").UInt32(0), init, 1));
}

void PeerMessagesTest::OptionalFieldsMayBeLeftOut()
{
    // A download request (direction 0) carries no size.
    CheckLayout(TransferRequest{.m_direction = 0, .m_token = 5, .m_file = "a", .m_size = 99},
                Body(40).UInt32(0).UInt32(5).String("a"));
    TransferRequest download{.m_size = 99};
    QVERIFY(ReadBody(Body(40).UInt32(0).UInt32(5).String("a"), download));
    QCOMPARE(download.m_size, 0LL);

    // An acceptance may stop after the allowed byte (any non-zero value),
    // also when only part of the size arrived.
    ByteBuilder accepted = Body(41).UInt32(77).Byte(1);
    CheckLayout(TransferResponse{.m_token = 77, .m_allowed = true, .m_hasSize = true, .m_size = 50},
                RecordBytes::UInt64(accepted, 50), 4, 9);
    for (const QByteArray& body : {QByteArray(Body(41).UInt32(6).Byte(7)),
                                   QByteArray(Body(41).UInt32(6).Byte(1).UInt32(5))}) {
        TransferResponse response{.m_hasSize = true, .m_size = 3, .m_reason = "stale"};
        QVERIFY(ReadBody(body, response));
        QVERIFY(response.m_allowed && !response.m_hasSize);
        QCOMPARE(response.m_size, 0LL);
        QCOMPARE(response.m_reason, std::string());
    }
    MemStream out;
    QVERIFY((TransferResponse{.m_token = 6, .m_allowed = true, .m_size = 8}.Write(out)));
    QCOMPARE(Bytes(out), QByteArray(Body(41).UInt32(6).Byte(1)));
}

void PeerMessagesTest::ShareListIsOneZlibStream()
{
    const QByteArray listing = ByteBuilder()
                                   .UInt32(2)
                                   .String("music")
                                   .UInt32(1)
                                   .Raw(Record("a.mp3", 4000, "mp3", {{0, 192}}))
                                   .String("music\\live")
                                   .UInt32(2)
                                   .Raw(Record("b.ogg", 5))
                                   .Raw(Record("c.ogg", 6));
    SharedFileList message;
    FileInfo mp3 = File("a.mp3", 4000);
    mp3.m_attributes.m_extension = "mp3";
    mp3.m_attributes.m_attributes = {{0, 192}};
    message.m_share["music\\live"] = {File("c.ogg", 6), File("b.ogg", 5)};
    message.m_share["music"] = {mp3};
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(5).Raw(Compressed(listing + ByteBuilder().UInt32(0)))));

    SharedFileList read;
    QVERIFY(ReadBody(
        Body(5).Raw(Compressed(listing + ByteBuilder().UInt32(1).UInt32(0).String("bitrate"))),
        read));
    QVERIFY(read.m_share == message.m_share);
    QCOMPARE(read.m_attributeTable.at(0), std::string("bitrate"));

    // Without a readable table the listing still counts; without a readable
    // folder map, or without zlib, it does not.
    for (const QByteArray& tail : {QByteArray(), QByteArray(ByteBuilder().UInt32(Limit + 1))}) {
        SharedFileList noTable;
        QVERIFY(ReadBody(Body(5).Raw(Compressed(listing + tail)), noTable));
        QCOMPARE(noTable.m_share.size(), std::size_t(2));
        QVERIFY(noTable.m_attributeTable.empty());
    }
    QVERIFY(!ReadBody(Body(5).Raw(Compressed(listing.chopped(1))), read));
    QVERIFY(!ReadBody(Body(5).Raw(Compressed(ByteBuilder().UInt32(Limit + 1))), read));
    QVERIFY(!ReadBody(Body(5).UInt32(0).UInt32(0), read));
    QVERIFY(!ReadBody(Body(5).Raw(Compressed(listing).chopped(2)), read));
}

void PeerMessagesTest::SearchResultIsOneZlibStream()
{
    const QByteArray head = ByteBuilder().String("bob").UInt32(7);
    const QByteArray files =
        ByteBuilder().UInt32(2).Raw(Record("m\\b.mp3", 300)).Raw(Record("m\\a.mp3", 200));
    const QByteArray trailer = ByteBuilder().Byte(1).UInt32(2048).UInt32(3).UInt32(0);

    // Files keep the order they were sent in.
    FileSearchResult message{.m_user = "bob",
                             .m_token = 7,
                             .m_freeSlot = true,
                             .m_averageSpeed = 2048,
                             .m_queueLength = 3};
    message.m_files = {File("m\\b.mp3", 300), File("m\\a.mp3", 200)};
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(9).Raw(Compressed(head + files + trailer))));

    // Everything after the files may be missing, in part or whole; the
    // sender, the token and every file may not.
    for (int kept : {0, 1, 5, 9, 13}) {
        FileSearchResult read;
        QVERIFY(ReadBody(Body(9).Raw(Compressed(head + files + trailer.left(kept))), read));
        QVERIFY(read.m_user == "bob" && read.m_token == 7 && read.m_files == message.m_files);
        QCOMPARE(read.m_freeSlot, kept >= 1);
        QCOMPARE(read.m_averageSpeed, kept >= 5 ? 2048u : 0u);
        QCOMPARE(read.m_queueLength, kept >= 9 ? 3u : 0u);
    }
    FileSearchResult read;
    QVERIFY(!ReadBody(Body(9).Raw(Compressed(head.chopped(1))), read));
    QVERIFY(!ReadBody(Body(9).Raw(Compressed(head + files.chopped(1))), read));

    // Empty records are one byte each, so the largest result is cheap.
    auto withFiles = [&](std::uint32_t count) {
        return Body(9).Raw(Compressed(head + ByteBuilder().UInt32(count).Data() +
                                      QByteArray(std::min(count, Limit), '\0')));
    };
    QVERIFY(ReadBody(withFiles(Limit), read));
    QCOMPARE(read.m_files.size(), std::size_t(Limit));
    QVERIFY(!ReadBody(withFiles(Limit + 1), read));
}

void PeerMessagesTest::FolderContentsAreOneZlibStream()
{
    SharedFilesInFolder message{.m_token = 21, .m_folder = "m\\old"};
    message.m_contents["m\\old"].m_files = {File("b", 2), File("a", 1)};
    const QByteArray raw = ByteBuilder()
                               .UInt32(21)
                               .String("m\\old")
                               .UInt32(1)
                               .String("m\\old")
                               .UInt32(2)
                               .Raw(Record("a", 1))
                               .Raw(Record("b", 2))
                               .UInt32(0);
    MemStream out;
    QVERIFY(message.Write(out));
    QCOMPARE(Bytes(out), QByteArray(Body(37).Raw(Compressed(raw))));

    SharedFilesInFolder read;
    QVERIFY(ReadBody(Bytes(out), read));
    QVERIFY(read.m_token == 21 && read.m_folder == "m\\old" &&
            read.m_contents == message.m_contents);
    QVERIFY(!ReadBody(Body(37).Raw(Compressed(raw.chopped(1))), read));
    QVERIFY(!ReadBody(Body(37).Raw(raw), read));
}

void PeerMessagesTest::MessageCodesHaveTheirNames()
{
    const QByteArray table =
        "1 PM_SAY,4 PM_GET_SHARED_FILE_LIST,5 PM_SHARED_FILE_LIST,"
        "8 PM_FILE_SEARCH_REQUEST,9 PM_FILE_SEARCH_RESULT,10 PM_INVITE_USER_TO_ROOM,"
        "14 PM_CANCELLED_QUEUED_TRANSFER,15 PM_USER_INFO_REQUEST,16 PM_USER_INFO_REPLY,"
        "33 PM_SEND_CONNECT_TOKEN,34 PM_MOVE_DOWNLOAD_TO_TOP,"
        "36 PM_GET_SHARED_FILES_IN_FOLDER,37 PM_SHARED_FILES_IN_FOLDER,"
        "40 PM_TRANSFER_REQUEST,41 PM_TRANSFER_RESPONSE,42 PM_PLACEHOLD_UPLOAD,"
        "43 PM_QUEUE_UPLOAD,44 PM_UPLOAD_PLACE_IN_LINE,46 PM_UPLOAD_FAILED,"
        "47 PM_EXACT_FILE_SEARCH_REQUEST,48 PM_QUEUED_DOWNLOADS,"
        "49 PM_INDIRECT_FILE_SEARCH_REQUEST,50 PM_UPLOAD_DENIED,"
        "51 PM_UPLOAD_PLACE_IN_LINE_REQUEST,52 PM_NOTHING";
    std::map<int, std::string> names;
    for (const QByteArray& text : table.split(',')) {
        const qsizetype space = text.indexOf(' ');
        names[text.left(space).toInt()] = text.mid(space + 1).toStdString();
    }
    for (int code = -1; code <= 60; ++code) {
        const auto it = names.find(code);
        QCOMPARE(MessageCodeToString(code),
                 it != names.end() ? it->second : std::to_string(code) + " (unknown)");
    }
    QCOMPARE(MessageCodeToString(1234), std::string("1234 (unknown)"));
}

QTEST_GUILESS_MAIN(PeerMessagesTest)
#include "PeerMessagesTest.moc"
