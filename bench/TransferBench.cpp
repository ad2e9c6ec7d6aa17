// Times file transfers on loopback: a plain socket and file copy as the
// baseline, the same bytes through an UploadThread and a DownloadThread in
// this process, then between two whole client cores (a node child process
// uploads, this process downloads), a hundred downloads at once, and the
// upload throttle.
// The source files are sparse, so reading them costs no disk; the received
// files are real and removed after each phase. Prints "name value" lines.
//
// Usage: quorvale-bench-transfer [--mib N] [--many N] [--many-mib N]
//                                [--throttle-ms N]
// (defaults 1024, 100, 10 and 3000)

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "BenchSupport.h"
#include "CoreTransfer.h"
#include "LoopWatch.h"
#include "transfers/DownloadThread.h"
#include "transfers/FileConnectionWire.h"
#include "transfers/UploadSpeedLimits.h"
#include "transfers/UploadThread.h"

namespace {

using namespace BenchSupport;

constexpr qint64 MiB = 1024 * 1024;
constexpr int Chunk = 8192;

struct Options
{
    int mib = 1024;
    int many = 100;
    int manyMib = 10;
    int throttleMs = 3000;
};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "quorvale-bench-transfer: %s\n", what);
    std::exit(1);
}

QString MakeSparse(const QDir& dir, const QString& name, qint64 size)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
        Fail("cannot create the source file");
    return path;
}

// Two connected loopback sockets, neither with a parent.
struct SocketPair
{
    std::unique_ptr<QTcpSocket> sender;
    std::unique_ptr<QTcpSocket> receiver;
};

SocketPair Connect(QTcpServer& server)
{
    SocketPair pair;
    pair.sender = std::make_unique<QTcpSocket>();
    pair.sender->connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!server.waitForNewConnection(10000) || !pair.sender->waitForConnected(10000))
        Fail("cannot connect on loopback");
    pair.receiver.reset(server.nextPendingConnection());
    pair.receiver->setParent(nullptr);
    return pair;
}

// The baseline: the same 8192-byte chunks with plain blocking system calls
// on the sockets' descriptors and the files, no toolkit, no throttle, no
// progress.
bool CopyChunks(int from, int to, qint64 size)
{
    char buffer[Chunk];
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::read(from, buffer, std::min<qint64>(Chunk, size - done));
        if (n <= 0)
            return false;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(to, buffer + written, n - written);
            if (w <= 0)
                return false;
            written += w;
        }
        done += n;
    }
    return true;
}

int Blocking(QTcpSocket& socket)
{
    const int fd = static_cast<int>(socket.socketDescriptor());
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

double RawCopy(QTcpServer& server, const QString& source, const QString& target, qint64 size)
{
    SocketPair pair = Connect(server);
    const int out = Blocking(*pair.sender);
    const int in = Blocking(*pair.receiver);
    const int file = ::open(QFile::encodeName(source).constData(), O_RDONLY);
    const int copy =
        ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || copy < 0)
        Fail("cannot open the plain copy's files");
    const Clock::time_point start = Clock::now();
    bool sent = false;
    std::thread sending([&] { sent = CopyChunks(file, out, size); });
    const bool received = CopyChunks(in, copy, size);
    sending.join();
    ::close(copy);
    const double seconds = SecondsSince(start);
    ::close(file);
    if (!sent || !received || QFileInfo(target).size() != size)
        Fail("the plain copy lost bytes");
    QFile::remove(target);
    return seconds;
}

// One transfer as the two transfer managers would run it: the upload
// thread sends the token, the downloading side reads it and answers with
// offset 0 (here on the event loop, as the peer messenger and the manager
// do), then the download thread receives.
class Transfer : public QObject
{
public:
    Transfer(QTcpServer& server, const QString& source, const QString& target, qint64 size,
             UploadSpeedLimits* limits, std::function<void()> finished)
        : m_pair(Connect(server)), m_source(source), m_target(target)
    {
        if (!m_source.open(QIODevice::ReadOnly) ||
            !m_target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Append))
            Fail("cannot open the transfer's files");
        m_upload = std::make_unique<UploadThread>(m_pair.sender.get(), &m_source, 7, limits);
        connect(m_upload.get(), &UploadThread::UploadProgress, this,
                [this] { m_upload->ProgressHandled(); });
        connect(m_upload.get(), &UploadThread::UploadComplete, this, [this, finished] {
            m_uploadOk = true;
            finished();
        });
        connect(m_upload.get(), &UploadThread::UploadError, this, finished);
        m_pair.sender->moveToThread(m_upload.get());
        m_upload->start();

