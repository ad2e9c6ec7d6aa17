#include <list>
#include <map>

#include <QtTest>

#include "PeerTestSupport.h"
#include "peers/PeerMessages.h"
#include "peers/SearchResultIntake.h"
#include "search/SearchSchema.h"
#include "search/SearchTypes.h"
#include "server/ServerSchema.h"
#include "server/ServerTypes.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfoMap.h"
#include "sharing/FileItemDisplay.h"
#include "sharing/SharedFolderInfo.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "streams/MemStream.h"

using namespace PeerMessages;
using namespace SearchTypes;

class PeerCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        dataSaver = new DataSaver();
        ServerSchema::DeclareSchema(*dataSaver);
        SearchSchema::DeclareSchema();
    }
    void init()
    {
        d.RemoveAllItems();
        m_request = d.GetType(SearchRequest)->NewItem(7u);
    }

    void CompressedMessagesAreOneZlibStream();
    void FileRecordsAreLaidOutAsTheTableSays();
    void LimitsAreEnforced();
    void ResultsAreStoredUnderTheirRequestAndUser();
    void RepeatedUnknownOrForeignResultsAreNotStored();

private:
    static constexpr std::uint32_t Limit = 131072;

    static ByteBuilder& UInt64(ByteBuilder& bytes, std::uint64_t value)
    {
        return bytes.UInt32(std::uint32_t(value)).UInt32(std::uint32_t(value >> 32));
    }
    // A whole file record: marker 1, name, u64 size, extension, attribute pairs.
    static QByteArray
    Record(const QByteArray& name, std::uint64_t size, const QByteArray& extension = "",
           std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> attributes = {})
    {
        ByteBuilder bytes;
        UInt64(bytes.Byte(1).String(name), size).String(extension);
        bytes.UInt32(static_cast<std::uint32_t>(attributes.size()));
        for (const auto& [code, value] : attributes)
            bytes.UInt32(code).UInt32(value);
        return bytes;
    }
    // Zlib at level 9, as every sender, without qCompress's length.
    static QByteArray Compressed(const QByteArray& raw) { return qCompress(raw, 9).mid(4); }
    template <class T> static bool ReadAll(const QByteArray& bytes, T& value)
    {
        MemStream in = StreamOf(bytes);
        return in.Read(value) && in.GetPendingReadLength() == 0;
    }
    // One zlib stream after the code, read back to the same bytes; fields
    // short of `required` bytes, a cut stream or raw fields are refused.
    template <class M>
    static void CheckCompressed(const M& message, std::uint32_t code, const QByteArray& raw,
                                qsizetype required)
    {
        const QByteArray expected = Body(code).Raw(Compressed(raw));
        QCOMPARE(Written(message), expected);
        M parsed;
        QVERIFY(ReadBody(expected, parsed));
        QCOMPARE(Written(parsed), expected);
        QVERIFY(!ReadBody(Body(code).Raw(Compressed(raw.left(required - 1))), parsed));
        QVERIFY(!ReadBody(Body(code).Raw(Compressed(raw).chopped(2)), parsed));
        QVERIFY(!ReadBody(Body(code).Raw(raw), parsed));
    }
    static FileInfo File(const std::string& name, long long size = 0)
    {
        FileInfo file;
        file.m_name = name;
        file.m_size = size;
        return file;
    }

    static ByteBuilder ResultHead(const QByteArray& user, std::uint32_t token,
                                  std::initializer_list<QByteArray> records)
    {
        ByteBuilder bytes = ByteBuilder().String(user).UInt32(token);
        bytes.UInt32(static_cast<std::uint32_t>(records.size()));
        for (const QByteArray& record : records)
            bytes.Raw(record);
        return bytes;
    }
    static QByteArray Trailer(bool freeSlot, std::uint32_t speed, std::uint32_t queue)
    {
        return ByteBuilder().Byte(freeSlot).UInt32(speed).UInt32(queue).UInt32(0);
    }
    static SearchResultIntake::Outcome Receive(const std::string& user, const QByteArray& raw)
    {
        MemStream body = StreamOf(Compressed(raw));
        return SearchResultIntake::Receive(user, body);
    }
    static SearchResultIntake::Outcome Receive(const std::string& user, std::uint32_t token,
                                               std::initializer_list<QByteArray> records)
    {
        const QByteArray name = QByteArray::fromStdString(user);
        return Receive(user, ResultHead(name, token, records) + Trailer(false, 0, 0));
    }
    static std::map<std::string, ItemPtr> ResultsOf(ItemPtr set)
    {
        std::map<std::string, ItemPtr> results;
        for (ItemPtr result : set.GetItems(SearchResult))
            results[result[SearchResultFileFolder].AsString() + "|" +
                    result[SearchResultFileName].AsString()] = result;
        return results;
    }
    static std::size_t SetCount() { return d.GetType(SearchResults)->ItemCount(); }

    ItemPtr m_request;
};

