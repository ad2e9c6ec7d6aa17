#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include "../support/Bytes.h"
#include "transfers/DownloadThread.h"
#include "transfers/UploadSpeedLimits.h"
#include "transfers/UploadThread.h"

// The transfer threads over real loopback connections and real files. The
// test plays the peer on the event-loop thread with blocking reads and
// writes; the thread under test owns the other end.
class TransferThreadsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void UploadSendsTokenThenTheFileFromTheOffset_data();
    void UploadSendsTokenThenTheFileFromTheOffset();
    void UploadRefusesAnOffsetItCannotServe_data();
    void UploadRefusesAnOffsetItCannotServe();
    void DownloadAppendsFromThePositionAndClosesAtTheEnd();
    void DownloadAlreadyAtItsSizeSucceedsWithoutReading();
    void FailuresOnEitherSideFailTheTransfer();
    void SignalExitStopsAtAChunkBoundary();
    void SignalExitCutsAThrottleSleepShort();
    void ProgressReportsNeverQueueUp();

private:
    struct Report
    {
        std::vector<qint64> positions;
        int completes = 0;
        int errors = 0;
        QThread* socketThread = nullptr;
        bool Finished() const { return completes + errors > 0; }
    };

    void Connect();
    QString WriteFile(const QByteArray& content);
    QByteArray ReadExactly(qint64 count);
    // Records what the thread reports; the progress slot acknowledges like
    // the manager's unless told not to.
    template <class T, class P, class F>
    void Watch(T& thread, P progress, F complete, F error, bool acknowledge = true);
    void Watch(DownloadThread& thread, bool acknowledge = true)
    {
        Watch(thread, &DownloadThread::DownloadProgress, &DownloadThread::DownloadComplete,
              &DownloadThread::DownloadError, acknowledge);
    }
    void Watch(UploadThread& thread)
    {
        Watch(thread, &UploadThread::UploadProgress, &UploadThread::UploadComplete,
              &UploadThread::UploadError);
    }
    template <class T> void Start(T& thread);

    QTemporaryDir m_dir;
    std::unique_ptr<QTcpSocket> m_ours;
    std::unique_ptr<QTcpSocket> m_peer;
    Report m_report;
};

namespace {

constexpr int Chunk = 8192;

QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

// A u64 offset as the downloader sends it: low word first, little-endian.
QByteArray Offset(quint64 offset)
{
    return ByteBuilder()
        .UInt32(static_cast<std::uint32_t>(offset))
        .UInt32(static_cast<std::uint32_t>(offset >> 32));
}

} // namespace

void TransferThreadsTest::init()
{
    m_report = Report();
    Connect();
}

void TransferThreadsTest::cleanup()
{
    m_peer.reset();
    m_ours.reset();
}

void TransferThreadsTest::Connect()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    m_ours = std::make_unique<QTcpSocket>();
    m_ours->connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    m_peer.reset(server.nextPendingConnection());
    m_peer->setParent(nullptr);
    QVERIFY(m_ours->waitForConnected(5000));
}

QString TransferThreadsTest::WriteFile(const QByteArray& content)
{
    static int count = 0;
    const QString path = m_dir.filePath(QString("file%1").arg(++count));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray TransferThreadsTest::ReadExactly(qint64 count)
{
    QByteArray bytes;
    while (bytes.size() < count) {
        if (m_peer->bytesAvailable() == 0 && !m_peer->waitForReadyRead(5000))
            break;
        bytes += m_peer->read(count - bytes.size());
    }
    return bytes;
}

template <class T, class P, class F>
void TransferThreadsTest::Watch(T& thread, P progress, F complete, F error, bool acknowledge)
{
    connect(&thread, progress, this, [this, &thread, acknowledge](qint64 position) {
        m_report.positions.push_back(position);
        if (acknowledge)
            thread.ProgressHandled();
    });
    auto finish = [this](int Report::*counter) {
        return [this, counter] {
            ++(m_report.*counter);
            m_report.socketThread = m_ours->thread();
        };
    };
    connect(&thread, complete, this, finish(&Report::completes));
    connect(&thread, error, this, finish(&Report::errors));
}

template <class T> void TransferThreadsTest::Start(T& thread)
{
    m_ours->moveToThread(&thread);
    thread.start();
}

void TransferThreadsTest::UploadSendsTokenThenTheFileFromTheOffset_data()
{
    QTest::addColumn<int>("offset");
    QTest::newRow("whole file") << 0;
    QTest::newRow("last byte") << 19999;
}

void TransferThreadsTest::UploadSendsTokenThenTheFileFromTheOffset()
{
    QFETCH(int, offset);
    const QByteArray content = Pattern(20000);
    QFile file(WriteFile(content));
    QVERIFY(file.open(QIODevice::ReadOnly));
    UploadSpeedLimits limits;
    UploadThread thread(m_ours.get(), &file, 0xA1B2C3D4u, &limits);
    Watch(thread);
    Start(thread);

    QCOMPARE(ReadExactly(4), QByteArray("\xD4\xC3\xB2\xA1", 4));
    m_peer->write(Offset(offset));
    QCOMPARE(ReadExactly(content.size() - offset), content.mid(offset));
    m_peer->close();

    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QVERIFY(thread.wait(5000));
    QCOMPARE(m_report.completes, 1);
    QCOMPARE(m_report.errors, 0);
    QCOMPARE(m_report.socketThread, QThread::currentThread());
    QVERIFY(!m_report.positions.empty());
    QVERIFY(std::is_sorted(m_report.positions.begin(), m_report.positions.end()));
    QVERIFY(m_report.positions.front() > offset);
    QVERIFY(m_report.positions.back() <= content.size());
}

void TransferThreadsTest::UploadRefusesAnOffsetItCannotServe_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<quint64>("offset");
    QTest::newRow("at the end") << 20000 << quint64(20000);
    QTest::newRow("negative as signed") << 20000 << ~quint64(0);
    QTest::newRow("empty file") << 0 << quint64(0);
}

