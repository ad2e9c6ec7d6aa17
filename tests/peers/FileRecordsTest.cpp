#include <list>

#include <QtTest>

#include "RecordBytes.h"
#include "sharing/AttributeTranslationTable.h"
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

// Reads the whole of the bytes into value.
template <class T> bool ReadAll(const QByteArray& bytes, T& value)
{
    MemStream in;
    in.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return in.Read(value) && in.GetPendingReadLength() == 0;
}

FileInfo File(const std::string& name, long long size = 0)
{
    FileInfo file;
    file.m_name = name;
    file.m_size = size;
    return file;
}

} // namespace

class FileRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void FileInfoIsLaidOutAsTheTableSays();
    void MarkerZeroIsAnEmptyEntry();
    void FolderIsOrderedByNameAndEndsWithAnIgnoredNumber();
    void LimitsAreEnforced();
};

void FileRecordsTest::FileInfoIsLaidOutAsTheTableSays()
{
    FileInfo file = File("music\\song.mp3", 0x123456789LL);
    file.m_attributes.m_extension = "mp3";
    file.m_attributes.m_attributes = {{2, 1}, {0, 320}};
    const QByteArray expected =
        Record("music\\song.mp3", 0x123456789ULL, "mp3", {{2, 1}, {0, 320}});
    MemStream out;
    QVERIFY(out.Write(file));
    QCOMPARE(Bytes(out), expected);

    FileInfo back;
    QVERIFY(ReadAll(expected, back));
    QVERIFY(back == file);
    for (int cut = 0; cut < expected.size(); ++cut)
        QVERIFY(!ReadAll(expected.left(cut), back));
}

void FileRecordsTest::MarkerZeroIsAnEmptyEntry()
{
    // Reading goes on right after the zero byte, with nothing left of what
    // the record held before.
    std::list<FileInfo> files = {File("old", 9), File("old", 9)};
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Byte(0).Raw(Record("b", 3)), files));
    QVERIFY(files == (std::list<FileInfo>{FileInfo(), File("b", 3)}));

    SharedFolderInfo folder;
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Byte(0).Raw(Record("b", 3)).UInt32(0), folder));
    QCOMPARE(folder.m_files.size(), std::size_t(2));
}

void FileRecordsTest::FolderIsOrderedByNameAndEndsWithAnIgnoredNumber()
{
    // Bytes compare unsigned: "é" (0xc3 0xa9) comes after "z".
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

    // The closing number is read whatever it is, but must be there; a
    // repeated name keeps the record that came first.
    const QByteArray twice =
        ByteBuilder().UInt32(2).Raw(Record("a", 1)).Raw(Record("a", 2)).UInt32(0xdeadbeef);
    QVERIFY(ReadAll(twice, folder));
    QVERIFY(folder.m_files == (std::set<FileInfo>{File("a", 1)}));
    QVERIFY(!ReadAll(twice.chopped(1), folder));
}

void FileRecordsTest::LimitsAreEnforced()
{
    auto named = [](std::uint32_t length) {
        return RecordBytes::Record(QByteArray(static_cast<qsizetype>(length), 'x'), 0);
    };
    FileInfo file;
    QVERIFY(ReadAll(named(Limit), file));
    QCOMPARE(file.m_name.size(), std::size_t(Limit));
    QVERIFY(!ReadAll(named(Limit + 1), file));

    auto attributes = [](std::uint32_t count) {
        return ByteBuilder().Byte(1).String("a").UInt32(0).UInt32(0).String("").UInt32(count).Raw(
            QByteArray(static_cast<qsizetype>(std::min(count, Limit)) * 8, '\0'));
    };
    QVERIFY(ReadAll(attributes(Limit), file));
    QVERIFY(!ReadAll(attributes(Limit + 1), file));

    // Empty entries are one byte each, which makes a full folder cheap.
    auto folderOf = [](std::uint32_t count) {
        return ByteBuilder().UInt32(count).Raw(QByteArray(std::min(count, Limit), '\0')).UInt32(0);
    };
    SharedFolderInfo folder;
    QVERIFY(ReadAll(folderOf(Limit), folder));
    QVERIFY(!ReadAll(folderOf(Limit + 1), folder));

    FileInfoMap share;
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), share));
    AttributeTranslationTable table;
    QVERIFY(ReadAll(ByteBuilder().UInt32(1).UInt32(0).String("bitrate"), table));
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), table));
}

QTEST_GUILESS_MAIN(FileRecordsTest)
#include "FileRecordsTest.moc"
