#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "LabServerProcess.h"
#include "NodeProcess.h"

namespace {

constexpr int Slow = 60000;

QByteArray RandomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random.generate() & 0xff);
    return bytes;
}

QByteArray Sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "missing " + path.toUtf8();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// Every file below `root` whose path does not start with `allowed`.
QStringList FilesOutside(const QString& root, const QString& allowed)
{
    QStringList outside;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.startsWith(allowed + '/'))
            outside << path;
    }
    return outside;
}

// The position of a "download-progress" or "upload-progress" event.
qint64 PositionOf(const QString& progress)
{
    const QStringList fields = progress.split('\t');
    return fields.size() >= 3 ? fields[fields.size() - 3].toLongLong() : -1;
}

} // namespace

// A lab server and headless nodes as child processes: alice shares, bob
// downloads from her. Each node has its own home and download folder.
class NodeTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void KilledUploaderResumesFromThePartialFile();
    void PathsOutsideTheSharesAreDenied();

private:
    bool WriteFile(const QString& relativePath, const QByteArray& content)
    {
        return WriteFileAt(Source(relativePath), content);
    }
    QString Source(const QString& relativePath) const { return m_files.filePath(relativePath); }
    bool StartNode(NodeProcess& node, const QString& user)
    {
        return node.StartAndLogIn(m_server.Port(), user, DownloadFolder(node));
    }
    bool Share(const QString& relativeFolder);
    QString DownloadFolder(NodeProcess& node) const { return node.Home() + "/sandbox/downloads"; }
    // Asks `node` for a file of alice's; returns "STATUS:REASON" of the
    // final status it reports.
    QString Download(NodeProcess& node, const QString& folder, const QString& file, qint64 size,
                     int level = 0);

    LabServerProcess m_server;
    QTemporaryDir m_files;
    NodeProcess m_alice, m_bob;
};

bool NodeTransferTest::Share(const QString& relativeFolder)
{
    m_alice.Send("share " + Source(relativeFolder) + " public");
    m_alice.Send("rescan");
    return m_alice.WaitFor("shared\t" + Source(relativeFolder) + "\tpublic") &&
           !m_alice.WaitForPrefix("rescanned\t", Slow).isEmpty();
}

QString NodeTransferTest::Download(NodeProcess& node, const QString& folder, const QString& file,
                                   qint64 size, int level)
{
    const QStringList fields{"alice", folder, file, QString::number(size), QString::number(level)};
    node.Send("download " + fields.join('\t'));
    const QString key = "\talice\t" + folder + '\t' + file + '\t';
    QString last;
    const bool ended = QTest::qWaitFor(
        [&] {
            for (const QString& event : node.Pending())
                for (const char* status : {"complete", "denied", "local error"})
                    if (event.startsWith(QString("download\t") + status + key)) {
                        last = event;
                        return true;
                    }
            return false;
        },
        Slow);
    if (!ended)
        return "no final status";
    node.WaitFor(last, 0);
    return last.section('\t', 1, 1) + ':' + last.section('\t', 5);
}

void NodeTransferTest::initTestCase()
{
    QVERIFY(m_server.Start());
    QVERIFY(StartNode(m_alice, "alice"));
    QVERIFY(StartNode(m_bob, "bob"));
}

void NodeTransferTest::cleanupTestCase()
{
    for (NodeProcess* node : {&m_alice, &m_bob})
        QVERIFY(node->Quit());
    QVERIFY(m_server.Stop());
}

void NodeTransferTest::KilledUploaderResumesFromThePartialFile()
{
    constexpr qint64 Size = 700000;
    QVERIFY(WriteFile("long/tide.bin", RandomBytes(Size, 5)));
    QVERIFY(Share("long"));
    m_alice.Send("upload-limit 60 on");
    // The restarted node finds its shares and limit in the snapshot.
    m_alice.Send("save");
    QVERIFY(m_alice.WaitFor("saved"));
    const QString folder = ToWire(Source("long"));
    m_bob.Send("download alice\t" + folder + "\ttide.bin\t" + QString::number(Size));

    const QString prefix = "download-progress\talice\t" + folder + "\ttide.bin\t";
    qint64 position = 0;
    while (position < Size / 4) {
        const QString progress = m_bob.WaitForPrefix(prefix, Slow);
        QVERIFY2(!progress.isEmpty(), qPrintable(m_bob.Pending().join('\n')));
        position = PositionOf(progress);
    }
    QVERIFY(m_alice.Kill());
    QVERIFY(!m_bob.WaitForPrefix("download\taborted\talice\t" + folder, Slow).isEmpty());
    const QString partial = DownloadFolder(m_bob) + "/downloading/long/tide.bin";
    const qint64 partialSize = QFileInfo(partial).size();
    QVERIFY2(partialSize >= position && partialSize < Size,
             qPrintable(QString::number(partialSize)));

    // Back online, alice is asked again and sends only the rest.
    QVERIFY(StartNode(m_alice, "alice"));
    const QString uploaded = m_alice.WaitForPrefix("upload-progress\tbob\t", Slow);
    QVERIFY2(PositionOf(uploaded) >= partialSize, qPrintable(uploaded));
    m_alice.Send("upload-limit 60 off");
    QVERIFY(!m_bob.WaitForPrefix("download\tcomplete\talice\t" + folder, Slow).isEmpty());
    QVERIFY(!m_alice.WaitForPrefix("upload\tcomplete\tbob\t", Slow).isEmpty());
    // The last component of the remote folder is recreated below "complete".
    QCOMPARE(Sha256Of(DownloadFolder(m_bob) + "/complete/long/tide.bin"),
             Sha256Of(Source("long/tide.bin")));
    QVERIFY(!QFileInfo::exists(partial));
}

void NodeTransferTest::PathsOutsideTheSharesAreDenied()
{
    QVERIFY(WriteFile("secret.txt", "not for sharing"));
    const QList<QStringList> requests{
        {ToWire(Source("long")) + "\\..", "secret.txt"},
        {"/etc", "passwd"},
    };
    for (const QStringList& request : requests)
        QCOMPARE(Download(m_bob, request[0], request[1], 15), "denied:File not shared.");
    QCOMPARE(
        FilesOutside(DownloadFolder(m_bob) + "/complete", DownloadFolder(m_bob) + "/complete/long"),
        QStringList());
}

QTEST_GUILESS_MAIN(NodeTransferTest)
#include "NodeTransferTest.moc"
