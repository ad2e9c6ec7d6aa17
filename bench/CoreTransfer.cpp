#include "CoreTransfer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "BenchSupport.h"
#include "LabServerProcess.h"
#include "LoopWatch.h"
#include "NodeProcess.h"
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

// This process's own core: a fresh home, a free listening port, logged in
// to the lab server as "downloader".
void CoreTransfer::StartOwnCore(quint16 serverPort)
{
    const QString home = m_home.path();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("QUORVALE_SERVER", QString("127.0.0.1:%1").arg(serverPort).toUtf8());
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

CoreTransfer::Outcome CoreTransfer::Run(qint64 size)
{
    QTemporaryDir files(QDir::tempPath() + "/quorvale-bench-core-XXXXXX");
    const QString shared = files.filePath("shared");
    // Sparse: the uploader's reads cost no disk, the received file is real.
    QFile source(shared + '/' + FileName);
    if (!files.isValid() || !m_home.isValid() || !QDir().mkpath(shared) ||
        !source.open(QIODevice::WriteOnly) || !source.resize(size))
        Fail("cannot create the shared file");
    source.close();

    LabServerProcess server;
    NodeProcess node;
    if (!server.Start())
        Fail("the lab server did not start");
    if (!StartUploader(node, server.Port(), shared))
        Fail("the uploading node did not start");

    StartOwnCore(server.Port());

    Outcome outcome;
    LoopWatch watch;
    Clock::time_point start;
    double ownCpu = 0, nodeCpu = 0;
    bool ended = false;
    ItemPtr download;
    const auto onStatus = [&](ItemPtr entry) {
        if (entry != download)
            return;
        const std::string status = entry[TransferTypes::DownloadEntryStatus].AsString();
        if (status == TransferTypes::Download::Downloading) {
            start = Clock::now();
            ownCpu = CpuSeconds();
            nodeCpu = ProcessCpuSeconds(node.ProcessId());
            watch.Start();
        } else if (status != TransferTypes::Download::Queued) {
            watch.Stop();
            outcome.seconds = SecondsSince(start);
            outcome.downloadCpuSeconds = CpuSeconds() - ownCpu;
            outcome.uploadCpuSeconds = ProcessCpuSeconds(node.ProcessId()) - nodeCpu;
            outcome.stallMs = watch.MaxGapMs();
            outcome.stallCpuMs = watch.MaxGapCpuMs();
            outcome.stallQueuedMs = watch.MaxGapQueuedMs();
            ended = true;
            if (status != TransferTypes::Download::Complete)
                Fail("the download ended " + QString::fromStdString(status));
        }
    };
    const QMetaObject::Connection statusConnection = QObject::connect(
        transferQueueManager, &TransferQueueManager::DownloadStatusChanged, onStatus);
    download = transferQueueManager->AddDownload(
        Uploader, FileName, QString(shared).replace('/', '\\').toStdString(), size, 0);
    if (!QTest::qWaitFor([&] { return ended; }, 10 * Slow))
        Fail("the download did not end");
    QObject::disconnect(statusConnection);

    const QString landed = TransferQueueManager::FileSystemPath(
        transferQueueManager->GetDownloadTargetPath(download, true));
    if (QFileInfo(landed).size() != size)
        Fail("the download arrived short: " + landed);
    transferQueueManager->RemoveDownload(download);
    QFile::remove(landed);
    if (!node.Quit() || !server.Stop())
        Fail("the node or the lab server did not quit cleanly");
    return outcome;
}
