#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "Bytes.h"
#include "LabServerProcess.h"
#include "LabTestClient.h"
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

QString ToWire(const QString& localPath)
{
    return QString(localPath).replace('/', '\\');
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

QByteArray PeerFrame(const QByteArray& body)
{
    return ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body);
}

// A peer that is not a Quorvale node: it logs in to the server, waits for a
// queue request and then offers the file under whatever path was asked for,
// sending bytes of its own choosing. A well-behaved uploader offers only
// what it shares; this one shows what a downloader does with hostile names.
class ScriptedUploader
{
public:
    bool Start(quint16 serverPort, const QByteArray& user)
    {
        m_user = user;
        if (!m_listener.listen(QHostAddress::LocalHost) || !m_server.Connect(serverPort) ||
            !m_server.LogIn(user))
            return false;
        m_server.Send(ByteBuilder().UInt32(2).UInt32(m_listener.serverPort()).UInt32(1).UInt32(0));
        return true;
    }

    // Connects to the node and answers its search `token` with one file
    // under `path`; the node later queues its download on this connection.
    void SendSearchResult(quint16 nodePort, std::uint32_t token, const QByteArray& path,
                          std::uint32_t size)
    {
        m_messaging = new QTcpSocket(&m_listener);
        m_messaging->connectToHost(QHostAddress::LocalHost, nodePort);
        m_messaging->write(PeerFrame(ByteBuilder().Byte(1).String(m_user).String("P").UInt32(0)));
        const QByteArray result = ByteBuilder()
                                      .String(m_user)
                                      .UInt32(token)
                                      .UInt32(1)
                                      .Byte(1)
                                      .String(path)
                                      .UInt32(size)
                                      .UInt32(0)
                                      .String("txt")
                                      .UInt32(0)
                                      .Byte(1)
                                      .UInt32(0)
                                      .UInt32(0)
                                      .UInt32(0);
        // A zlib stream: qCompress's output without its leading length.
        m_messaging->write(PeerFrame(ByteBuilder().UInt32(9).Raw(qCompress(result, 9).mid(4))));
    }

    // Serves the first queued path with `content` over a file connection
    // to the node listening on `nodePort`; returns the path it was asked for.
    // Every wait runs the event loop, so what the test writes to the nodes
    // and the server keeps flowing meanwhile.
    QByteArray ServeQueuedFile(quint16 nodePort, const QByteArray& content)
    {
        if (!m_messaging) {
            if (!QTest::qWaitFor([&] { return m_listener.hasPendingConnections(); }, Slow))
                return "no messaging connection";
            m_messaging = m_listener.nextPendingConnection();
        }
        QTcpSocket* messaging = m_messaging;
        QByteArray path;
        while (path.isEmpty()) {
            const QByteArray body = ReadFrame(*messaging);
            if (body.isEmpty())
                return "no queue request";
            if (CodeOf(body) == 43)
                path = body.mid(8, UInt32At(body, 4));
        }
        constexpr std::uint32_t Token = 4242;
        messaging->write(PeerFrame(ByteBuilder()
                                       .UInt32(40)
                                       .UInt32(1)
                                       .UInt32(Token)
                                       .String(path)
                                       .UInt32(static_cast<std::uint32_t>(content.size()))
                                       .UInt32(0)));
        for (;;) {
            const QByteArray body = ReadFrame(*messaging);
            if (body.isEmpty())
                return "no transfer response";
            if (CodeOf(body) == 41 && UInt32At(body, 4) == Token && body.at(8) == 1)
                break;
        }
        QTcpSocket file;
        file.connectToHost(QHostAddress::LocalHost, nodePort);
        file.write(PeerFrame(ByteBuilder().Byte(1).String(m_user).String("F").UInt32(0)));
        file.write(ByteBuilder().UInt32(Token));
        if (!QTest::qWaitFor([&] { return file.bytesAvailable() >= 8; }, Slow))
            return "no offset";
        const QByteArray offsetBytes = file.read(8);
        const qint64 offset = static_cast<qint64>(UInt32At(offsetBytes, 0)) |
                              static_cast<qint64>(UInt32At(offsetBytes, 4)) << 32;
        file.write(content.mid(offset));
        // The downloader closes the connection after the last byte.
        if (!QTest::qWaitFor([&] { return file.state() == QAbstractSocket::UnconnectedState; },
                             Slow))
            return "file connection left open";
        return path;
    }

private:
    static QByteArray ReadFrame(QTcpSocket& socket)
    {
        const auto whole = [&] {
            return socket.bytesAvailable() >= 4 &&
                   socket.bytesAvailable() >= 4 + UInt32At(socket.peek(4), 0);
        };
        if (!QTest::qWaitFor(whole, Slow))
            return QByteArray();
        const std::uint32_t length = UInt32At(socket.read(4), 0);
        return socket.read(length);
    }

    QByteArray m_user;
    LabTestClient m_server;
    QTcpServer m_listener;
    QTcpSocket* m_messaging = nullptr;
};

} // namespace

