#include <list>

#include <QtTest>

#include "Bytes.h"
#include "RecordBytes.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfo.h"
#include "sharing/FileInfoMap.h"
#include "sharing/SharedFolderInfo.h"
#include "streams/MemStream.h"

using RecordBytes::Record;

namespace {

constexpr std::uint32_t Limit = 131072;

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return stream;
}

FileInfo File(const std::string& name, long long size = 0)
{
    FileInfo file;
    file.m_name = name;
    file.m_size = size;
    return file;
}

template <class T> bool ReadAll(const QByteArray& bytes, T& value)
{
    MemStream in = StreamOf(bytes);
    return in.Read(value) && in.GetPendingReadLength() == 0;
}

// A string field of n bytes of 'x'.
QByteArray LongName(std::uint32_t n)
{
    return QByteArray(static_cast<qsizetype>(n), 'x');
}

} // namespace

class FileRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void FileInfoIsLaidOutAsTheTableSays();
    void TruncatedFileInfoFails();
    void MarkerZeroIsAnEmptyEntry();
    void FilesAreOrderedByNameByteByByte();
    void SharedFolderInfoEndsWithAnIgnoredNumber();
    void ListingAndTableHaveTheirLayouts();
    void LimitsAreOneHundredThirtyOneThousandSeventyTwo();
};

void FileRecordsTest::FileInfoIsLaidOutAsTheTableSays()
{
    FileInfo file = File("music\\song.mp3", 0x123456789LL);
    file.m_attributes.m_extension = "mp3";
    file.m_attributes.m_attributes = {{2, 1}, {0, 320}, {1, 185}};

    const QByteArray expected =
        Record("music\\song.mp3", 0x123456789ULL, "mp3", {{2, 1}, {0, 320}, {1, 185}});
    MemStream out;
    QVERIFY(out.Write(file));
    QCOMPARE(Bytes(out), expected);

    FileInfo back;
    QVERIFY(ReadAll(expected, back));
    QVERIFY(back == file);
    // Attributes keep the order they were sent in.
    QCOMPARE(back.m_attributes.m_attributes.front().first, 2u);
    QCOMPARE(back.m_size, 0x123456789LL);
}

void FileRecordsTest::TruncatedFileInfoFails()
{
    const QByteArray whole = Record("a.mp3", 7, "mp3", {{0, 128}});
    for (int cut = 0; cut < whole.size(); ++cut) {
        MemStream in = StreamOf(whole.left(cut));
        FileInfo file;
        QVERIFY2(!in.Read(file), qPrintable(QString("accepted %1 bytes").arg(cut)));
    }
}

void FileRecordsTest::MarkerZeroIsAnEmptyEntry()
{
    // Reading goes on with the byte right after the zero marker.
    std::list<FileInfo> files;
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Byte(0).Raw(Record("b", 3)), files));
    QCOMPARE(files.size(), std::size_t(2));
    QCOMPARE(files.front().m_name, std::string());
    QCOMPARE(files.front().m_size, 0LL);
    QCOMPARE(files.back().m_name, std::string("b"));
    QCOMPARE(files.back().m_size, 3LL);

    // A record read over an earlier one does not keep the earlier fields.
    FileInfo reused = File("old", 9);
    reused.m_attributes.m_extension = "mp3";
    QVERIFY(ReadAll(QByteArray(1, '\0'), reused));
    QVERIFY(reused == FileInfo());

    // In a folder the empty entry counts as a file.
    SharedFolderInfo folder;
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Byte(0).Raw(Record("b", 3)).UInt32(0), folder));
    QCOMPARE(folder.m_files.size(), std::size_t(2));
    QCOMPARE(folder.m_files.begin()->m_name, std::string());
}

void FileRecordsTest::FilesAreOrderedByNameByteByByte()
{
    // Bytes compare unsigned: "é" (0xc3 0xa9) comes after "z", and capitals
    // before lower case.
    SharedFolderInfo folder;
    folder.m_files = {File("z"), File("\xc3\xa9"), File("a"), File("B")};
    MemStream out;
    QVERIFY(out.Write(folder));
    QCOMPARE(Bytes(out), QByteArray(ByteBuilder()
                                        .UInt32(4)
                                        .Raw(Record("B", 0))
                                        .Raw(Record("a", 0))
                                        .Raw(Record("z", 0))
                                        .Raw(Record("\xc3\xa9", 0))
                                        .UInt32(0)));

    // A repeated name keeps the record that came first.
    SharedFolderInfo repeated;
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Raw(Record("a", 1)).Raw(Record("a", 2)).UInt32(0),
                    repeated));
    QCOMPARE(repeated.m_files.size(), std::size_t(1));
    QCOMPARE(repeated.m_files.begin()->m_size, 1LL);
}