void PeerCatalogueTest::CompressedMessagesAreOneZlibStream()
{
    // Folders in name order, then an attribute table a reader may lack.
    const QByteArray listing = ByteBuilder().UInt32(2).String("music").UInt32(1).Data() +
                               Record("a.mp3", 4000, "mp3", {{0, 192}}) +
                               ByteBuilder().String("music\\live").UInt32(2).Data() +
                               Record("b.ogg", 5) + Record("c.ogg", 6);
    SharedFileList share;
    FileInfo mp3 = File("a.mp3", 4000);
    mp3.m_attributes.m_extension = "mp3";
    mp3.m_attributes.m_attributes = {{0, 192}};
    share.m_share["music\\live"] = {File("c.ogg", 6), File("b.ogg", 5)};
    share.m_share["music"] = {mp3};
    CheckCompressed(share, 5, listing + ByteBuilder().UInt32(0), listing.size());
    const QByteArray table = ByteBuilder().UInt32(1).UInt32(0).String("bitrate");
    for (const QByteArray& tail : {table, QByteArray(ByteBuilder().UInt32(Limit + 1))}) {
        SharedFileList read;
        QVERIFY(ReadBody(Body(5).Raw(Compressed(listing + tail)), read));
        QVERIFY(read.m_share == share.m_share);
        QCOMPARE(read.m_attributeTable.size(), tail == table ? 1u : 0u);
    }
    // Files keep the order sent; what follows them may be missing in part.
    const QByteArray files = ByteBuilder().String("bob").UInt32(7).UInt32(2).Data() +
                             Record("m\\b.mp3", 300) + Record("m\\a.mp3", 200);
    const QByteArray trailer = Trailer(true, 2048, 3);
    FileSearchResult result{.m_user = "bob",
                            .m_token = 7,
                            .m_freeSlot = true,
                            .m_averageSpeed = 2048,
                            .m_queueLength = 3};
    result.m_files = {File("m\\b.mp3", 300), File("m\\a.mp3", 200)};
    CheckCompressed(result, 9, files + trailer, files.size());
    // The two steps a search reply is timed by: the plain body, then code and deflated body.
    MemStream body, packed;
    QVERIFY(result.WriteBody(body) && FileSearchResult::WritePacked(packed, body));
    QCOMPARE(QByteArray(body.GetBuffer(), body.GetBufferLength()), files + trailer);
    QCOMPARE(QByteArray(packed.GetBuffer(), packed.GetBufferLength()),
             QByteArray(Body(9).Raw(Compressed(files + trailer))));
    for (int kept : {0, 1, 5, 9}) {
        FileSearchResult read;
        QVERIFY(ReadBody(Body(9).Raw(Compressed(files + trailer.left(kept))), read));
        QVERIFY(read.m_user == "bob" && read.m_token == 7 && read.m_files == result.m_files);
        QCOMPARE(read.m_freeSlot, kept >= 1);
        QCOMPARE(read.m_averageSpeed, kept >= 5 ? 2048u : 0u);
        QCOMPARE(read.m_queueLength, kept >= 9 ? 3u : 0u);
    }
}

void PeerCatalogueTest::FileRecordsAreLaidOutAsTheTableSays()
{
    FileInfo file = File("music\\song.mp3", 0x123456789LL);
    file.m_attributes.m_extension = "mp3";
    file.m_attributes.m_attributes = {{2, 1}, {0, 320}};
    const QByteArray expected =
        Record("music\\song.mp3", 0x123456789ULL, "mp3", {{2, 1}, {0, 320}});
    QCOMPARE(Written(file), expected);
    FileInfo back;
    QVERIFY(ReadAll(expected, back) && back == file);
    for (int cut = 0; cut < expected.size(); ++cut)
        QVERIFY(!ReadAll(expected.left(cut), back));
    // Marker 0 is an empty entry, clearing what the record held.
    std::list<FileInfo> files = {File("old", 9), File("old", 9)};
    QVERIFY(ReadAll(ByteBuilder().UInt32(2).Byte(0).Raw(Record("b", 3)), files));
    QVERIFY(files == (std::list<FileInfo>{FileInfo(), File("b", 3)}));
    // A folder is ordered by name, bytes compared unsigned ("é" is 0xc3 0xa9,
    // after "z"), and ends with a number read whatever it is, but there.
    SharedFolderInfo folder;
    folder.m_files = {File("z"), File("\xc3\xa9"), File("a"), File("B")};
    QCOMPARE(Written(folder), ByteBuilder().UInt32(4).Data() + Record("B", 0) + Record("a", 0) +
                                  Record("z", 0) + Record("\xc3\xa9", 0) +
                                  ByteBuilder().UInt32(0).Data());
    // A repeated name keeps the record that came first.
    const QByteArray twice =
        ByteBuilder().UInt32(2).Raw(Record("a", 1)).Raw(Record("a", 2)).UInt32(0xdeadbeef);
    QVERIFY(ReadAll(twice, folder));
    QVERIFY(folder.m_files == (std::set<FileInfo>{File("a", 1)}));
    QVERIFY(!ReadAll(twice.chopped(1), folder));
}

