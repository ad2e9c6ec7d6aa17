#include <climits>

#include <QtTest>

#include "app/PathUtils.h"
#include "app/TextUtils.h"

class UtilsTest : public QObject
{
    Q_OBJECT

private slots:
    void CommafyNumberGroupsThreeDigitsFromTheRight();
    void CommafyNumberIsEmptyForZeroAndBelow();
    void FormatSecondsShowsDaysAndHoursOnlyWhenNeeded();
    void EscapeHTMLDoesNotEscapeItsOwnEntities();
    void ConvertLinksLinksAddressesButNotTrailingPunctuation();
    void GetBitCountsTheLowestBitAsOne();
    void GetFileNameTakesTheLastComponent();
    void GetFolderDropsTheLastComponent();
    void GetParentFolderDropsAllTrailingBackslashes();
    void GetFileExtensionIsLowerCase();
    void ReversePathnameReversesComponents();
    void GetAbsoluteFileNameNormalises();
};

void UtilsTest::CommafyNumberGroupsThreeDigitsFromTheRight()
{
    QCOMPARE(CommafyNumber(1), QString("1"));
    QCOMPARE(CommafyNumber(999), QString("999"));
    QCOMPARE(CommafyNumber(1000), QString("1,000"));
    QCOMPARE(CommafyNumber(123456), QString("123,456"));
    QCOMPARE(CommafyNumber(1000000), QString("1,000,000"));
    QCOMPARE(CommafyNumber(12345678), QString("12,345,678"));
    QCOMPARE(CommafyNumber(LLONG_MAX), QString("9,223,372,036,854,775,807"));
}

void UtilsTest::CommafyNumberIsEmptyForZeroAndBelow()
{
    QCOMPARE(CommafyNumber(0), QString());
    QCOMPARE(CommafyNumber(-1), QString());
    QCOMPARE(CommafyNumber(-1000), QString());
    QCOMPARE(CommafyNumber(LLONG_MIN), QString());
}

void UtilsTest::FormatSecondsShowsDaysAndHoursOnlyWhenNeeded()
{
    QCOMPARE(FormatSeconds(93784), std::string("1d2h3m4s"));
    QCOMPARE(FormatSeconds(90061), std::string("1d1h1m1s"));
    QCOMPARE(FormatSeconds(5), std::string("0m5s"));
    QCOMPARE(FormatSeconds(59), std::string("0m59s"));
    QCOMPARE(FormatSeconds(0), std::string("0m0s"));
    QCOMPARE(FormatSeconds(3600), std::string("1h0m0s"));
    // Whole days keep their zero hours so the parts still line up.
    QCOMPARE(FormatSeconds(86400), std::string("1d0h0m0s"));
    QCOMPARE(FormatSeconds(86399), std::string("23h59m59s"));
}

void UtilsTest::EscapeHTMLDoesNotEscapeItsOwnEntities()
{
    QCOMPARE(EscapeHTML("<b>Tom & Jerry</b>"), QString("&lt;b&gt;Tom &amp; Jerry&lt;/b&gt;"));
    QCOMPARE(EscapeHTML("&lt;"), QString("&amp;lt;"));
    QCOMPARE(EscapeHTML(""), QString(""));
}

void UtilsTest::ConvertLinksLinksAddressesButNotTrailingPunctuation()
{
    QCOMPARE(ConvertLinks("see http://example.com/a?b=1."),
             QString("see <a href=\"http://example.com/a?b=1\">http://example.com/a?b=1</a>."));
    QCOMPARE(ConvertLinks("https://x.org, http://y.org"),
             QString("<a href=\"https://x.org\">https://x.org</a>, "
                     "<a href=\"http://y.org\">http://y.org</a>"));
    QCOMPARE(ConvertLinks("ftp://x.org and HTTP://y.org stay"),
             QString("ftp://x.org and HTTP://y.org stay"));
    // A link must start at a word boundary.
    QCOMPARE(ConvertLinks("xhttp://y.org"), QString("xhttp://y.org"));
}