        QTcpSocket* socket = m_pair.receiver.get();
        while (socket->bytesAvailable() < FileConnectionWire::TokenSize)
            if (!socket->waitForReadyRead(10000))
                Fail("no token on the file connection");
        socket->read(FileConnectionWire::TokenSize);
        socket->write(FileConnectionWire::EncodeOffset(0));
        socket->flush();

        m_download = std::make_unique<DownloadThread>(socket, &m_target, size, 0);
        connect(m_download.get(), &DownloadThread::DownloadProgress, this, [this](qint64 position) {
            m_position = position;
            m_download->ProgressHandled();
        });
        connect(m_download.get(), &DownloadThread::DownloadComplete, this, [this, finished] {
            m_downloadOk = true;
            finished();
        });
        connect(m_download.get(), &DownloadThread::DownloadError, this, finished);
        socket->moveToThread(m_download.get());
        m_download->start();
    }

    ~Transfer() override
    {
        // A stopped upload leaves its socket open, as the manager finds it;
        // closing it, as the manager does, ends the download's wait too.
        m_upload->SignalExit();
        m_upload->wait();
        m_pair.sender->close();
        m_download->SignalExit();
        m_download->wait();
        m_target.close();
        QFile::remove(m_target.fileName());
    }

    bool Succeeded() const { return m_uploadOk && m_downloadOk; }
    qint64 Position() const { return m_position; }

private:
    SocketPair m_pair;
    QFile m_source;
    QFile m_target;
    std::unique_ptr<UploadThread> m_upload;
    std::unique_ptr<DownloadThread> m_download;
    qint64 m_position = 0;
    bool m_uploadOk = false;
    bool m_downloadOk = false;
};

void RunEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Outcome
{
    double seconds = 0;
    double cpuSeconds = 0;
    double stallMs = 0;
    double rssMiB = 0;
};

// Runs count transfers of size bytes each to completion.
Outcome RunTransfers(QTcpServer& server, const QDir& dir, const QString& source, qint64 size,
                     int count)
{
    UploadSpeedLimits limits;
    QEventLoop loop;
    int finished = 0;
    const int finalSignals = 2 * count;
    auto done = [&] {
        if (++finished == finalSignals)
            loop.quit();
    };
    LoopWatch watch;
    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    std::vector<std::unique_ptr<Transfer>> transfers;
    for (int n = 0; n < count; ++n)
        transfers.push_back(std::make_unique<Transfer>(
            server, source, dir.filePath(QString("received%1").arg(n)), size, &limits, done));
    watch.Start();
    if (finished < finalSignals)
        loop.exec();
    Outcome outcome;
    outcome.seconds = SecondsSince(start);
    outcome.cpuSeconds = CpuSeconds() - cpuStart;
    watch.Stop();
    outcome.stallMs = watch.MaxGapMs();
    outcome.rssMiB = watch.MaxRssMiB();
    for (const auto& transfer : transfers)
        if (!transfer->Succeeded())
            Fail("a transfer failed");
    return outcome;
}

