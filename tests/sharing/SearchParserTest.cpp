#include <QTest>

#include "sharing/SearchParser.h"

class SearchParserTest : public QObject
{
    Q_OBJECT

private slots:
    void QueriesSplitIntoThreeSets()
    {
        QCOMPARE(Parsed("beatles -live"), QString("beatles||live"));
        QCOMPARE(Parsed("  beatles\t*eat  -live -live beatles "), QString("beatles|eat|live"));
        // Case is kept, and the sets are ordered and without repeats.
        QCOMPARE(Parsed("Zeppelin abba ABBA"), QString("ABBA,Zeppelin,abba||"));
        // A part alone is enough to be a query.
        QCOMPARE(Parsed("*eat"), QString("|eat|"));
        // Quotes keep spaces, may follow a mark and end the word when closed.
        QCOMPARE(Parsed("\"two words\" -\"live at\" *\"b c\"d"),
                 QString("d,two words|b c|live at"));
        // A quote left open runs to the end of the text.
        QCOMPARE(Parsed("abba \"open to the end"), QString("abba,open to the end||"));
        // Only a mark in front of a word counts; inside a word it is text.
        QCOMPARE(Parsed("a-ha x*y"), QString("a-ha,x*y||"));
    }

    void MalformedOrEmptyQueriesAreRefused()
    {
        for (const char* text :
             {"", " \t ", "-live", "-live -dead", "abba -", "abba *", "abba \"\"", "abba -\"\"",
              "ab\"ba", "abba x\"", "abba - live", "\"a\"b\"c\""})
            QVERIFY2(Parsed(text) == "refused", text);
    }

private:
    // "included|parts|excluded", each set joined by ",", or "refused".
    static QString Parsed(const char* text)
    {
        SearchParser parser;
        if (!parser.SetSearchText(text))
            return "refused";
        QStringList sets;
        for (const auto* set : {&parser.GetIncludedTokenSet(), &parser.GetIncludedPartTokenSet(),
                                &parser.GetExcludedTokenSet()}) {
            QStringList words;
            for (const std::string& word : *set)
                words << QString::fromStdString(word);
            sets << words.join(',');
        }
        return sets.join('|');
    }
};

QTEST_GUILESS_MAIN(SearchParserTest)
#include "SearchParserTest.moc"
