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

// The test plays the peer with blocking reads and writes on loopback; the
// thread under test owns the other end.
class TransferThreadsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void UploadServesOnlyOffsetsInsideTheFile_data();
    void UploadServesOnlyOffsetsInsideTheFile();
    void DownloadAppendsFromThePositionAndStopsAtTheSize();
    void FailuresOnEitherSideFailTheTransfer();
    void SignalExitStopsAtAChunkBoundaryOrASleep();

private:
    struct Report
    {
        std::vector<qint64> positions;
        int completes = 0;
        int errors = 0;
        QThread* socketThread = nullptr;
    };

    // A new file holding `content`; it lives until the next one is opened.
    QFile& Open(const QByteArray& content, QIODevice::OpenMode mode = QIODevice::ReadOnly);
    QByteArray ReadExactly(qint64 count);
    // The thread under test on our socket, stopped by cleanup if still running.
    template <class T, class... Args> T& Make(Args&&... args)
    {
        m_thread = std::make_unique<T>(m_ours.get(), std::forward<Args>(args)...);
        return static_cast<T&>(*m_thread);
    }
    // Records what the thread reports, acknowledging progress as the
    // manager does, and starts it on our socket.
    template <class T> void Start(T& thread);
    // Waits for the thread's final report: true when it ended with `errors`
    // failures and no success or the reverse, and handed the socket back.
    bool Ended(QThread& thread, int errors);

    QTemporaryDir m_dir;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<QTcpSocket> m_ours;
    std::unique_ptr<QTcpSocket> m_peer;
    UploadSpeedLimits m_limits;
    Report m_report;
    std::unique_ptr<TransferThread> m_thread;
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
    m_limits.Set(0, 0);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    m_ours = std::make_unique<QTcpSocket>();
    m_ours->connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    m_peer.reset(server.nextPendingConnection());
    m_peer->setParent(nullptr);
    QVERIFY(m_ours->waitForConnected(5000));
}

void TransferThreadsTest::cleanup()
{
    // Hanging up ends any wait for the peer, so a stopped thread ends soon.
    m_peer.reset();
    if (m_thread) {
        m_thread->SignalExit();
        m_thread->wait(5000);
        // Its last reports are queued to us; they must not reach the next test.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        m_thread.reset();
    }
    m_ours.reset();
}

QFile& TransferThreadsTest::Open(const QByteArray& content, QIODevice::OpenMode mode)
{
    static int count = 0;
    m_file = std::make_unique<QFile>(m_dir.filePath(QString("file%1").arg(++count)));
    if (!m_file->open(QIODevice::WriteOnly) || m_file->write(content) != content.size())
        qFatal("cannot write %s", qPrintable(m_file->fileName()));
    m_file->close();
    if (!m_file->open(mode))
        qFatal("cannot open %s", qPrintable(m_file->fileName()));
    return *m_file;
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

template <class T> void TransferThreadsTest::Start(T& thread)
{
    const auto progress = [this, &thread](qint64 position) {
        m_report.positions.push_back(position);
        thread.ProgressHandled();
    };
    const auto finish = [this](int Report::*counter) {
        return [this, counter] {
            ++(m_report.*counter);
            m_report.socketThread = m_ours->thread();
        };
    };
    if constexpr (std::is_same_v<T, DownloadThread>) {
        connect(&thread, &DownloadThread::DownloadProgress, this, progress);
        connect(&thread, &DownloadThread::DownloadComplete, this, finish(&Report::completes));
        connect(&thread, &DownloadThread::DownloadError, this, finish(&Report::errors));
    } else {
        connect(&thread, &UploadThread::UploadProgress, this, progress);
        connect(&thread, &UploadThread::UploadComplete, this, finish(&Report::completes));
        connect(&thread, &UploadThread::UploadError, this, finish(&Report::errors));
    }
    m_ours->moveToThread(&thread);
    thread.start();
}

bool TransferThreadsTest::Ended(QThread& thread, int errors)
{
    const auto finished = [this] { return m_report.completes + m_report.errors > 0; };
    if (!QTest::qWaitFor(finished, 5000) || !thread.wait(5000))
        return false;
    return m_report.errors == errors && m_report.completes == 1 - errors &&
           m_report.socketThread == QThread::currentThread();
}

void TransferThreadsTest::UploadServesOnlyOffsetsInsideTheFile_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<quint64>("offset");
    QTest::newRow("whole file") << 20000 << quint64(0);
    QTest::newRow("last byte") << 20000 << quint64(19999);
    QTest::newRow("at the end") << 20000 << quint64(20000);
    QTest::newRow("negative as signed") << 20000 << ~quint64(0);
    QTest::newRow("empty file") << 0 << quint64(0);
}

void TransferThreadsTest::UploadServesOnlyOffsetsInsideTheFile()
{
    QFETCH(int, length);
    QFETCH(quint64, offset);
    const QByteArray content = Pattern(length);
    auto& thread = Make<UploadThread>(&Open(content), 0xA1B2C3D4u, &m_limits);
    thread.SetWaitMs(2000);
    Start(thread);

    QCOMPARE(ReadExactly(4), QByteArray("\xD4\xC3\xB2\xA1", 4));
    m_peer->write(Offset(offset));
    m_peer->flush();
    if (offset >= quint64(length)) {
        // Refused: not one byte of the file follows the token.
        QVERIFY(Ended(thread, 1));
        QVERIFY(m_report.positions.empty());
        QCOMPARE(m_peer->bytesAvailable(), qint64(0));
        QVERIFY(!m_peer->waitForReadyRead(100));
        return;
    }
    QCOMPARE(ReadExactly(length - offset), content.mid(offset));
    m_peer->close();
    QVERIFY(Ended(thread, 0));
    QVERIFY(m_report.positions.front() > qint64(offset));
}

