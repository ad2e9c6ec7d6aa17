#include <QtTest>

#include "search/FilterParser.h"

class FilterParserTest : public QObject
{
    Q_OBJECT

private slots:
    void WordsSplitIntoIncludesAndExcludes()
    {
        FilterParser parser;
        parser.Parse("  mp3   -live - --x  a-b ");
        QCOMPARE(parser.IncludeTerms(), QStringList({"mp3", "a-b"}));
        QCOMPARE(parser.ExcludeTerms(), QStringList({"live", "-x"}));
        parser.Parse("flac");
        QCOMPARE(parser.IncludeTerms(), QStringList({"mp3", "a-b", "flac"}));

        FilterParser empty;
        empty.Parse("   -  ");
        QVERIFY(empty.IsEmpty());
        QCOMPARE(empty.IsMatching("anything at all"), int(FilterParser::Matching));
    }

    void MatchingIsCaseInsensitiveAndExcludesWin()
    {
        FilterParser parser;
        parser.Parse("MP3 track -LIVE");
        QCOMPARE(parser.IsMatching("Track 01.mp3"), int(FilterParser::Matching));
        QCOMPARE(parser.IsMatching("Track 01.flac"), int(FilterParser::TermMissing));
        // An excluded word is reported even when an included one is missing.
        QCOMPARE(parser.IsMatching("track live.flac"), int(FilterParser::TermExcluded));
        // Words are substrings, not whole words.
        QCOMPARE(parser.IsMatching("deLiVery tracks.mp3"), int(FilterParser::TermExcluded));
        QCOMPARE(parser.IsMatching("LIV soundtrack.MP3"), int(FilterParser::Matching));

        // Folded, the terms are lower-cased and passed on to what remains.
        parser.ExpectFoldedTexts();
        FilterParser remaining;
        QCOMPARE(parser.IsMatching("music\\tracks", &remaining), int(FilterParser::TermMissing));
        QCOMPARE(remaining.IsMatching("01.mp3"), int(FilterParser::Matching));
        QCOMPARE(remaining.IsMatching("01 live.mp3"), int(FilterParser::TermExcluded));
    }

    void FilesAreShownByTheTwoLevelRule()
    {
        FilterParser mp3;
        mp3.Parse("mp3 -live");
        QVERIFY(!mp3.IsFileShown("Music\\Band", "track live.mp3"));
        QVERIFY(mp3.IsFileShown("Music\\Band", "track.mp3"));
        // An excluded word in the path hides every file of the folder.
        QVERIFY(!mp3.IsFileShown("Music\\Live at Home", "track.mp3"));

        FilterParser albumTrack;
        albumTrack.Parse("album track");
        QVERIFY(albumTrack.IsFileShown("Music\\Band\\Album", "Track 01.flac"));
        QVERIFY(!albumTrack.IsFileShown("Music\\Album", "cover.jpg"));

        // What a folder leaves open replaces whatever the parser held before.
        FilterParser remaining;
        remaining.Parse("stale -old");
        QCOMPARE(albumTrack.IsMatching("Music\\Album", &remaining), int(FilterParser::TermMissing));
        QCOMPARE(remaining.IncludeTerms(), QStringList({"track"}));
        QVERIFY(remaining.ExcludeTerms().isEmpty());

        QVERIFY(FilterParser().IsFileShown("Music", "track.mp3"));
    }
};

QTEST_GUILESS_MAIN(FilterParserTest)
#include "FilterParserTest.moc"