void PeerCatalogueTest::LimitsAreEnforced()
{
    // Empty entries are one byte each, which makes full lists cheap.
    auto folderOf = [](std::uint32_t count) {
        return ByteBuilder().UInt32(count).Raw(QByteArray(std::min(count, Limit), '\0')).UInt32(0);
    };
    SharedFolderInfo folder;
    QVERIFY(ReadAll(folderOf(Limit), folder));
    QVERIFY(!ReadAll(folderOf(Limit + 1), folder));
    auto resultOf = [](std::uint32_t count) {
        return Body(9).Raw(Compressed(ByteBuilder().String("bob").UInt32(7).UInt32(count).Data() +
                                      QByteArray(std::min(count, Limit), '\0')));
    };
    FileSearchResult result;
    QVERIFY(ReadBody(resultOf(Limit), result));
    QCOMPARE(result.m_files.size(), std::size_t(Limit));
    QVERIFY(!ReadBody(resultOf(Limit + 1), result));
    FileInfoMap share;
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), share));
    AttributeTranslationTable table;
    QVERIFY(!ReadAll(ByteBuilder().UInt32(Limit + 1), table));
}

void PeerCatalogueTest::ResultsAreStoredUnderTheirRequestAndUser()
{
    const auto outcome = Receive(
        "bob", ResultHead("bob", 7,
                          {Record("m\\live\\a.mp3", 5000000000ULL, "mp3",
                                  {{0, 320}, {2, 1}, {1, 185}, {9, 4}}),
                           Record("m\\b.mp3", 1, "mp3", {{2, 0}, {0, 128}}), Record("c.txt", 2),
                           Record("m\\d.mp3", 1, "", {{1, 60}, {2, 7}})}) +
                   Trailer(true, 2048, 3));
    QVERIFY(outcome.m_acceptable);
    ItemPtr set = outcome.m_searchResults;
    QVERIFY(set[SearchRequest] == m_request);
    QCOMPARE(set[ServerTypes::User].AsString(), std::string("bob"));
    QCOMPARE(set[SearchResultsUserAvailable].AsString(), std::string("yes"));
    QCOMPARE(set[SearchResultsUserSpeed].AsString(), std::string("2048"));
    QCOMPARE(set[SearchResultsUploadsInQueue].AsString(), std::string("3"));
    // Paths split at the last separator; attribute codes 0-2 kept, 9 not.
    const auto results = ResultsOf(set);
    QCOMPARE(results.size(), std::size_t(4));
    ItemPtr a = results.at("m\\live|a.mp3");
    QCOMPARE(a[SearchResultFileSize].AsString(), std::string("5000000000"));
    QCOMPARE(FileItemDisplay::GetFileItemDisplayString(a), std::string("320 VBR, 3m5s"));
    // Without a free slot the set says "no".
    d.GetType(SearchRequest)->NewItem(8u);
    const auto busy = Receive("bob", ResultHead("bob", 8, {Record("e", 1)}) + Trailer(false, 0, 9));
    QCOMPARE(busy.m_searchResults[SearchResultsUserAvailable].AsString(), std::string("no"));
}

void PeerCatalogueTest::RepeatedUnknownOrForeignResultsAreNotStored()
{
    // For a search we do not have, nothing after the token is looked at.
    const QByteArray x = Record("m\\x.mp3", 1);
    const auto unknown = Receive("bob", 99, {x});
    QVERIFY(unknown.m_acceptable && !unknown.m_searchResults);
    QVERIFY(Receive("bob", ByteBuilder().String("bob").UInt32(99).UInt32(Limit + 1)).m_acceptable);
    // Results in another user's name, or not compressed, are refused.
    const auto foreign = Receive("bob", ResultHead("mallory", 7, {x}) + Trailer(true, 1, 1));
    QVERIFY(!foreign.m_acceptable && !foreign.m_searchResults);
    MemStream notZlib = StreamOf("garbage");
    QVERIFY(!SearchResultIntake::Receive("bob", notZlib).m_acceptable);
    QCOMPARE(SetCount(), std::size_t(0));
    // Within one message a repeat is kept; another folder is another file.
    const auto first = Receive("bob", 7, {x, x, Record("n\\x.mp3", 1)});
    QCOMPARE(first.m_searchResults.GetItems(SearchResult).size(), std::size_t(3));
    // Across messages and searches, a file the user already sent is skipped.
    d.GetType(SearchRequest)->NewItem(8u);
    const auto second = Receive("bob", 8, {Record("m\\x.mp3", 2), Record("m\\y.mp3", 1)});
    QCOMPARE(ResultsOf(second.m_searchResults).count("m|y.mp3"), std::size_t(1));
    QCOMPARE(second.m_searchResults.GetItems(SearchResult).size(), std::size_t(1));
    const auto repeats = Receive("bob", 8, {Record("n\\x.mp3", 1), Record("m\\y.mp3", 1)});
    QVERIFY(repeats.m_acceptable && !repeats.m_searchResults);
    QCOMPARE(SetCount(), std::size_t(2));
}

QTEST_GUILESS_MAIN(PeerCatalogueTest)
#include "PeerCatalogueTest.moc"
