#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "LabServerProcess.h"
#include "NodeProcess.h"

// Two headless nodes in a search tree: the sharer shares a folder tree with
// MP3 files, the searcher below it finds and browses it.
class NodeShareTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void SearchFindsAndBrowsingListsTheFiles();

private:
    bool ShareAndScan();
    bool FormTree();
    // A local path of the generated tree as peers see it.
    QString Wire(const QString& relativePath) const;
    QString Size(const QString& relativePath) const;

    LabServerProcess m_server;
    QTemporaryDir m_files;
    NodeProcess m_sharer, m_searcher;
};

namespace {

// Sends `command` and a marker, whose error ends an immediate answer; returns
// and consumes the answer's events that start with `prefix`, in order.
QStringList Answer(NodeProcess& node, const QString& command, const QString& prefix)
{
    node.Send(command);
    node.Send("no-op marker");
    if (!node.WaitFor("error\tno-op marker"))
        return {"no answer to " + command};
    QStringList lines;
    for (const QString& event : node.Pending())
        if (event.startsWith(prefix)) {
            lines << event;
            node.WaitFor(event, 0);
        }
    return lines;
}

QString ParentOf(NodeProcess& node)
{
    const QStringList fields = Answer(node, "dnet", "dnet\t").value(0).split('\t');
    return fields.size() == 4 ? fields[1] : QString();
}

QByteArray MP3(const QString& name)
{
    QFile file(QStringLiteral(QUORVALE_TEST_DATA "/mp3/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString NodeShareTest::Wire(const QString& relativePath) const
{
    return ToWire(m_files.filePath(relativePath));
}

QString NodeShareTest::Size(const QString& relativePath) const
{
    return QString::number(QFileInfo(m_files.filePath(relativePath)).size());
}

bool NodeShareTest::ShareAndScan()
{
    const QString music = m_files.filePath("music");
    // A path with ".." is cleaned up before it becomes a root.
    m_sharer.Send("share " + music + "/harbour/.. public");
    // A rescan requested while the new root is scanned runs after it, so its
    // end is the end of both scans.
    m_sharer.Send("rescan");
    if (!m_sharer.WaitFor("shared\t" + music + "\tpublic") ||
        m_sharer.WaitForPrefix("rescanned\t").isEmpty())
        return false;
    return m_sharer.WaitFor("mp3-scanned\t" + music + "/harbour/lighthouse-cbr.mp3\t128 CBR");
}

bool NodeShareTest::FormTree()
{
    // A node adopts the parent that first passes it a search; the sharer,
    // logged in first, is the root. Each round waits until the searcher heard it.
    for (int round = 0; round < 20; ++round) {
        const QString text = QString("warm-up %1").arg(round);
        m_sharer.Send("search " + text);
        const QString token = m_sharer.WaitForPrefix("search-started\t").section('\t', 1, 1);
        if (!m_searcher.WaitFor("dnet-search\tsharer\t" + token + "\t" + text))
            return false;
        if (ParentOf(m_searcher) == "sharer")
            break;
    }
    // Forget the warm-up: a search heard twice leaves a copy, and the rescan
    // may have asked again for a file whose first scan had not come back.
    for (NodeProcess* node : {&m_sharer, &m_searcher})
        for (const QString& event : Answer(*node, "dnet", ""))
            if (!event.startsWith("dnet") && !event.startsWith("search-started") &&
                !event.startsWith("mp3-scanned")) {
                qWarning() << "unexpected event" << event;
                return false;
            }
    return ParentOf(m_searcher) == "sharer";
}

void NodeShareTest::initTestCase()
{
    QVERIFY(WriteFileAt(m_files.filePath("music/playlist.m3u"), "harbour/lighthouse-cbr.mp3\n"));
    QVERIFY(
        WriteFileAt(m_files.filePath("music/harbour/lighthouse-cbr.mp3"), MP3("cbr128_joint.mp3")));
    QVERIFY(WriteFileAt(m_files.filePath("music/harbour/cover.jpg"), QByteArray(1500, '\x7f')));
    QVERIFY(WriteFileAt(m_files.filePath("music/notes/lighthouse keeper.txt"), "keeps the light"));

    QVERIFY(m_server.Start({"--tree"}));
    QVERIFY(m_sharer.StartAndLogIn(m_server.Port(), "sharer"));
    QVERIFY(m_searcher.StartAndLogIn(m_server.Port(), "searcher"));
    QVERIFY(ShareAndScan());
    QVERIFY(FormTree());
}

void NodeShareTest::cleanupTestCase()
{
    QVERIFY(m_sharer.Quit());
    QVERIFY(m_searcher.Quit());
    QVERIFY(m_server.Stop());
}

void NodeShareTest::SearchFindsAndBrowsingListsTheFiles()
{
    m_searcher.Send("search lighthouse");
    const QString token = m_searcher.WaitForPrefix("search-started\t").section('\t', 1, 1);
    QVERIFY(!token.isEmpty());
    const QString prefix = "result\t" + token + "\tsharer\t";
    for (const QString& expected : {Wire("music/harbour") + "\tlighthouse-cbr.mp3\t" +
                                        Size("music/harbour/lighthouse-cbr.mp3") + "\t128 CBR\t",
                                    Wire("music/notes") + "\tlighthouse keeper.txt\t"})
        QVERIFY2(!m_searcher.WaitForPrefix(prefix + expected).isEmpty(), qPrintable(expected));

    // The answer comes as one message: nothing else of it may follow.
    QCOMPARE(Answer(m_searcher, "dnet", "result\t"), QStringList());

    const QString harbour = Wire("music/harbour");
    QCOMPARE(Answer(m_searcher, "ls sharer " + harbour, "error\t"),
             QStringList{"error\tno listing of sharer"});

    m_searcher.Send("browse sharer");
    QVERIFY(m_searcher.WaitFor("share-loaded\tsharer\t3\t4"));
    const QString line = "share-file\tsharer\t" + harbour + "\t";
    QCOMPARE(Answer(m_searcher, "ls sharer " + harbour, "share-file\t"),
             QStringList({line + "cover.jpg\t1500\t", line + "lighthouse-cbr.mp3\t" +
                                                          Size("music/harbour/lighthouse-cbr.mp3") +
                                                          "\t128 CBR"}));
    QCOMPARE(Answer(m_searcher, "ls sharer " + Wire("elsewhere"), "error\t"),
             QStringList("error\tno folder " + Wire("elsewhere") + " in the listing of sharer"));
}

QTEST_GUILESS_MAIN(NodeShareTest)
#include "NodeShareTest.moc"
