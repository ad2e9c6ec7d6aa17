#include "CoreTransfer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "BenchSupport.h"
#include "LabServerProcess.h"
#include "LoopWatch.h"
#include "NodeProcess.h"
#include "ScriptedUploaders.h"
#include "app/StartUp.h"
#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

namespace {

using namespace BenchSupport;

constexpr int Slow = 60000;
const char* const Uploader = "uploader";
const char* const FileName = "one gibibyte.bin";

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "quorvale-bench-transfer: %s\n", qPrintable(what));
    std::exit(1);
}

// User plus system CPU seconds of another process, from /proc.
double ProcessCpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name, which may itself hold spaces.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    // utime and stime are the 14th and 15th fields counting the pid.
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

bool StartUploader(NodeProcess& node, quint16 serverPort, const QString& shared)
{
    if (!node.Start(serverPort) || node.WaitForPrefix("rescanned\t", Slow).isEmpty())
        return false;
    node.Send("ports 0 0");
    if (node.WaitForPrefix("listening\t").isEmpty())
        return false;
    node.Send(QString("login %1 secret").arg(Uploader));
    if (!node.WaitFor("connected"))
        return false;
    node.Send("share " + shared + " public");
    node.Send("rescan");
    return node.WaitFor("shared\t" + shared + "\tpublic") &&
           !node.WaitForPrefix("rescanned\t", Slow).isEmpty();
}

} // namespace

CoreTransfer::CoreTransfer()
    : m_home(QDir::tempPath() + "/quorvale-bench-home-XXXXXX"), m_startUp(&m_host)
{}

// The lab server and this process's own core: a fresh home, a free
// listening port, logged in as "downloader". Done once.
void CoreTransfer::StartOwnCore()
{
    if (m_server.Port() != 0)
        return;
    if (!m_home.isValid() || !m_server.Start())
        Fail("the lab server did not start");
    const QString home = m_home.path();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("QUORVALE_SERVER", QString("127.0.0.1:%1").arg(m_server.Port()).toUtf8());
    m_startUp.Init();
    Settings::Set("download_folder", (home + "/downloads").toStdString());
    Settings::Set("listening_port", 0);
    Settings::Set("obfuscated_listening_port", 0);
    if (!peerMessenger->Listen())
        Fail("the downloading core cannot listen");
    Settings::Set("username", "downloader");
    Settings::Set("password", "secret");
    gp_server->Connect();
    if (!QTest::qWaitFor([] { return gp_server->IsConnected(); }, Slow))
        Fail("the downloading core did not log in");
}

CoreTransfer::Outcome CoreTransfer::Follow(const std::vector<ItemPtr>& downloads,
                                           const std::function<double()>& otherCpu)
{
    const std::set<Item*> ours(downloads.begin(), downloads.end());
    std::set<Item*> started;
    std::size_t ended = 0;
    Outcome outcome;
    LoopWatch watch;
    Clock::time_point start;
    double ownCpu = 0, loopCpu = 0, otherCpuAtStart = 0;
    const auto onStatus = [&](ItemPtr entry) {
        if (!ours.count(entry))
            return;
        const std::string status = entry[TransferTypes::DownloadEntryStatus].AsString();
        if (status == TransferTypes::Download::Queued)
            return;
        if (status == TransferTypes::Download::Downloading) {
            if (started.empty()) {
                start = Clock::now();
                ownCpu = CpuSeconds();
                loopCpu = ThreadCpuSeconds();
                otherCpuAtStart = otherCpu();
                watch.Start();
            }
            started.insert(entry);
            return;
        }
        if (status != TransferTypes::Download::Complete)
            Fail("a download ended " + QString::fromStdString(status));
        if (++ended < downloads.size())
            return;
        watch.Stop();
        outcome.seconds = SecondsSince(start);
        outcome.downloadCpuSeconds = CpuSeconds() - ownCpu;
        outcome.loopCpuSeconds = ThreadCpuSeconds() - loopCpu;
        outcome.uploadCpuSeconds = otherCpu() - otherCpuAtStart;
        outcome.stallMs = watch.MaxGapMs();
        outcome.stallCpuMs = watch.MaxGapCpuMs();
        outcome.stallQueuedMs = watch.MaxGapQueuedMs();
        outcome.rssMiB = watch.MaxRssMiB();
    };
    const QMetaObject::Connection connection = QObject::connect(
        transferQueueManager, &TransferQueueManager::DownloadStatusChanged, onStatus);
    // A plain event loop: waiting with QTest's helpers would sleep between
    // its checks, and those sleeps would count as stalls.
    QEventLoop loop;
    const QMetaObject::Connection quitWhenDone = QObject::connect(
        transferQueueManager, &TransferQueueManager::DownloadStatusChanged, &loop, [&] {
            if (ended == downloads.size())
                loop.quit();
        });
    QTimer::singleShot(10 * Slow, &loop, &QEventLoop::quit);
    loop.exec();
    const bool done = ended == downloads.size();
    QObject::disconnect(connection);
    QObject::disconnect(quitWhenDone);
    if (!done)
        Fail(QString("%1 of %2 downloads did not end")
                 .arg(downloads.size() - ended)
                 .arg(downloads.size()));
    return outcome;
}

