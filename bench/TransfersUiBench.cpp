// Times the transfers page under a flood of progress reports: 200 running
// downloads whose reports arrive as fast as the event loop takes them, once
// with nobody listening and once with the page showing them. Prints how
// many reports the loop handles per second either way and the longest
// stall of the loop while the page redraws (on the wall clock, and in the
// processor time of the loop's own thread, which other programs on a busy
// machine do not inflate); from those, the share of the loop the page takes
// at the pace real transfers report. Every report moves its download on, so
// each refresh has new figures to draw. Then, in a child process of its own
// (the real core starts once per process), the same number of real
// downloads over loopback, in turns without and with the page showing
// them, for the throughput the page costs. Runs offscreen.
//
// Usage: quorvale-bench-transfers-ui [--downloads N] [--seconds N] [--real-mib N]
// (defaults 200, 3 and 4: each real download's size in MiB)

#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "BenchSupport.h"
#include "CoreTransfer.h"
#include "LoopWatch.h"
#include "WindowBench.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/TransfersForm.h"

namespace {

using namespace BenchSupport;

constexpr qint64 FileSize = 10000000;
constexpr qint64 BytesPerReport = 1000;
// Set in the child that runs the real downloads.
const char* const RealChild = "QUORVALE_BENCH_TRANSFERS_REAL";

struct Result
{
    double reportsPerSecond = 0;
    double maxStallMs = 0;
    double maxStallCpuMs = 0;
};

// What the download threads would report: a position and a speed per
// running download, held where the transfer manager looks for them.
struct Progress
{
    std::vector<qint64> positions;
    std::vector<qint64> speeds;

    void Attach(const std::vector<ItemPtr>& downloads)
    {
        positions.assign(downloads.size(), 0);
        speeds.assign(downloads.size(), 0);
        for (std::size_t n = 0; n < downloads.size(); ++n) {
            downloads[n].Connect(
                d.GetType(TransferTypes::WritePosition)->GetItem(ObjectValue(&positions[n])));
            downloads[n].Connect(
                d.GetType(TransferTypes::BytesPerSecond)->GetItem(ObjectValue(&speeds[n])));
        }
    }