void FileRecordsTest::SharedFolderInfoEndsWithAnIgnoredNumber()
{
    SharedFolderInfo read;
    QVERIFY(ReadAll(ByteBuilder().UInt32(1).Raw(Record("a", 1)).UInt32(0xdeadbeef), read));
    QCOMPARE(read.m_files.size(), std::size_t(1));

    // Written back, the number is 0 whatever was read.
    MemStream out;
    QVERIFY(out.Write(read));
    QCOMPARE(Bytes(out), QByteArray(ByteBuilder().UInt32(1).Raw(Record("a", 1)).UInt32(0)));

    // It is part of the record: without it the folder does not read.
    SharedFolderInfo shortFolder;
    MemStream in =
        StreamOf(ByteBuilder().UInt32(1).Raw(Record("a", 1)).UInt32(0).Data().chopped(1));
    QVERIFY(!in.Read(shortFolder));
}

void FileRecordsTest::ListingAndTableHaveTheirLayouts()
{
    FileInfoMap share;
    share["music\\b"] = {File("y", 2)};
    share["music\\a"] = {File("x", 1)};
    AttributeTranslationTable table = {{2, "vbr"}, {0, "bitrate"}};

    MemStream out;
    QVERIFY(out.Write(share) && out.Write(table));
    const QByteArray expected = ByteBuilder()
                                    .UInt32(2)
                                    .String("music\\a")
                                    .UInt32(1)
                                    .Raw(Record("x", 1))
                                    .String("music\\b")
                                    .UInt32(1)
                                    .Raw(Record("y", 2))
                                    .UInt32(2)
                                    .UInt32(0)
                                    .String("bitrate")
                                    .UInt32(2)
                                    .String("vbr");
    QCOMPARE(Bytes(out), expected);

    MemStream in = StreamOf(expected);
    FileInfoMap shareBack;
    AttributeTranslationTable tableBack;
    QVERIFY(in.Read(shareBack) && in.Read(tableBack));
    QVERIFY(shareBack == share);
    QVERIFY(tableBack == table);
}

void FileRecordsTest::LimitsAreOneHundredThirtyOneThousandSeventyTwo()
{
    auto withName = [](std::uint32_t length) {
        return ByteBuilder()
            .Byte(1)
            .String(LongName(length))
            .UInt32(0)
            .UInt32(0)
            .String("")
            .UInt32(0);
    };
    FileInfo file;
    QVERIFY(ReadAll(withName(Limit), file));
    QCOMPARE(file.m_name.size(), std::size_t(Limit));
    QVERIFY(!ReadAll(withName(Limit + 1), file));

    auto withExtension = [](std::uint32_t length) {
        return ByteBuilder()
            .Byte(1)
            .String("a")
            .UInt32(0)
            .UInt32(0)
            .String(LongName(length))
            .UInt32(0);
    };
    QVERIFY(ReadAll(withExtension(Limit), file));
    QVERIFY(!ReadAll(withExtension(Limit + 1), file));

    // Attribute and file counts: at the limit every entry is there to read.
    auto withAttributes = [](std::uint32_t count) {
        ByteBuilder bytes = ByteBuilder().Byte(1).String("a").UInt32(0).UInt32(0).String("");
        bytes.UInt32(count);
        bytes.Raw(QByteArray(static_cast<qsizetype>(std::min(count, Limit)) * 8, '\0'));
        return bytes;
    };
    QVERIFY(ReadAll(withAttributes(Limit), file));
    QCOMPARE(file.m_attributes.m_attributes.size(), std::size_t(Limit));
    QVERIFY(!ReadAll(withAttributes(Limit + 1), file));

    // Empty entries are one byte each, which makes a full folder cheap.
    auto folderOf = [](std::uint32_t count) {
        return ByteBuilder()
            .UInt32(count)
            .Raw(QByteArray(static_cast<qsizetype>(std::min(count, Limit)), '\0'))
            .UInt32(0);
    };
    std::list<FileInfo> files;
    QVERIFY(ReadAll(ByteBuilder().UInt32(Limit).Raw(QByteArray(Limit, '\0')), files));
    QCOMPARE(files.size(), std::size_t(Limit));
    SharedFolderInfo folder;
    QVERIFY(ReadAll(folderOf(Limit), folder));
    QVERIFY(!ReadAll(folderOf(Limit + 1), folder));

    FileInfoMap share;
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), share));
    AttributeTranslationTable table;
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), table));
    QVERIFY(!ReadAll(ByteBuilder().UInt32(1).UInt32(0).String(LongName(Limit + 1)), table));
}

QTEST_GUILESS_MAIN(FileRecordsTest)
#include "FileRecordsTest.moc"