void UtilsTest::GetBitCountsTheLowestBitAsOne()
{
    QVERIFY(GetBit(1u, 1));
    QVERIFY(!GetBit(1u, 2));
    QVERIFY(GetBit(2u, 2));
    QVERIFY(!GetBit(2u, 1));
    QVERIFY(GetBit(0x80000000u, 32));
    QVERIFY(!GetBit(0x7fffffffu, 32));
    QVERIFY(!GetBit(0xffffffffu, 0));
    QVERIFY(!GetBit(0xffffffffu, 33));
}

void UtilsTest::GetFileNameTakesTheLastComponent()
{
    QCOMPARE(GetFileName("music\\a.mp3"), std::string("a.mp3"));
    QCOMPARE(GetFileName("music/rock/a.mp3"), std::string("a.mp3"));
    QCOMPARE(GetFileName("music/rock\\a.mp3"), std::string("a.mp3"));
    QCOMPARE(GetFileName("a/b/"), std::string("b"));
    QCOMPARE(GetFileName("a.mp3"), std::string("a.mp3"));
    QCOMPARE(GetFileName(""), std::string());
    QCOMPARE(GetFileName("/"), std::string());
}

void UtilsTest::GetFolderDropsTheLastComponent()
{
    QCOMPARE(GetFolder("a/b/"), std::string("a"));
    QCOMPARE(GetFolder("a\\b\\c.mp3"), std::string("a\\b"));
    QCOMPARE(GetFolder("a/b\\c"), std::string("a/b"));
    QCOMPARE(GetFolder("a"), std::string("a"));
    QCOMPARE(GetFolder("/a"), std::string());
    QCOMPARE(GetFolder(""), std::string());
}

void UtilsTest::GetParentFolderDropsAllTrailingBackslashes()
{
    QCOMPARE(GetParentFolder("a\\b\\c\\\\"), std::string("a\\b"));
    QCOMPARE(GetParentFolder("a\\b"), std::string("a"));
    QCOMPARE(GetParentFolder("a/b/c/"), std::string("a/b"));
    QCOMPARE(GetParentFolder("\\\\"), std::string());
    QCOMPARE(GetParentFolder(""), std::string());
}

void UtilsTest::GetFileExtensionIsLowerCase()
{
    QCOMPARE(GetFileExtension("X.MP3"), std::string("mp3"));
    QCOMPARE(GetFileExtension("archive.tar.Gz"), std::string("gz"));
    QCOMPARE(GetFileExtension("README"), std::string());
    QCOMPARE(GetFileExtension("name."), std::string());
    QCOMPARE(GetFileExtension(""), std::string());
}

void UtilsTest::ReversePathnameReversesComponents()
{
    QCOMPARE(ReversePathname("a/b/c"), std::string("c/b/a"));
    QCOMPARE(ReversePathname("a\\b\\c\\"), std::string("c/b/a"));
    QCOMPARE(ReversePathname("a/b\\c//"), std::string("c/b/a"));
    QCOMPARE(ReversePathname("single"), std::string("single"));
    QCOMPARE(ReversePathname(""), std::string());
}

void UtilsTest::GetAbsoluteFileNameNormalises()
{
    QCOMPARE(GetAbsoluteFileName("Music//Rock\\Song.MP3/"), std::string("music/rock\\song.mp3"));
    QCOMPARE(GetAbsoluteFileName("C:\\\\Shared\\"), std::string("c:\\shared"));
    // A run keeps its first separator, whatever the others are.
    QCOMPARE(GetAbsoluteFileName("a\\/\\b"), std::string("a\\b"));
    QCOMPARE(GetAbsoluteFileName("a///"), std::string("a"));
    QCOMPARE(GetAbsoluteFileName("//"), std::string());
    QCOMPARE(GetAbsoluteFileName(""), std::string());
    // Only ASCII letters change, so UTF-8 names stay intact.
    const std::string upperUmlaut = "\xc3\x84";
    QCOMPARE(GetAbsoluteFileName(upperUmlaut + "Bc"), upperUmlaut + "bc");
}

QTEST_GUILESS_MAIN(UtilsTest)
#include "UtilsTest.moc"