// Checks that every file arrived whole, then forgets the downloads and
// removes the files.
void CoreTransfer::RemoveCompleted(const std::vector<ItemPtr>& downloads, qint64 size)
{
    for (const ItemPtr& download : downloads) {
        const QString landed = TransferQueueManager::FileSystemPath(
            transferQueueManager->GetDownloadTargetPath(download, true));
        if (QFileInfo(landed).size() != size)
            Fail("a download arrived short: " + landed);
        transferQueueManager->RemoveDownload(download);
        QFile::remove(landed);
    }
}

CoreTransfer::Outcome CoreTransfer::Run(qint64 size)
{
    QTemporaryDir files(QDir::tempPath() + "/quorvale-bench-core-XXXXXX");
    const QString shared = files.filePath("shared");
    // Sparse: the uploader's reads cost no disk, the received file is real.
    QFile source(shared + '/' + FileName);
    if (!files.isValid() || !QDir().mkpath(shared) || !source.open(QIODevice::WriteOnly) ||
        !source.resize(size))
        Fail("cannot create the shared file");
    source.close();

    StartOwnCore();
    NodeProcess node;
    if (!StartUploader(node, m_server.Port(), shared))
        Fail("the uploading node did not start");

    // Added after the connection is made: the status signals come later.
    std::vector<ItemPtr> downloads{transferQueueManager->AddDownload(
        Uploader, FileName, QString(shared).replace('/', '\\').toStdString(), size, 0)};
    const qint64 pid = node.ProcessId();
    const Outcome outcome = Follow(downloads, [pid] { return ProcessCpuSeconds(pid); });
    RemoveCompleted(downloads, size);
    if (!node.Quit())
        Fail("the node did not quit cleanly");
    return outcome;
}

CoreTransfer::Outcome CoreTransfer::RunMany(int count, qint64 size)
{
    StartOwnCore();
    const auto clientPort = static_cast<quint16>(Settings::GetInt("listening_port", 0));
    const int batch = m_batches++;
    ScriptedUploaders uploaders(batch, count, size, m_server.Port(), clientPort);
    uploaders.start();
    if (!QTest::qWaitFor([&] { return bool(uploaders.ready); }, Slow) || uploaders.failed)
        Fail("the uploaders did not log in");
    std::vector<ItemPtr> downloads;
    for (int n = 0; n < count; ++n)
        downloads.push_back(transferQueueManager->AddDownload(
            ScriptedUploaders::UserName(batch, n).toStdString(),
            QString("file%1.bin").arg(n).toStdString(), "shared", size, 0));
    const Outcome outcome = Follow(downloads, [] { return 0.0; });
    if (uploaders.failed || uploaders.sent != count)
        Fail("an uploader was refused");
    RemoveCompleted(downloads, size);
    return outcome;
}