void TransferThreadsTest::UploadRefusesAnOffsetItCannotServe()
{
    QFETCH(int, length);
    QFETCH(quint64, offset);
    QFile file(WriteFile(Pattern(length)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    UploadSpeedLimits limits;
    UploadThread thread(m_ours.get(), &file, 7, &limits);
    thread.SetWaitMs(200);
    Watch(thread);
    Start(thread);

    QCOMPARE(ReadExactly(4), QByteArray("\x07\x00\x00\x00", 4));
    m_peer->write(Offset(offset));
    m_peer->flush();
    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QCOMPARE(m_report.errors, 1);
    QCOMPARE(m_report.socketThread, QThread::currentThread());
    QVERIFY(m_report.positions.empty());
    QCOMPARE(m_peer->bytesAvailable(), qint64(0));
    QVERIFY(!m_peer->waitForReadyRead(100));
}

void TransferThreadsTest::DownloadAppendsFromThePositionAndClosesAtTheEnd()
{
    const QByteArray old = Pattern(1000);
    const QByteArray rest = Pattern(21000).mid(1000);
    const QString path = WriteFile(old);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    DownloadThread thread(m_ours.get(), &file, 21000, 1000);
    Watch(thread);
    Start(thread);

    // The bytes arrive in pieces that do not line up with the chunks.
    for (auto [from, to] : {std::pair{0, 5000}, {5000, 13000}, {13000, 20000}}) {
        m_peer->write(rest.mid(from, to - from));
        QVERIFY(m_peer->waitForBytesWritten(5000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QVERIFY(thread.wait(5000));
    QCOMPARE(m_report.completes, 1);
    QCOMPARE(m_report.socketThread, QThread::currentThread());
    QVERIFY(!file.isOpen());
    QCOMPARE(m_report.positions.front(), qint64(1000 + Chunk));
    QVERIFY(m_report.positions.back() <= 21000);

    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), old + rest);
    // Having everything, the downloader hangs up.
    QVERIFY(m_peer->state() == QAbstractSocket::UnconnectedState ||
            m_peer->waitForDisconnected(5000));
}

void TransferThreadsTest::DownloadAlreadyAtItsSizeSucceedsWithoutReading()
{
    const QString path = WriteFile(Pattern(1000));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    DownloadThread thread(m_ours.get(), &file, 1000, 1000);
    Watch(thread);
    m_peer->write(Pattern(100));
    m_peer->flush();
    Start(thread);

    // Well inside the default 30-second wait: nothing is waited for.
    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QCOMPARE(m_report.completes, 1);
    QVERIFY(m_report.positions.empty());
    QCOMPARE(QFileInfo(path).size(), qint64(1000));
}

void TransferThreadsTest::FailuresOnEitherSideFailTheTransfer()
{
    {
        QFile file(m_dir.filePath("partial"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        DownloadThread thread(m_ours.get(), &file, 20000, 0);
        thread.SetWaitMs(200);
        Watch(thread);
        Start(thread);
        m_peer->write(Pattern(5000));
        QVERIFY(m_peer->waitForBytesWritten(5000));
        QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 3000);
        QCOMPARE(m_report.errors, 1);
        QCOMPARE(m_report.socketThread, QThread::currentThread());
        QVERIFY(thread.wait(5000));
    }
    {
        // Half an offset, then silence.
        init();
        QFile file(WriteFile(Pattern(20000)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        UploadSpeedLimits limits;
        UploadThread thread(m_ours.get(), &file, 1, &limits);
        thread.SetWaitMs(200);
        Watch(thread);
        Start(thread);
        QCOMPARE(ReadExactly(4).size(), 4);
        m_peer->write(Offset(0).left(3));
        QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 3000);
        QCOMPARE(m_report.errors, 1);
        QVERIFY(thread.wait(5000));
    }
    {
        // A peer hanging up mid-file fails at once, whatever the wait.
        init();
        QFile file(m_dir.filePath("vanished"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        DownloadThread thread(m_ours.get(), &file, 20000, 0);
        Watch(thread);
        Start(thread);
        m_peer->write(Pattern(10000));
        QVERIFY(m_peer->waitForBytesWritten(5000));
        m_peer->close();
        QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 3000);
        QCOMPARE(m_report.errors, 1);
        QVERIFY(thread.wait(5000));
    }
    {
        // The whole file arrives but cannot be stored.
        init();
        QFile full("/dev/full");
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Append));
        DownloadThread thread(m_ours.get(), &full, 4 * Chunk, 0);
        Watch(thread);
        Start(thread);
        m_peer->write(Pattern(4 * Chunk));
        QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 3000);
        QCOMPARE(m_report.errors, 1);
        QVERIFY(thread.wait(5000));
    }
}

void TransferThreadsTest::SignalExitStopsAtAChunkBoundary()
{
    const QString path = m_dir.filePath("stopped");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    const QByteArray content = Pattern(10 * Chunk);
    DownloadThread thread(m_ours.get(), &file, content.size(), 0);
    thread.SetProgressIntervalMs(0);
    Watch(thread);
    Start(thread);

    for (int chunk = 1; chunk <= 2; ++chunk) {
        m_peer->write(content.mid((chunk - 1) * Chunk, Chunk));
        QVERIFY(m_peer->waitForBytesWritten(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_report.positions.empty() && m_report.positions.back() == chunk * Chunk, 5000);
    }
    m_peer->write(content.mid(2 * Chunk, 100));
    QVERIFY(m_peer->waitForBytesWritten(5000));
    thread.SignalExit();
    m_peer->write(content.mid(2 * Chunk + 100));
    QVERIFY(m_peer->waitForBytesWritten(5000));

    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QCOMPARE(m_report.errors, 1);
    QCOMPARE(m_report.socketThread, QThread::currentThread());
    const qint64 kept = QFileInfo(path).size();
    QVERIFY2(kept == 2 * Chunk || kept == 3 * Chunk, qPrintable(QString::number(kept)));
}

void TransferThreadsTest::SignalExitCutsAThrottleSleepShort()
{
    QFile file(WriteFile(Pattern(3 * Chunk)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    UploadSpeedLimits limits;
    // One unit of limit: eight seconds of sleep per chunk.
    limits.Set(1, 1);
    UploadThread thread(m_ours.get(), &file, 1, &limits);
    Watch(thread);
    Start(thread);
    QCOMPARE(ReadExactly(4).size(), 4);
    m_peer->write(Offset(0));
    QTRY_VERIFY_WITH_TIMEOUT(!m_report.positions.empty(), 5000);
    QElapsedTimer stopping;
    stopping.start();
    thread.SignalExit();
    QVERIFY(thread.wait(5000));
    QVERIFY(stopping.elapsed() < 4000);
    QTRY_COMPARE_WITH_TIMEOUT(m_report.errors, 1, 5000);
    QCOMPARE(m_report.positions, std::vector<qint64>{Chunk});
}

void TransferThreadsTest::ProgressReportsNeverQueueUp()
{
    // Nobody acknowledges the first report, so no other may follow it,
    // however many chunks arrive.
    QFile file(m_dir.filePath("fast"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    const QByteArray content = Pattern(64 * Chunk);
    DownloadThread thread(m_ours.get(), &file, content.size(), 0);
    Watch(thread, false);
    Start(thread);
    m_peer->write(content);
    QTRY_VERIFY_WITH_TIMEOUT(m_report.Finished(), 5000);
    QCOMPARE(m_report.completes, 1);
    QCOMPARE(m_report.positions.size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(TransferThreadsTest)
#include "TransferThreadsTest.moc"
