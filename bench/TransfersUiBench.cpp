// Times the transfers page under a flood of progress reports: 200 running
// downloads whose reports arrive as fast as the event loop takes them, once
// with nobody listening and once with the page showing them. Prints how
// many reports the loop handles per second either way and the longest
// stall of the loop while the page redraws; from those, the share of the
// loop the page takes at the pace real transfers report. Runs offscreen.
//
// Usage: quorvale-bench-transfers-ui [--downloads N] [--seconds N]
// (defaults 200 and 3)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"
#include "app/StartUp.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/TransfersForm.h"

namespace {

using namespace BenchSupport;

constexpr int HeartbeatMs = 5;

struct Result
{
    double reportsPerSecond = 0;
    double maxStallMs = 0;
};

// Emits one report per download per round, a round per turn of the loop,
// for the given time (long enough for the page to redraw many times),
// while a heartbeat timer notes the longest gap between its ticks.
Result Flood(const std::vector<ItemPtr>& downloads, int seconds)
{
    Result result;
    QEventLoop loop;
    QElapsedTimer beat;
    QTimer heartbeat;
    heartbeat.setInterval(HeartbeatMs);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double gap = static_cast<double>(beat.nsecsElapsed()) / 1e6 - HeartbeatMs;
        result.maxStallMs = std::max(result.maxStallMs, gap);
        beat.restart();
    });
    qint64 rounds = 0;
    QElapsedTimer elapsed;
    QTimer producer;
    producer.setInterval(0);
    QObject::connect(&producer, &QTimer::timeout, [&] {
        for (const ItemPtr& download : downloads)
            emit transferQueueManager->DownloadProgressed(download);
        ++rounds;
        if (elapsed.elapsed() >= seconds * 1000)
            loop.quit();
    });
    elapsed.start();
    beat.start();
    heartbeat.start();
    producer.start();
    loop.exec();
    result.reportsPerSecond = static_cast<double>(downloads.size()) * rounds /
                              (static_cast<double>(elapsed.nsecsElapsed()) / 1e9);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int count = 200;
    int seconds = 3;
    for (int n = 1; n + 1 < argc; n += 2) {
        if (std::strcmp(argv[n], "--downloads") == 0)
            count = std::atoi(argv[n + 1]);
        else if (std::strcmp(argv[n], "--seconds") == 0)
            seconds = std::atoi(argv[n + 1]);
    }
    if (count < 1 || seconds < 1) {
        std::fprintf(stderr, "usage: quorvale-bench-transfers-ui [--downloads N] [--seconds N]\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    Host host;
    StartUp startUp(&host);
    startUp.Init();

    // Users that never come online: the entries stay where they are put.
    std::vector<ItemPtr> downloads;
    for (int n = 0; n < count; ++n) {
        const std::string user = "user" + std::to_string(n % 20);
        const std::string folder = "music\\album" + std::to_string(n % 7);
        ItemPtr download = transferQueueManager->AddDownload(
            user, "track" + std::to_string(n) + ".bin", folder, 10000000, 0);
        transferQueueManager->SetDownloadEntryStatus(download,
                                                     TransferTypes::Download::Downloading);
        downloads.push_back(download);
    }

    const Result bare = Flood(downloads, seconds);
    auto* form = new TransfersForm;
    form->resize(1000, 700);
    form->show();
    form->Init();
    // The first redraw creates a progress bar per row; the steady state is
    // measured after it.
    const Result first = Flood(downloads, 1);
    const Result shown = Flood(downloads, seconds);

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
    Print("transfersui.first_draw_stall_ms", first.maxStallMs, 1);
    delete form;
    startUp.Shutdown();
    return 0;
}
