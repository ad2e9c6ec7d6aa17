#include <climits>

#include <QtTest>

#include "transfers/LocalPathSanitizer.h"

// Remote names turned into local path components and folders.
class LocalPathTest : public QObject
{
    Q_OBJECT

private slots:
    void HonestNamesAreUnchanged_data();
    void HonestNamesAreUnchanged();
    void HostileNamesGetDistinctSafeSpellings_data();
    void HostileNamesGetDistinctSafeSpellings();
    void OverLongNamesAreCutAtWholeCharacters();
    void RemoteFoldersKeepTheirLastComponents();
};

void LocalPathTest::HonestNamesAreUnchanged_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "x.mp3";
    QTest::newRow("spaces and dots") << " Best of. .. 1999 ...";
    QTest::newRow("leading dot") << ".hidden";
    QTest::newRow("three dots") << "...";
    QTest::newRow("percent without digits") << "100% pure %zz";
    QTest::newRow("colon later") << "Act 1: Overture";
    QTest::newRow("non-latin") << QString::fromUtf8("Motörhead – 東京");
    QTest::newRow("astral") << QString::fromUtf8("\xF0\x9F\x8E\xB5 song");
    QTest::newRow("255 bytes") << QString(255, u'a');
}

void LocalPathTest::HonestNamesAreUnchanged()
{
    QFETCH(QString, name);
    QCOMPARE(SafeLocalComponent(name), name);
}

void LocalPathTest::HostileNamesGetDistinctSafeSpellings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("spelling");
    const char* const rows[][3] = {
        {"empty", "", "%20"},
        {"dot", ".", "%2E"},
        {"dot dot", "..", "%2E%2E"},
        {"slash", "a/b", "a%2Fb"},
        {"leading slash", "/etc", "%2Fetc"},
        {"backslash", "..\\x", "..%5Cx"},
        {"drive", "C:", "C%3A"},
        {"drive path", "c:x", "c%3Ax"},
        {"newline and DEL", "a\nb\x7F", "a%0Ab%7F"},
        {"percent in hostile name", "5%/x", "5%25%2Fx"},
        {"escape lookalike", "a%2Fb", "a%252Fb"},
        {"lookalike at the end", "%20", "%2520"},
        {"lower-case lookalike", "%e9t%e9", "%25e9t%25e9"},
    };
    for (const auto& [row, name, spelling] : rows)
        QTest::newRow(row) << QString(name) << QString(spelling);
    QTest::newRow("NUL") << QString::fromUtf16(u"a\0b", 3) << "a%00b";
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'x' << "%ED%A0%80x";
    QTest::newRow("leading byte order mark") << QString(QChar(0xFEFF)) + u'x' << "%EF%BB%BFx";
}

void LocalPathTest::HostileNamesGetDistinctSafeSpellings()
{
    QFETCH(QString, name);
    QFETCH(QString, spelling);
    QCOMPARE(SafeLocalComponent(name), spelling);
}

void LocalPathTest::OverLongNamesAreCutAtWholeCharacters()
{
    // 602 bytes, too long even unescaped; one more character would overflow.
    const QString longName = QStringLiteral("ab") + QString(200, QChar(0x6771));
    const QString spelling = SafeLocalComponent(longName);
    QVERIFY(spelling.toUtf8().size() <= MaxLocalComponentBytes);
    QVERIFY(QString::fromUtf8(spelling.toUtf8()) == spelling);
    QVERIFY(spelling.startsWith(QStringLiteral("ab") + QString(70, QChar(0x6771))));
    QCOMPARE(spelling.count(u'%'), 1);
    // Names that differ only past the cut still get different spellings,
    // and a long name never spells the same as its own cut-off prefix.
    const QString other = longName.left(199) + u'x';
    QVERIFY(SafeLocalComponent(other) != spelling);
    QVERIFY(SafeLocalComponent(spelling) != spelling);
    const QString escapedLong = QString(300, u'/');
    QVERIFY(SafeLocalComponent(escapedLong).toUtf8().size() <= MaxLocalComponentBytes);
    QVERIFY(SafeLocalComponent(escapedLong).startsWith(u"%2F%2F"));
}

void LocalPathTest::RemoteFoldersKeepTheirLastComponents()
{
    QCOMPARE(SafeRelativeFolder("music\\album", 0), "album");
    QCOMPARE(SafeRelativeFolder("a\\b\\c", 1), "b\\c");
    QCOMPARE(SafeRelativeFolder("a\\b\\c", 9), "a\\b\\c");
    QCOMPARE(SafeRelativeFolder("a\\b\\c", INT_MAX), "a\\b\\c");
    QCOMPARE(SafeRelativeFolder("a\\b\\c\\", 1), "b\\c");
    QCOMPARE(SafeRelativeFolder("@@abcde\\Music", -1), "Music");
    QCOMPARE(SafeRelativeFolder("", 3), "");
    // Every component kept is made safe on its own.
    QCOMPARE(SafeRelativeFolder("..\\..\\x", 5), "%2E%2E\\%2E%2E\\x");
    QCOMPARE(SafeRelativeFolder("a\\\\b", 2), "a\\%20\\b");
    QCOMPARE(SafeRelativeFolder("C:\\..", 1), "C%3A\\%2E%2E");
    QCOMPARE(SafeRelativeFolder("x\\/etc/passwd", 0), "%2Fetc%2Fpasswd");
}

QTEST_GUILESS_MAIN(LocalPathTest)
#include "LocalPathTest.moc"
