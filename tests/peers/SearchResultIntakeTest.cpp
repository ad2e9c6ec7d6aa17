#include <map>

#include <QtTest>

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
using RecordBytes::Record;

namespace {

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

QByteArray Trailer(bool freeSlot, std::uint32_t speed, std::uint32_t queue)
{
    return ByteBuilder().Byte(freeSlot ? 1 : 0).UInt32(speed).UInt32(queue).UInt32(0);
}

// Hands the body, compressed, to the intake as the connection of `user`.
SearchResultIntake::Outcome Receive(const std::string& user, const QByteArray& raw)
{
    MemStream body;
    const QByteArray packed = RecordBytes::Compressed(raw);
    body.WriteBuffer(packed.constData(), static_cast<unsigned long>(packed.size()));
    return SearchResultIntake::Receive(user, body);
}

SearchResultIntake::Outcome Receive(const std::string& user, std::uint32_t token,
                                    std::initializer_list<QByteArray> records)
{
    return Receive(user,
                   Head(QByteArray::fromStdString(user), token, records) + Trailer(false, 0, 0));
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
    void init();

    void ResultsAreStoredUnderTheirRequestAndUser();
    void RepeatsFromTheSameUserAreSkipped();
    void UnknownSearchIsDroppedQuietly();
    void MalformedOrForeignResultsAreRefused();

private:
    ItemPtr m_request;
};

void SearchResultIntakeTest::initTestCase()
{
    dataSaver = new DataSaver();
    ServerSchema::DeclareSchema(*dataSaver);
    SearchSchema::DeclareSchema();
}

void SearchResultIntakeTest::init()
{
    d.RemoveAllItems();
    m_request = d.GetType(SearchRequest)->NewItem(7u);
}

void SearchResultIntakeTest::ResultsAreStoredUnderTheirRequestAndUser()
{
    const auto outcome = Receive(
        "bob",
        Head("bob", 7,
             {Record("m\\live\\a.mp3", 5000000000ULL, "mp3", {{0, 320}, {2, 1}, {1, 185}, {9, 4}}),
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

    // Paths split at the last separator (a bare name is its own folder);
    // attribute codes 0, 1 and 2 are kept, others passed over.
    const auto results = ResultsOf(set);
    QCOMPARE(results.size(), std::size_t(4));
    ItemPtr a = results.at("m\\live|a.mp3");
    QCOMPARE(a[SearchResultFileSize].AsString(), std::string("5000000000"));
    QCOMPARE(a[Bitrate].AsString(), std::string("320"));
    QCOMPARE(a[LengthSeconds].AsString(), std::string("185"));
    QCOMPARE(FileItemDisplay::GetFileItemDisplayString(a), std::string("320 VBR, 3m5s"));
    QCOMPARE(FileItemDisplay::GetFileItemDisplayString(results.at("m|b.mp3")),
             std::string("128 CBR"));
    QCOMPARE(FileItemDisplay::GetFileItemDisplayString(results.at("c.txt|c.txt")), std::string());
    QCOMPARE(FileItemDisplay::GetFileItemDisplayString(results.at("m|d.mp3")),
             std::string(" VBR, 1m0s"));

    // Without a free slot the set says "no". The request owns its sets and
    // a set its results: closing the search and collecting takes them all.
    d.GetType(SearchRequest)->NewItem(8u);
    const auto busy = Receive("bob", Head("bob", 8, {Record("e", 1)}) + Trailer(false, 0, 9));
    QCOMPARE(busy.m_searchResults[SearchResultsUserAvailable].AsString(), std::string("no"));
    m_request.Remove();
    d.RemoveDisconnectedItems();
    QCOMPARE(SetCount(), std::size_t(1));
    QCOMPARE(d.GetType(SearchResult)->ItemCount(), std::size_t(1));
}

void SearchResultIntakeTest::RepeatsFromTheSameUserAreSkipped()
{
    d.GetType(SearchRequest)->NewItem(8u);

    // Within one message a repeat is kept; the same name in another folder
    // is another file.
    const auto first =
        Receive("bob", 7, {Record("m\\x.mp3", 1), Record("m\\x.mp3", 1), Record("n\\x.mp3", 1)});
    QCOMPARE(first.m_searchResults.GetItems(SearchResult).size(), std::size_t(3));

    // Across messages, even for another search and with another size, a file
    // already received from the user is skipped.
    const auto second = Receive("bob", 8, {Record("m\\x.mp3", 2), Record("m\\y.mp3", 1)});
    QCOMPARE(ResultsOf(second.m_searchResults).count("m|y.mp3"), std::size_t(1));
    QCOMPARE(second.m_searchResults.GetItems(SearchResult).size(), std::size_t(1));

    // A message of nothing but repeats stores nothing and is still fine.
    const auto repeats = Receive("bob", 8, {Record("n\\x.mp3", 1), Record("m\\y.mp3", 1)});
    QVERIFY(repeats.m_acceptable && !repeats.m_searchResults);
    QCOMPARE(SetCount(), std::size_t(2));

    // Another user's copy of the same file is a result of its own.
    const auto other = Receive("carol", 8, {Record("m\\x.mp3", 1)});
    QCOMPARE(other.m_searchResults.GetItems(SearchResult).size(), std::size_t(1));
}

void SearchResultIntakeTest::UnknownSearchIsDroppedQuietly()
{
    const auto unknown = Receive("bob", 99, {Record("m\\x.mp3", 1)});
    QVERIFY(unknown.m_acceptable && !unknown.m_searchResults);
    // Nothing after the token is looked at for a search we do not have.
    QVERIFY(Receive("bob", ByteBuilder().String("bob").UInt32(99).UInt32(131073)).m_acceptable);
    QCOMPARE(SetCount(), std::size_t(0));
    // Nor is a file of a dropped message remembered as received.
    QCOMPARE(ResultsOf(Receive("bob", 7, {Record("m\\x.mp3", 1)}).m_searchResults).size(),
             std::size_t(1));
}

void SearchResultIntakeTest::MalformedOrForeignResultsAreRefused()
{
    const QByteArray good = Record("m\\x.mp3", 1);
    const QByteArray refused[] = {
        Head("mallory", 7, {good}) + Trailer(true, 1, 1), // not the connection's user
        ByteBuilder().String("bob").Data().chopped(1),
        ByteBuilder().String("bob").UInt32(7).Data().chopped(1),
        Head("bob", 7, {good}).Data().chopped(1),
        ByteBuilder().String("bob").UInt32(7).UInt32(131073), // one file over the limit
    };
    for (const QByteArray& raw : refused) {
        const auto outcome = Receive("bob", raw);
        QVERIFY(!outcome.m_acceptable && !outcome.m_searchResults);
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
}

QTEST_GUILESS_MAIN(SearchResultIntakeTest)
#include "SearchResultIntakeTest.moc"