// A lab server and headless nodes as child processes: alice shares, the
// others download from her. Each node has its own home and download folder.
class NodeTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void SearchedFileArrivesWhole();
    void PathsOutsideTheSharesAreDenied();
    void OddAndHostileNamesStayInsideTheDownloadFolder();
    void PrivilegedUserIsServedFirst();
    void KilledUploaderResumesFromThePartialFile();

private:
    bool WriteFile(const QString& relativePath, const QByteArray& content);
    QString Source(const QString& relativePath) const { return m_files.filePath(relativePath); }
    bool StartNode(NodeProcess& node, const QString& user);
    bool Share(const QString& relativeFolder);
    QString DownloadFolder(NodeProcess& node) const { return node.Home() + "/sandbox/downloads"; }
    // Asks `node` for a file of alice's; returns "STATUS:REASON" of the
    // final status it reports.
    QString Download(NodeProcess& node, const QString& folder, const QString& file, qint64 size,
                     int level = 0);

    LabServerProcess m_server;
    QTemporaryDir m_files;
    NodeProcess m_alice, m_bob, m_carol, m_vip;
    quint16 m_bobPort = 0;
};

bool NodeTransferTest::WriteFile(const QString& relativePath, const QByteArray& content)
{
    const QString path = Source(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool NodeTransferTest::StartNode(NodeProcess& node, const QString& user)
{
    if (!node.Start(m_server.Port()) || node.WaitForPrefix("rescanned\t").isEmpty())
        return false;
    node.Send("download-folder " + DownloadFolder(node));
    node.Send("ports 0 0");
    const QString listening = node.WaitForPrefix("listening\t");
    if (listening.isEmpty())
        return false;
    if (user == "bob")
        m_bobPort = listening.section('\t', 1, 1).toUShort();
    node.Send("login " + user + " secret");
    return node.WaitFor("connected");
}

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
    QVERIFY(m_server.Start({"--privileged", "vip"}));
    QVERIFY(StartNode(m_alice, "alice"));
    QVERIFY(StartNode(m_bob, "bob"));
    QVERIFY(StartNode(m_carol, "carol"));
    QVERIFY(StartNode(m_vip, "vip"));
}

void NodeTransferTest::cleanupTestCase()
{
    for (NodeProcess* node : {&m_alice, &m_bob, &m_carol, &m_vip})
        QVERIFY(node->Quit());
    QVERIFY(m_server.Stop());
}

void NodeTransferTest::SearchedFileArrivesWhole()
{
    QVERIFY(WriteFile("music/harbour/lighthouse song.bin", RandomBytes(300000, 1)));
    QVERIFY(Share("music"));

    m_bob.Send("search lighthouse");
    const QString result = m_bob.WaitForPrefix("result\t", Slow);
    const QStringList fields = result.split('\t');
    QVERIFY2(fields.size() >= 6, qPrintable(result));
    QCOMPARE(fields[2], "alice");
    QCOMPARE(fields[3], ToWire(Source("music/harbour")));
    QCOMPARE(fields[4], "lighthouse song.bin");
    QCOMPARE(fields[5], "300000");

    QCOMPARE(Download(m_bob, fields[3], fields[4], 300000), "complete:");
    const QString progress =
        m_bob.WaitForPrefix("download-progress\talice\t" + fields[3] + '\t' + fields[4] + '\t', 0);
    QVERIFY2(!progress.isEmpty(), qPrintable(m_bob.Pending().join('\n')));
    QVERIFY(PositionOf(progress) > 0);
    // The last component of the remote folder is recreated below "complete".
    const QString landed = DownloadFolder(m_bob) + "/complete/harbour/lighthouse song.bin";
    QCOMPARE(Sha256Of(landed), Sha256Of(Source("music/harbour/lighthouse song.bin")));
    QVERIFY(!QFileInfo::exists(DownloadFolder(m_bob) + "/downloading/harbour/lighthouse song.bin"));
    QVERIFY(!m_alice.WaitForPrefix("upload\tcomplete\tbob\t").isEmpty());
}

void NodeTransferTest::PathsOutsideTheSharesAreDenied()
{
    QVERIFY(WriteFile("secret.txt", "not for sharing"));
    const QString music = ToWire(Source("music"));
    const QList<QStringList> requests{
        {music + "\\..", "secret.txt"},
        {music + "\\harbour\\..\\..", "secret.txt"},
        {music + "\\\\..\\\\", "secret.txt"},
        {music + "\\..\\..\\..\\..\\..\\..\\..\\..\\etc", "passwd"},
        {"\\etc", "passwd"},
        {"/etc", "passwd"},
        {"C:\\Windows", "win.ini"},
    };
    for (const QStringList& request : requests)
        QCOMPARE(Download(m_bob, request[0], request[1], 15), "denied:File not shared.");
    QCOMPARE(FilesOutside(DownloadFolder(m_bob) + "/complete",
                          DownloadFolder(m_bob) + "/complete/harbour"),
             QStringList());
}

void NodeTransferTest::OddAndHostileNamesStayInsideTheDownloadFolder()
{
    // Names that are legal here but must not be taken as they stand: an
    // escape look-alike, a control byte, leading dots.
    // (Hidden names are not shared, so leading dots come from the scripted
    // peer below.)
    const QString odd = QString("odd/odd%41") + QChar(1) + "ctl .";
    QVERIFY(WriteFile(odd + "/dots..bin", "odd but legal"));
    QVERIFY(WriteFile("odd/%zz plain/100%.bin", "percent"));
    QVERIFY(Share("odd"));
    QCOMPARE(Download(m_bob, ToWire(Source(odd)), "dots..bin", 13), "complete:");
    QCOMPARE(Download(m_bob, ToWire(Source("odd/%zz plain")), "100%.bin", 7), "complete:");
    const QString complete = DownloadFolder(m_bob) + "/complete/";
    QCOMPARE(Sha256Of(complete + "odd%2541%01ctl ./dots..bin"),
             Sha256Of(Source(odd + "/dots..bin")));
    QCOMPARE(Sha256Of(complete + "%zz plain/100%.bin"), Sha256Of(Source("odd/%zz plain/100%.bin")));

    // A peer that offers a file in "..\..\x" as a search result and then
    // serves it. The result is taken as offered: it is what the user sees.
    ScriptedUploader mallory;
    QVERIFY(mallory.Start(m_server.Port(), "mallory"));
    m_bob.Send("search evil");
    const QString started = m_bob.WaitForPrefix("search-started\t");
    mallory.SendSearchResult(m_bobPort, started.section('\t', 1, 1).toUInt(), "..\\..\\x\\evil.txt",
                             5);
    const QString result = m_bob.WaitForPrefix("result\t" + started.section('\t', 1, 1), Slow);
    QCOMPARE(result.section('\t', 2, 5), "mallory\t..\\..\\x\tevil.txt\t5");
    m_bob.Send("download " + result.section('\t', 2, 5) + "\t2");
    QCOMPARE(mallory.ServeQueuedFile(m_bobPort, "evil!"), "..\\..\\x\\evil.txt");
    QVERIFY(
        !m_bob.WaitForPrefix("download\tcomplete\tmallory\t..\\..\\x\tevil.txt", Slow).isEmpty());
    QCOMPARE(Sha256Of(complete + "%2E%2E/%2E%2E/x/evil.txt"),
             QCryptographicHash::hash("evil!", QCryptographicHash::Sha256).toHex());
    const QString sandbox = m_bob.Home() + "/sandbox";
    QCOMPARE(FilesOutside(sandbox, DownloadFolder(m_bob)), QStringList());
}

void NodeTransferTest::PrivilegedUserIsServedFirst()
{
    QVERIFY(WriteFile("queue/first.bin", RandomBytes(600000, 2)));
    QVERIFY(WriteFile("queue/ordinary.bin", RandomBytes(20000, 3)));
    QVERIFY(WriteFile("queue/privileged.bin", RandomBytes(20000, 4)));
    QVERIFY(Share("queue"));
    const QString queue = ToWire(Source("queue"));
    m_alice.Send("slots 1");
    // About 100 kB a second: the first upload holds the only slot for
    // seconds while the others queue behind it.
    m_alice.Send("upload-limit 100 on");

    m_bob.Send("download alice\t" + queue + "\tfirst.bin\t600000");
    QVERIFY(!m_alice.WaitForPrefix("upload\tuploading\tbob\t" + queue, Slow).isEmpty());
    m_carol.Send("download alice\t" + queue + "\tordinary.bin\t20000");
    QVERIFY(!m_alice.WaitForPrefix("upload\tqueued\tcarol\t" + queue, Slow).isEmpty());
    m_vip.Send("download alice\t" + queue + "\tprivileged.bin\t20000");
    QVERIFY(!m_alice.WaitForPrefix("upload\tqueued\tvip\t" + queue, Slow).isEmpty());

    QVERIFY(!m_vip.WaitForPrefix("download\tcomplete\talice\t" + queue, Slow).isEmpty());
    QVERIFY(!m_carol.WaitForPrefix("download\tcomplete\talice\t" + queue, Slow).isEmpty());
    // Alice's own account of the order in which the two waiting uploads began.
    QStringList started;
    for (const QString& event : m_alice.Pending())
        if (event.startsWith("upload\trequesting\t") && event.contains(queue))
            started << event.section('\t', 2, 2);
    QCOMPARE(started, QStringList({"bob", "vip", "carol"}));
    QVERIFY(!m_bob.WaitForPrefix("download\tcomplete\talice\t" + queue, Slow).isEmpty());
    QCOMPARE(Sha256Of(DownloadFolder(m_carol) + "/complete/queue/ordinary.bin"),
             Sha256Of(Source("queue/ordinary.bin")));
    m_alice.Send("upload-limit 100 off");
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
    QCOMPARE(Sha256Of(DownloadFolder(m_bob) + "/complete/long/tide.bin"),
             Sha256Of(Source("long/tide.bin")));
    QVERIFY(!QFileInfo::exists(partial));
}

QTEST_GUILESS_MAIN(NodeTransferTest)
#include "NodeTransferTest.moc"
