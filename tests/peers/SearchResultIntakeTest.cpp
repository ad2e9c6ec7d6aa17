#include <map>

#include <QtTest>

#include "Bytes.h"
#include "RecordBytes.h"
#include "peers/SearchResultIntake.h"
#include "search/SearchSchema.h"
#include "search/SearchTypes.h"
#include "server/ServerSchema.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "streams/MemStream.h"

using namespace SearchTypes;
using RecordBytes::Compressed;
using RecordBytes::Record;

namespace {

constexpr std::uint32_t Limit = 131072;

// The uncompressed body up to and including the files.
ByteBuilder Head(const QByteArray& user, std::uint32_t token,
                 std::initializer_list<QByteArray> records)
{
    ByteBuilder bytes = ByteBuilder().String(user).UInt32(token);
    bytes.UInt32(static_cast<std::uint32_t>(records.size()));
    for (const QByteArray& record : records)
        bytes.Raw(record);
    return bytes;
}

ByteBuilder Trailer(bool freeSlot, std::uint32_t speed, std::uint32_t queue)
{
    return ByteBuilder().Byte(freeSlot ? 1 : 0).UInt32(speed).UInt32(queue).UInt32(0);
}

// Hands the compressed body to the intake as the connection of `user`.
SearchResultIntake::Outcome Receive(const std::string& user, const QByteArray& raw)
{
    MemStream body;
    const QByteArray packed = Compressed(raw);
    body.WriteBuffer(packed.constData(), static_cast<unsigned long>(packed.size()));
    return SearchResultIntake::Receive(user, body);
}

SearchResultIntake::Outcome Receive(const std::string& user, std::uint32_t token,
                                    std::initializer_list<QByteArray> records)
{
    return Receive(user, Head(QByteArray::fromStdString(user), token, records) +
                             Trailer(false, 0, 0).Data());
}

ItemPtr Request(unsigned int token)
{
    return d.GetType(SearchRequest)->NewItem(token);
}

// The results of a set by "folder|name".
std::map<std::string, ItemPtr> ResultsOf(ItemPtr set)
{
    std::map<std::string, ItemPtr> results;
    for (Item* item : set.GetItems(SearchResult)) {
        ItemPtr result(item);
        results[result[SearchResultFileFolder].AsString() + "|" +
                result[SearchResultFileName].AsString()] = result;
    }
    return results;
}

std::size_t SetCount()
{
    return d.GetType(SearchResults)->ItemCount();
}

} // namespace

class SearchResultIntakeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { d.RemoveAllItems(); }

    void ResultsAreStoredUnderTheirRequestAndUser();
    void AttributesAreMappedAndShown();
    void RepeatsFromTheSameUserAreSkipped();
    void UnknownTokenIsDroppedQuietly();
    void MalformedOrForeignResultsAreRefused();
};

void SearchResultIntakeTest::initTestCase()
{
    dataSaver = new DataSaver();
    ServerSchema::DeclareSchema(*dataSaver);
    SearchSchema::DeclareSchema();
}

void SearchResultIntakeTest::ResultsAreStoredUnderTheirRequestAndUser()
{
    ItemPtr request = Request(7);
    const auto outcome = Receive(
        "bob", Head("bob", 7, {Record("music\\live\\a.mp3", 5000000000ULL), Record("c.txt", 12)}) +
                   Trailer(true, 2048, 3).Data());
    QVERIFY(outcome.m_acceptable);
    ItemPtr set = outcome.m_searchResults;
    QVERIFY(set);
    QVERIFY(set[SearchRequest] == request);
    QCOMPARE(set[ServerTypes::User].AsString(), std::string("bob"));
    QCOMPARE(set[SearchResultsUserAvailable].AsString(), std::string("yes"));
    QCOMPARE(set[SearchResultsUserSpeed].AsString(), std::string("2048"));
    QCOMPARE(set[SearchResultsUploadsInQueue].AsString(), std::string("3"));

    // Paths split at the last separator; a bare name is its own folder.
    const auto results = ResultsOf(set);
    QCOMPARE(results.size(), std::size_t(2));
    QVERIFY(results.count("music\\live|a.mp3"));
    QCOMPARE(results.at("music\\live|a.mp3")[SearchResultFileSize].AsString(),
             std::string("5000000000"));
    QVERIFY(results.count("c.txt|c.txt"));

    // Without a free slot the set says "no".
    Request(8);
    const auto busy =
        Receive("bob", Head("bob", 8, {Record("d", 1)}) + Trailer(false, 0, 9).Data());
    QCOMPARE(busy.m_searchResults[SearchResultsUserAvailable].AsString(), std::string("no"));
    QCOMPARE(busy.m_searchResults[SearchResultsUploadsInQueue].AsString(), std::string("9"));

    // The request owns its sets and a set its results: closing the search
    // and collecting takes them all.
    request.Remove();
    d.RemoveDisconnectedItems();
    QCOMPARE(SetCount(), std::size_t(1));
    QCOMPARE(d.GetType(SearchResult)->ItemCount(), std::size_t(1));
}

