#include <algorithm>
#include <climits>
#include <random>
#include <stdexcept>

#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/LogSink.h"
#include "base/PathUtils.h"
#include "base/SlicedSort.h"
#include "base/TextUtils.h"

namespace {

class RecordingSink : public LogSink
{
public:
    void Append(const QString& category, const QString& line, ItemPtr item) override
    {
        if (failing)
            throw std::runtime_error("view is gone");
        entries.append({category, line});
        items.append(item);
    }

    QList<QStringList> entries;
    QList<ItemPtr> items;
    bool failing = false;
};

} // namespace

class UtilsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetLogSink(nullptr); }

    void TextHelpersGiveTheDisplayedText()
    {
        QCOMPARE(CommafyNumber(LLONG_MAX), QString("9,223,372,036,854,775,807"));
        QCOMPARE(CommafyNumber(0), QString());
        QCOMPARE(CommafyNumber(-1000), QString());
        QCOMPARE(FormatSeconds(59), std::string("0m59s"));
        QCOMPARE(FormatSeconds(3600), std::string("1h0m0s"));
        QCOMPARE(FormatSeconds(86400), std::string("1d0h0m0s")); // days keep zero hours
        QCOMPARE(FormatSeconds(86399), std::string("23h59m59s"));
        QCOMPARE(EscapeHTML("<b>Tom & Jerry</b>"), QString("&lt;b&gt;Tom &amp; Jerry&lt;/b&gt;"));
        QCOMPARE(ConvertLinks("see https://x.org, http://e.com/a?b=1."),
                 QString("see <a href=\"https://x.org\">https://x.org</a>, "
                         "<a href=\"http://e.com/a?b=1\">http://e.com/a?b=1</a>."));
        QCOMPARE(ConvertLinks("ftp://x.org HTTP://y.org xhttp://y.org"),
                 QString("ftp://x.org HTTP://y.org xhttp://y.org"));
    }

    void PathHelpersTakeBothSeparators()
    {
        QCOMPARE(GetFileName("a/b/"), std::string("b"));
        QCOMPARE(GetFileName("/"), std::string());
        QCOMPARE(GetFolder("a/b/"), std::string("a"));
        QCOMPARE(GetFolder("a"), std::string("a"));
        QCOMPARE(GetFolder("/a"), std::string());
        QCOMPARE(GetParentFolder("a\\b\\c\\\\"), std::string("a\\b"));
        QCOMPARE(GetParentFolder("a/b/c/"), std::string("a/b"));
        QCOMPARE(GetParentFolder("\\\\"), std::string());
        QCOMPARE(GetFileExtension("archive.tar.Gz"), std::string("gz"));
        QCOMPARE(GetFileExtension("README"), std::string());
        QCOMPARE(GetFileExtension("name."), std::string());
        QCOMPARE(ReversePathname("a/b\\c//"), std::string("c/b/a"));
        QCOMPARE(ReversePathname("single"), std::string("single"));
        // A run of separators keeps its first; only ASCII letters are lowered.
        QCOMPARE(GetAbsoluteFileName("a\\/\\b"), std::string("a\\b"));
        QCOMPARE(GetAbsoluteFileName("a///"), std::string("a"));
        QCOMPARE(GetAbsoluteFileName("//"), std::string());
        QCOMPARE(GetAbsoluteFileName("Z:\\Music//AZ@[`{\\"), std::string("z:\\music/az@[`{"));
        QCOMPARE(GetAbsoluteFileName("\303\204Bc"), std::string("\303\204bc"));
        for (auto helper : {GetFileName, GetFolder, GetParentFolder, GetFileExtension,
                            ReversePathname, GetAbsoluteFileName})
            QCOMPARE(helper(std::string()), std::string());
    }

    // Any length around the run and batch sizes, every slice cut short.
    void SlicedSortMatchesAWholeSort()
    {
        std::mt19937 rng(7);
        for (std::size_t n : {0, 1, 1024, 1025, 3000, 5000}) {
            std::vector<int> items(n);
            for (int& item : items)
                item = static_cast<int>(rng() % 2000);
            std::vector<int> expected = items;
            std::sort(expected.begin(), expected.end(), std::greater<int>());
            SlicedSort<int, std::greater<int>> sort(items);
            int slices = 1;
            while (!sort.Continue(QDeadlineTimer(0)))
                ++slices;
            QCOMPARE(items, expected);
            QVERIFY(n <= 1024 ? slices == 1 : slices >= 4);
            // Given time, a sort ends in one call whatever its length.
            std::shuffle(items.begin(), items.end(), rng);
            SlicedSort<int, std::greater<int>> untimed(items);
            QVERIFY(untimed.Continue(QDeadlineTimer(QDeadlineTimer::Forever)));
            QCOMPARE(items, expected);
        }
    }

    void LogLinesAreDatedIndentedAndNeverThrow()
    {
        RecordingSink sink;
        SetLogSink(&sink);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        // The log only passes the handle on: any address stands in for an item.
        int subject = 0;
        const ItemPtr item(reinterpret_cast<Item*>(&subject));
        Log(LogCategory::PeerMessenger, 1, "Connection closed", item);
        Log(LogCategory::TransferQueue, 2, "detail");
        Log(LogCategory::TransferQueue, 3, "detail of detail");
        Log(LogCategory::WishList, 0, "below one");
        Log(LogCategory::Search, 2, " leading space kept");
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        const QList<QStringList> expected = {{"Peer Messenger", "Connection closed"},
                                             {"Transfer Queue", "   detail"},
                                             {"Transfer Queue", "      detail of detail"},
                                             {"Wish List", "below one"},
                                             {"Search", "    leading space kept"}};
        static const QRegularExpression shape(QStringLiteral(R"(^\[([^\]]+)\] (.*)$)"));
        QCOMPARE(sink.entries.size(), expected.size());
        for (int n = 0; n < expected.size(); ++n) {
            const QRegularExpressionMatch match = shape.match(sink.entries[n][1]);
            QVERIFY2(match.hasMatch(), qPrintable(sink.entries[n][1]));
            QCOMPARE(QStringList({sink.entries[n][0], match.captured(2)}), expected[n]);
            // Local time in Qt's text format, to the second.
            const QDateTime logged = QDateTime::fromString(match.captured(1), Qt::TextDate);
            QVERIFY2(logged.isValid(), qPrintable(match.captured(1)));
            QVERIFY(logged.toSecsSinceEpoch() >= before && logged.toSecsSinceEpoch() <= after);
        }
        QVERIFY(sink.items[0] == item && sink.items[1].IsNull());

        // A failing sink never throws into the caller.
        sink.failing = true;
        try {
            Log(LogCategory::Shared, 1, "rescan finished");
        } catch (...) {
            QFAIL("Log let an exception escape");
        }
    }
};

QTEST_GUILESS_MAIN(UtilsTest)
#include "UtilsTest.moc"
