#include <stdexcept>

#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

#include "app/Log.h"
#include "app/LogCategory.h"
#include "app/LogSink.h"

namespace {

struct Entry
{
    QString category;
    QString line;
    ItemPtr item;
};

class RecordingSink : public LogSink
{
public:
    void Append(const QString& category, const QString& line, ItemPtr item) override
    {
        entries.append({category, line, item});
    }

    QList<Entry> entries;
};

class ThrowingSink : public LogSink
{
public:
    void Append(const QString&, const QString&, ItemPtr) override
    {
        throw std::runtime_error("view is gone");
    }
};

// Splits "[date] text" into its two halves; fails the test if the line has
// another shape.
bool SplitLine(const QString& line, QString& date, QString& text)
{
    static const QRegularExpression shape(QStringLiteral(R"(^\[([^\]]+)\] (.*)$)"));
    const QRegularExpressionMatch match = shape.match(line);
    if (!match.hasMatch())
        return false;
    date = match.captured(1);
    text = match.captured(2);
    return true;
}

} // namespace

class LogTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetLogSink(nullptr); }
    void LineStartsWithTheLocalTimeInTextFormat();
    void EachLevelAboveOneIndentsByThreeSpaces();
    void CategoryAndItemReachTheSink();
    void WithoutSinkLinesAreDropped();
    void FailingSinkDoesNotThrow();
};

void LogTest::LineStartsWithTheLocalTimeInTextFormat()
{
    RecordingSink sink;
    SetLogSink(&sink);
    const QDateTime before = QDateTime::currentDateTime();
    Log(LogCategory::Server, 1, "Connected to server");
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(sink.entries.size(), 1);
    QString date, text;
    QVERIFY2(SplitLine(sink.entries[0].line, date, text), qPrintable(sink.entries[0].line));
    QCOMPARE(text, QString("Connected to server"));
    const QDateTime logged = QDateTime::fromString(date, Qt::TextDate);
    QVERIFY2(logged.isValid(), qPrintable(date));
    // Local time with one-second resolution.
    QVERIFY(logged.toSecsSinceEpoch() >= before.toSecsSinceEpoch());
    QVERIFY(logged.toSecsSinceEpoch() <= after.toSecsSinceEpoch());
}

void LogTest::EachLevelAboveOneIndentsByThreeSpaces()
{
    RecordingSink sink;
    SetLogSink(&sink);
    Log(LogCategory::TransferQueue, 1, "event");
    Log(LogCategory::TransferQueue, 2, "detail");
    Log(LogCategory::TransferQueue, 3, "detail of detail");
    Log(LogCategory::TransferQueue, 0, "below one");
    Log(LogCategory::TransferQueue, 2, " leading space kept");

    const QStringList expected = {"event", "   detail", "      detail of detail", "below one",
                                  "    leading space kept"};
    QCOMPARE(sink.entries.size(), expected.size());
    for (int n = 0; n < expected.size(); ++n) {
        QString date, text;
        QVERIFY(SplitLine(sink.entries[n].line, date, text));
        QCOMPARE(text, expected[n]);
    }
}

void LogTest::CategoryAndItemReachTheSink()
{
    RecordingSink sink;
    SetLogSink(&sink);
    // The log only passes the handle along, so any address stands in for an
    // item here; it is never dereferenced.
    int subject = 0;
    ItemPtr item(reinterpret_cast<Item*>(&subject));
    Log(LogCategory::PeerMessenger, 1, "Connection closed", item);
    Log(LogCategory::WishList, 2, "no item");

    QCOMPARE(sink.entries.size(), 2);
    QCOMPARE(sink.entries[0].category, QString("Peer Messenger"));
    QVERIFY(sink.entries[0].item == item);
    QCOMPARE(sink.entries[1].category, QString("Wish List"));
    QVERIFY(sink.entries[1].item.IsNull());
}

void LogTest::WithoutSinkLinesAreDropped()
{
    RecordingSink sink;
    SetLogSink(&sink);
    SetLogSink(nullptr);
    Log(LogCategory::Search, 1, "nobody listens");
    QVERIFY(sink.entries.isEmpty());

    SetLogSink(&sink);
    Log(LogCategory::Search, 1, "heard");
    QCOMPARE(sink.entries.size(), 1);
}

void LogTest::FailingSinkDoesNotThrow()
{
    ThrowingSink sink;
    SetLogSink(&sink);
    try {
        Log(LogCategory::Shared, 1, "rescan finished");
    } catch (...) {
        QFAIL("Log let an exception escape");
    }
}

QTEST_GUILESS_MAIN(LogTest)
#include "LogTest.moc"