void SearchResultIntakeTest::AttributesAreMappedAndShown()
{
    Request(7);
    const auto outcome =
        Receive("bob", 7,
                {Record("m\\a.mp3", 1, "mp3", {{0, 320}, {2, 1}, {1, 185}, {9, 4}}),
                 Record("m\\b.mp3", 1, "mp3", {{2, 0}, {0, 128}}), Record("m\\c.ogg", 1, "ogg"),
                 Record("m\\d.mp3", 1, "mp3", {{1, 60}}), Record("m\\e.mp3", 1, "", {{2, 7}})});
    const auto results = ResultsOf(outcome.m_searchResults);
    QCOMPARE(results.size(), std::size_t(5));

    ItemPtr a = results.at("m|a.mp3");
    QCOMPARE(a[Bitrate].AsString(), std::string("320"));
    QCOMPARE(a[LengthSeconds].AsString(), std::string("185"));
    QCOMPARE(a[BitrateMode].AsString(), std::string("vbr"));
    QCOMPARE(results.at("m|b.mp3")[BitrateMode].AsString(), std::string("cbr"));
    QCOMPARE(results.at("m|e.mp3")[BitrateMode].AsString(), std::string("vbr"));
    QVERIFY(!results.at("m|c.ogg")[Bitrate]);

    auto shown = [&](const char* key) {
        return FileItemDisplay::GetFileItemDisplayString(results.at(key));
    };
    QCOMPARE(shown("m|a.mp3"), std::string("320 VBR, 3m5s"));
    QCOMPARE(shown("m|b.mp3"), std::string("128 CBR"));
    QCOMPARE(shown("m|c.ogg"), std::string());
    QCOMPARE(shown("m|d.mp3"), std::string(", 1m0s"));
    QCOMPARE(shown("m|e.mp3"), std::string(" VBR"));
}

void SearchResultIntakeTest::RepeatsFromTheSameUserAreSkipped()
{
    Request(7);
    Request(8);

    // Within one message a repeat is kept; the same name in another folder
    // is another file.
    const auto first =
        Receive("bob", 7, {Record("m\\x.mp3", 1), Record("m\\x.mp3", 1), Record("n\\x.mp3", 1)});
    QCOMPARE(first.m_searchResults.GetItems(SearchResult).size(), std::size_t(3));

    // Across messages, even for another search and with another size, a file
    // already received from the user is skipped.
    const auto second = Receive("bob", 8, {Record("m\\x.mp3", 2), Record("m\\y.mp3", 1)});
    const auto secondResults = ResultsOf(second.m_searchResults);
    QCOMPARE(secondResults.size(), std::size_t(1));
    QVERIFY(secondResults.count("m|y.mp3"));

    // A message of nothing but repeats stores nothing and is still fine.
    const std::size_t sets = SetCount();
    const auto repeats = Receive("bob", 8, {Record("n\\x.mp3", 1), Record("m\\y.mp3", 1)});
    QVERIFY(repeats.m_acceptable);
    QVERIFY(!repeats.m_searchResults);
    QCOMPARE(SetCount(), sets);

    // Another user's copy of the same file is a result of its own.
    const auto other = Receive("carol", 8, {Record("m\\x.mp3", 1)});
    QCOMPARE(other.m_searchResults.GetItems(SearchResult).size(), std::size_t(1));
    QCOMPARE(other.m_searchResults[ServerTypes::User].AsString(), std::string("carol"));
}

void SearchResultIntakeTest::UnknownTokenIsDroppedQuietly()
{
    Request(7);
    const auto unknown = Receive("bob", 99, {Record("m\\x.mp3", 1)});
    QVERIFY(unknown.m_acceptable);
    QVERIFY(!unknown.m_searchResults);

    // Nothing after the token is looked at for a search we do not have.
    const auto broken = Receive("bob", Head("bob", 99, {}).Data().chopped(4) +
                                           ByteBuilder().UInt32(Limit + 1).Data());
    QVERIFY(broken.m_acceptable);
    QCOMPARE(SetCount(), std::size_t(0));

    // Nor is a file of a dropped message remembered as received.
    QCOMPARE(ResultsOf(Receive("bob", 7, {Record("m\\x.mp3", 1)}).m_searchResults).size(),
             std::size_t(1));
}

void SearchResultIntakeTest::MalformedOrForeignResultsAreRefused()
{
    Request(7);
    const QByteArray good = Record("m\\x.mp3", 1);
    const QByteArray refused[] = {
        // Another user's name on bob's connection.
        Head("mallory", 7, {good}) + Trailer(true, 1, 1).Data(),
        // Cut in the user, the token, the count and a record.
        ByteBuilder().String("bob").Data().chopped(1),
        ByteBuilder().String("bob").UInt32(7).Data().chopped(1),
        Head("bob", 7, {}).Data().chopped(1),
        Head("bob", 7, {good}).Data().chopped(1),
        // One file over the limit.
        Head("bob", 7, {}).Data().chopped(4) + ByteBuilder().UInt32(Limit + 1).Data(),
    };
    for (const QByteArray& raw : refused) {
        const auto outcome = Receive("bob", raw);
        QVERIFY(!outcome.m_acceptable);
        QVERIFY(!outcome.m_searchResults);
    }
    MemStream notZlib;
    notZlib.WriteBuffer("garbage", 7);
    QVERIFY(!SearchResultIntake::Receive("bob", notZlib).m_acceptable);
    QCOMPARE(SetCount(), std::size_t(0));

    // The fields after the files are not required.
    const auto bare = Receive("bob", Head("bob", 7, {good}));
    QVERIFY(bare.m_acceptable);
    QCOMPARE(bare.m_searchResults[SearchResultsUserAvailable].AsString(), std::string("no"));
    QCOMPARE(bare.m_searchResults[SearchResultsUserSpeed].AsString(), std::string("0"));
    QCOMPARE(bare.m_searchResults[SearchResultsUploadsInQueue].AsString(), std::string("0"));
}

QTEST_GUILESS_MAIN(SearchResultIntakeTest)
#include "SearchResultIntakeTest.moc"