void TransferThreadsTest::DownloadAppendsFromThePositionAndStopsAtTheSize()
{
    const QByteArray whole = Pattern(21000);
    QFile& file = Open(whole.left(1000), QIODevice::WriteOnly | QIODevice::Append);
    auto& thread = Make<DownloadThread>(&file, 21000, 1000);
    Start(thread);

    // The rest follows the first chunk's report, so the thread holds part
    // of the next chunk when it has to wait for more.
    m_peer->write(whole.mid(1000, Chunk + 4000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_report.positions.empty(), 5000);
    m_peer->write(whole.mid(1000 + Chunk + 4000));
    QVERIFY(Ended(thread, 0));
    QVERIFY(!file.isOpen());
    QCOMPARE(m_report.positions.front(), qint64(1000 + Chunk));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), whole);
    QVERIFY(m_peer->state() == QAbstractSocket::UnconnectedState ||
            m_peer->waitForDisconnected(5000));

    // Already at its size: well inside the default 30-second wait, nothing
    // is waited for or read; a partial file longer than the whole fails.
    for (const qint64 size : {1000, 999}) {
        init();
        QFile& partial = Open(Pattern(1000), QIODevice::WriteOnly | QIODevice::Append);
        auto& again = Make<DownloadThread>(&partial, size, 1000);
        m_peer->write(Pattern(100));
        m_peer->flush();
        Start(again);
        QVERIFY(Ended(again, size < 1000 ? 1 : 0));
        QVERIFY(m_report.positions.empty());
        QCOMPARE(QFileInfo(partial.fileName()).size(), qint64(1000));
    }
}

void TransferThreadsTest::FailuresOnEitherSideFailTheTransfer()
{
    {
        // Part of the file, then silence.
        auto& thread = Make<DownloadThread>(&Open({}, QIODevice::Append), 20000, 0);
        thread.SetWaitMs(200);
        Start(thread);
        m_peer->write(Pattern(5000));
        QVERIFY(m_peer->waitForBytesWritten(5000));
        QVERIFY(Ended(thread, 1));
    }
    {
        // Half an offset, then silence.
        init();
        auto& thread = Make<UploadThread>(&Open(Pattern(20000)), 1, &m_limits);
        thread.SetWaitMs(200);
        Start(thread);
        QCOMPARE(ReadExactly(4).size(), 4);
        m_peer->write(Offset(0).left(3));
        QVERIFY(Ended(thread, 1));
    }
    {
        // A peer hanging up mid-file fails at once, whatever the wait.
        init();
        auto& thread = Make<DownloadThread>(&Open({}, QIODevice::Append), 20000, 0);
        Start(thread);
        m_peer->write(Pattern(10000));
        QVERIFY(m_peer->waitForBytesWritten(5000));
        m_peer->close();
        QVERIFY(Ended(thread, 1));
    }
    for (const int size : {100, 4 * Chunk}) {
        // The whole file arrives but cannot be stored; a file small enough
        // for the write buffer fails only when written out.
        init();
        QFile full("/dev/full");
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Append));
        auto& thread = Make<DownloadThread>(&full, size, 0);
        Start(thread);
        m_peer->write(Pattern(size));
        QVERIFY2(Ended(thread, 1), qPrintable(QString::number(size)));
    }
}

void TransferThreadsTest::SignalExitStopsAtAChunkBoundaryOrASleep()
{
    QFile& file = Open({}, QIODevice::Append);
    const QByteArray content = Pattern(10 * Chunk);
    auto& thread = Make<DownloadThread>(&file, content.size(), 0);
    thread.SetProgressIntervalMs(0);
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
    QVERIFY(Ended(thread, 1));
    const qint64 kept = QFileInfo(file.fileName()).size();
    QVERIFY2(kept == 2 * Chunk || kept == 3 * Chunk, qPrintable(QString::number(kept)));

    // It cuts a throttle's sleep short too; one unit of limit is eight
    // seconds of sleep per chunk.
    init();
    m_limits.Set(1, 1);
    auto& upload = Make<UploadThread>(&Open(Pattern(3 * Chunk)), 1, &m_limits);
    Start(upload);
    QCOMPARE(ReadExactly(4).size(), 4);
    m_peer->write(Offset(0));
    QTRY_VERIFY_WITH_TIMEOUT(!m_report.positions.empty(), 5000);
    QElapsedTimer stopping;
    stopping.start();
    upload.SignalExit();
    QVERIFY(upload.wait(5000));
    QVERIFY(stopping.elapsed() < 4000);
    QVERIFY(Ended(upload, 1));
    QCOMPARE(m_report.positions, std::vector<qint64>{Chunk});
}

QTEST_GUILESS_MAIN(TransferThreadsTest)
#include "TransferThreadsTest.moc"