    void Advance(std::size_t n)
    {
        positions[n] = (positions[n] + BytesPerReport) % FileSize;
        speeds[n] = 50000 + static_cast<qint64>(n) * 100 + positions[n] % 7000;
    }
};

// Emits one report per download per round, a round per turn of the loop,
// for the given time (long enough for the page to redraw many times),
// while the loop is watched.
Result Flood(const std::vector<ItemPtr>& downloads, Progress& progress, int seconds)
{
    QEventLoop loop;
    LoopWatch watch;
    qint64 rounds = 0;
    QElapsedTimer elapsed;
    QTimer producer;
    producer.setInterval(0);
    QObject::connect(&producer, &QTimer::timeout, [&] {
        for (std::size_t n = 0; n < downloads.size(); ++n) {
            progress.Advance(n);
            emit transferQueueManager->DownloadProgressed(downloads[n]);
        }
        ++rounds;
        if (elapsed.elapsed() >= seconds * 1000)
            loop.quit();
    });
    elapsed.start();
    watch.Start();
    producer.start();
    loop.exec();
    watch.Stop();
    Result result;
    result.reportsPerSecond = static_cast<double>(downloads.size()) * rounds /
                              (static_cast<double>(elapsed.nsecsElapsed()) / 1e9);
    result.maxStallMs = watch.MaxGapMs();
    result.maxStallCpuMs = watch.MaxGapCpuMs();
    return result;
}

TransfersForm* ShowForm()
{
    auto* form = new TransfersForm;
    form->resize(1000, 700);
    form->show();
    form->Init();
    return form;
}

// Real downloads from played uploaders into a whole core, taking turns
// without and with the page showing every row; on a shared machine one
// round can be unlucky, so each way keeps its best of three. The processor
// time of the event loop's thread, where the page runs, is steadier than
// the wall clock on a busy machine and shows the page's own cost.
int RunReal(int count, int mib)
{
    const qint64 size = qint64(mib) * 1024 * 1024;
    const double total = double(size) * count / (1024.0 * 1024.0);
    CoreTransfer core;
    CoreTransfer::Outcome bare, shown;
    for (int round = 0; round < 3; ++round) {
        const CoreTransfer::Outcome without = core.RunMany(count, size);
        TransfersForm* form = ShowForm();
        const CoreTransfer::Outcome with = core.RunMany(count, size);
        delete form;
        if (round == 0 || without.seconds < bare.seconds)
            bare = without;
        if (round == 0 || with.seconds < shown.seconds)
            shown = with;
    }
    const double bareRate = total / bare.seconds;
    const double shownRate = total / shown.seconds;
    Print("transfersui.throughput_mib_s_without_view", bareRate, 1);
    Print("transfersui.throughput_mib_s_with_view", shownRate, 1);
    Print("transfersui.view_cost_pct", 100.0 * (1.0 - shownRate / bareRate), 1);
    Print("transfersui.loop_cpu_ms_without_view", bare.loopCpuSeconds * 1e3, 1);
    Print("transfersui.loop_cpu_ms_with_view", shown.loopCpuSeconds * 1e3, 1);
    Print("transfersui.real_loop_stall_ms", shown.stallMs, 1);
    Print("transfersui.real_loop_stall_without_view_ms", bare.stallMs, 1);
    Print("transfersui.real_loop_stall_cpu_ms", shown.stallCpuMs, 1);
    return 0;
}

// The real run goes to a child so that its core does not meet the flood's.
int RunRealChild(int count, int mib)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(RealChild, "1");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {"--downloads", QString::number(count), "--real-mib", QString::number(mib)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "quorvale-bench-transfers-ui: the real run failed\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 200;
    int seconds = 3;
    int realMib = 4;
    WindowBench bench(argc, argv, "quorvale-bench-transfers-ui",
                      {{"--downloads", &count}, {"--seconds", &seconds}, {"--real-mib", &realMib}});
    if (qEnvironmentVariableIsSet(RealChild))
        return RunReal(count, realMib);
    bench.StartCore();

    // Users that never come online: the entries stay where they are put.
    std::vector<ItemPtr> downloads;
    for (int n = 0; n < count; ++n) {
        const std::string user = "user" + std::to_string(n % 20);
        const std::string folder = "music\\album" + std::to_string(n % 7);
        ItemPtr download = transferQueueManager->AddDownload(
            user, "track" + std::to_string(n) + ".bin", folder, FileSize, 0);
        transferQueueManager->SetDownloadEntryStatus(download,
                                                     TransferTypes::Download::Downloading);
        downloads.push_back(download);
    }

    Progress progress;
    progress.Attach(downloads);
    const Result bare = Flood(downloads, progress, seconds);
    TransfersForm* form = ShowForm();
    // The first redraw creates a progress bar per row; the steady state is
    // measured after it.
    const Result first = Flood(downloads, progress, 1);
    const Result shown = Flood(downloads, progress, seconds);

    Print("transfersui.downloads", count, 0);
    Print("transfersui.reports_per_s_without_view", bare.reportsPerSecond, 0);
    Print("transfersui.reports_per_s_with_view", shown.reportsPerSecond, 0);
    // The share of the loop the page takes at the pace real transfers
    // report, one report per download every 50 ms: what it leaves for
    // moving bytes is the rest.
    const double realRate = count * 20.0;
    Print("transfersui.view_loop_share_pct",
          100.0 * (realRate / shown.reportsPerSecond - realRate / bare.reportsPerSecond), 2);
    Print("transfersui.max_loop_stall_ms", shown.maxStallMs, 1);
    Print("transfersui.max_loop_stall_without_view_ms", bare.maxStallMs, 1);
    Print("transfersui.max_loop_stall_cpu_ms", shown.maxStallCpuMs, 1);
    Print("transfersui.max_loop_stall_cpu_without_view_ms", bare.maxStallCpuMs, 1);
    Print("transfersui.first_draw_stall_ms", first.maxStallMs, 1);
    delete form;
    return RunRealChild(count, realMib);
}