// Runs count uploads under a total limit shared as the manager shares it
// and returns the received rate in KiB/s, measured after a warm-up.
double ThrottledRate(QTcpServer& server, const QDir& dir, const QString& source, qint64 size,
                     int count, int limit, int ms)
{
    UploadSpeedLimits limits;
    limits.Set(limit, std::max(1, limit / count));
    std::vector<std::unique_ptr<Transfer>> transfers;
    for (int n = 0; n < count; ++n)
        transfers.push_back(std::make_unique<Transfer>(
            server, source, dir.filePath(QString("throttled%1").arg(n)), size, &limits, [] {}));
    auto received = [&] {
        qint64 total = 0;
        for (const auto& transfer : transfers)
            total += transfer->Position();
        return total;
    };
    RunEventLoopFor(500);
    const qint64 before = received();
    const Clock::time_point start = Clock::now();
    RunEventLoopFor(ms);
    const double seconds = SecondsSince(start);
    return double(received() - before) / 1024.0 / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    ParseOptions(argc, argv, "quorvale-bench-transfer",
                 {{"--mib", &options.mib},
                  {"--many", &options.many},
                  {"--many-mib", &options.manyMib},
                  {"--throttle-ms", &options.throttleMs}});
    CoreTransfer core;
    QTemporaryDir temp(QDir::tempPath() + "/quorvale-bench-transfer-XXXXXX");
    QTcpServer server;
    if (!temp.isValid() || !server.listen(QHostAddress::LocalHost))
        Fail("cannot set up");
    const QDir dir(temp.path());
    server.setMaxPendingConnections(std::max(30, options.many));

    // What the machine alone does to a 1 ms timer, to read the stalls
    // below against: on a busy machine the scheduler accounts for some.
    {
        LoopWatch idle;
        idle.Start();
        RunEventLoopFor(1000);
        Print("transfer.idle_loop_stall_ms", idle.MaxGapMs(), 0);
    }

    const qint64 size = qint64(options.mib) * MiB;
    const QString big = MakeSparse(dir, "source", size);
    const double mib = double(size) / MiB;
    // On a shared machine one run can be unlucky; the plain copy and the
    // threads take turns, twice, and each keeps its better run.
    double rawSeconds = 0;
    Outcome one;
    for (int round = 0; round < 2; ++round) {
        const double raw = RawCopy(server, big, dir.filePath("raw"), size);
        rawSeconds = round == 0 ? raw : std::min(rawSeconds, raw);
        const Outcome threaded = RunTransfers(server, dir, big, size, 1);
        if (round == 0 || threaded.seconds < one.seconds)
            one = threaded;
    }
    Print("transfer.raw_mib_s", mib / rawSeconds, 1);
    Print("transfer.threads_mib_s", mib / one.seconds, 1);
    Print("transfer.threads_cpu_s_per_gib", one.cpuSeconds / (mib / 1024.0), 2);
    Print("transfer.threads_loop_stall_ms", one.stallMs, 0);
    QFile::remove(big);

    // The same size between two whole client cores: the node uploads, this
    // process downloads and is the side whose event loop is watched.
    const CoreTransfer::Outcome cores = core.Run(size);
    Print("transfer.mib_s", mib / cores.seconds, 1);
    Print("transfer.cpu_s_per_gib",
          (cores.downloadCpuSeconds + cores.uploadCpuSeconds) / (mib / 1024.0), 2);
    Print("transfer.download_cpu_s_per_gib", cores.downloadCpuSeconds / (mib / 1024.0), 2);
    Print("transfer.upload_cpu_s_per_gib", cores.uploadCpuSeconds / (mib / 1024.0), 2);
    Print("transfer.loop_stall_ms", cores.stallMs, 0);
    Print("transfer.loop_stall_cpu_ms", cores.stallCpuMs, 1);
    Print("transfer.loop_stall_queued_ms", cores.stallQueuedMs, 1);

    const qint64 manySize = qint64(options.manyMib) * MiB;
    const QString small = MakeSparse(dir, "small", manySize);
    const Outcome threadsMany = RunTransfers(server, dir, small, manySize, options.many);
    Print("transfer.threads_many_mib_s",
          double(manySize) * options.many / MiB / threadsMany.seconds, 1);
    Print("transfer.threads_many_loop_stall_ms", threadsMany.stallMs, 0);

    // A hundred downloads into the core at once, from uploaders played on a
    // thread of this process; the resident set includes them, kept small.
    const CoreTransfer::Outcome many = core.RunMany(options.many, manySize);
    Print("transfer.many_mib_s", double(manySize) * options.many / MiB / many.seconds, 1);
    Print("transfer.many_loop_stall_ms", many.stallMs, 0);
    Print("transfer.many_loop_stall_cpu_ms", many.stallCpuMs, 1);
    Print("transfer.many_loop_stall_queued_ms", many.stallQueuedMs, 1);
    Print("transfer.rss_mib", many.rssMiB, 1);

    Print("throttle.one_kib_s",
          ThrottledRate(server, dir, small, manySize, 1, 200, options.throttleMs), 1);
    Print("throttle.three_kib_s",
          ThrottledRate(server, dir, small, manySize, 3, 300, options.throttleMs), 1);
    return 0;
}
