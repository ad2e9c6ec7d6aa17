#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "LabServerProcess.h"
#include "NodeProcess.h"

// Two headless nodes on the lab server: one shares a small folder tree, the
// other keeps a wish list and filters what its searches find.
class NodeSearchTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void WishListSearchesRepeatAndFindSharedFiles();
    void FilterKeepsResultsByFolderAndName();

private:
    bool StartNode(NodeProcess& node, const QString& user);
    // The result lines of the last typed search that `text` keeps.
    QStringList Filtered(const QString& text);

    LabServerProcess m_server;
    QTemporaryDir m_files;
    NodeProcess m_sharer, m_searcher;
    QString m_lastToken;
};

namespace {
const QStringList SharedFiles = {"music/Album/Track 01.flac", "music/Album/cover.jpg",
                                 "music/Live/track 02.mp3", "music/misc/track live.mp3",
                                 "music/misc/track.mp3"};
} // namespace

bool NodeSearchTest::StartNode(NodeProcess& node, const QString& user)
{
    if (!node.Start(m_server.Port()) || !node.WaitFor("rescanned\t0\t0"))
        return false;
    node.Send("ports 0 0");
    if (node.WaitForPrefix("listening\t").isEmpty())
        return false;
    node.Send("login " + user + " secret");
    return node.WaitFor("connected");
}

QStringList NodeSearchTest::Filtered(const QString& text)
{
    m_searcher.Send("filter " + text);
    if (!m_searcher.WaitFor("end"))
        return {"no end to filter " + text};
    QStringList lines;
    for (const QString& event : m_searcher.Pending())
        if (event.startsWith("result\t" + m_lastToken + "\t")) {
            lines << event;
            m_searcher.WaitFor(event, 0);
        }
    lines.sort();
    return lines;
}

void NodeSearchTest::initTestCase()
{
    QVERIFY(m_files.isValid());
    for (const QString& file : SharedFiles) {
        QVERIFY(QDir().mkpath(QFileInfo(m_files.filePath(file)).path()));
        QFile out(m_files.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("not music") == 9);
    }
    QVERIFY(m_server.Start());
    QVERIFY(StartNode(m_sharer, "sharer"));
    QVERIFY(StartNode(m_searcher, "searcher"));
    m_sharer.Send("share " + m_files.filePath("music") + " public");
    m_sharer.Send("rescan");
    QVERIFY(!m_sharer.WaitForPrefix("rescanned\t").isEmpty());
}

void NodeSearchTest::cleanupTestCase()
{
    QVERIFY(m_sharer.Quit());
    QVERIFY(m_searcher.Quit());
    QVERIFY(m_server.Stop());
}

void NodeSearchTest::WishListSearchesRepeatAndFindSharedFiles()
{
    m_searcher.Send("wish add cover");
    m_searcher.Send("wish add cover");
    m_searcher.Send("wish add lighthouse");
    m_searcher.Send("wish disable lighthouse");
    QVERIFY(m_searcher.WaitFor("wish-added\tcover"));
    QVERIFY(m_searcher.WaitFor("error\twish exists cover"));
    QVERIFY(m_searcher.WaitFor("wish-disabled\tlighthouse"));

    // The lab server's period is short: the one enabled entry goes out
    // again and again, the disabled one never. Only the first answer
    // brings results; the sharer's later ones repeat files we hold already.
    const QString first = m_searcher.WaitForPrefix("wish-search-started\t");
    QCOMPARE(first.section('\t', 2), QString("cover"));
    const QString folder = m_files.filePath("music/Album").replace('/', '\\');
    QVERIFY(!m_searcher
                 .WaitForPrefix("result\t" + first.section('\t', 1, 1) + "\tsharer\t" + folder +
                                "\tcover.jpg\t9\t")
                 .isEmpty());
    const QString second = m_searcher.WaitForPrefix("wish-search-started\t");
    QCOMPARE(second.section('\t', 2), QString("cover"));
    QVERIFY(second != first);

    m_searcher.Send("wish remove cover");
    QVERIFY(m_searcher.WaitFor("wish-removed\tcover"));
    m_searcher.Send("wish remove cover");
    QVERIFY(m_searcher.WaitFor("error\tno wish cover"));
}

void NodeSearchTest::FilterKeepsResultsByFolderAndName()
{
    QCOMPARE(Filtered("anything"), QStringList());
    m_searcher.Send("search track");
    m_lastToken = m_searcher.WaitForPrefix("search-started\t").section('\t', 1, 1);
    QVERIFY(!m_lastToken.isEmpty());
    QStringList all;
    for (int i = 0; i < 4; ++i)
        all << m_searcher.WaitForPrefix("result\t" + m_lastToken + "\tsharer\t");
    all.sort();
    const auto withName = [&all](const QString& name) {
        for (const QString& line : all)
            if (line.section('\t', 4, 4) == name)
                return line;
        return QString();
    };
    QVERIFY(!withName("Track 01.flac").isEmpty() && !withName("track.mp3").isEmpty());

    QCOMPARE(Filtered("-"), all);
    QCOMPARE(Filtered("  album   track "), QStringList(withName("Track 01.flac")));
    // An excluded word in the folder hides track 02.mp3, in the name track live.mp3.
    QCOMPARE(Filtered("MP3 -live"), QStringList(withName("track.mp3")));
    QCOMPARE(Filtered("flac -album"), QStringList());
}

QTEST_GUILESS_MAIN(NodeSearchTest)
#include "NodeSearchTest.moc"
