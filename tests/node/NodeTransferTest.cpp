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

// The position of a "download-progress" or "upload-progress" event.
qint64 PositionOf(const QString& progress)
{
    const QStringList fields = progress.split('\t');
    return fields.size() >= 3 ? fields[fields.size() - 3].toLongLong() : -1;
}

} // namespace

// Alice shares, bob downloads from her; each node has its own home.
class NodeTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void KilledUploaderResumesFromThePartialFile();

private:
    QString Source(const QString& relativePath) const { return m_files.filePath(relativePath); }
    bool StartNode(NodeProcess& node, const QString& user)
    {
        return node.StartAndLogIn(m_server.Port(), user, DownloadFolder(node));
    }
    QString DownloadFolder(NodeProcess& node) const { return node.Home() + "/sandbox/downloads"; }

    LabServerProcess m_server;
    QTemporaryDir m_files;
    NodeProcess m_alice, m_bob;
};

void NodeTransferTest::KilledUploaderResumesFromThePartialFile()
{
    constexpr qint64 Size = 700000;
    QVERIFY(m_server.Start());
    QVERIFY(StartNode(m_alice, "alice"));
    QVERIFY(StartNode(m_bob, "bob"));
    QVERIFY(WriteFileAt(Source("long/tide.bin"), RandomBytes(Size, 5)));
    for (const char* name : {"long/a.bin", "long/b.bin"})
        QVERIFY(WriteFileAt(Source(name), RandomBytes(1000, 6)));
    m_alice.Send("share " + Source("long") + " public");
    m_alice.Send("rescan");
    QVERIFY(m_alice.WaitFor("shared\t" + Source("long") + "\tpublic"));
    QVERIFY(!m_alice.WaitForPrefix("rescanned\t", Slow).isEmpty());
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
    QVERIFY2(PositionOf(uploaded) >= partialSize && PositionOf(uploaded) < Size,
             qPrintable(uploaded));
    m_alice.Send("upload-limit 60 off");
    QVERIFY(!m_bob.WaitForPrefix("download\tcomplete\talice\t" + folder, Slow).isEmpty());
    QVERIFY(!m_alice.WaitForPrefix("upload\tcomplete\tbob\t", Slow).isEmpty());
    // The last component of the remote folder is recreated below "complete".
    QFile complete(DownloadFolder(m_bob) + "/complete/long/tide.bin");
    QVERIFY(complete.open(QIODevice::ReadOnly));
    QVERIFY(complete.readAll() == RandomBytes(Size, 5));
    QVERIFY(!QFileInfo::exists(partial));

    // One upload per user at a time: the second file starts when the first completes,
    // not on some later event.
    for (const char* name : {"a.bin", "b.bin"})
        m_bob.Send("download alice\t" + folder + "\t" + name + "\t1000");
    for (const char* name : {"a.bin", "b.bin"})
        QVERIFY(!m_bob.WaitForPrefix("download\tcomplete\talice\t" + folder + "\t" + name, 10000)
                     .isEmpty());
    QVERIFY(m_alice.Quit());
    QVERIFY(m_bob.Quit());
    QVERIFY(m_server.Stop());
}

QTEST_GUILESS_MAIN(NodeTransferTest)
#include "NodeTransferTest.moc"
