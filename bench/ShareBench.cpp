// Times the sharing side on a generated share shaped like a music
// collection: the first full scan into the store against a plain `find`
// walk of the same tree, an unchanged rescan, search matching for one to
// three words, the whole-share listing, and MP3 scanning against plain
// reading. Prints one figure per line as "name value".
//
// Usage: quorvale-bench-share [--big]
//   default: 100,000 files in 5,000 folders; --big: 1,000,000 in 50,000.
// share.startup_s is a node started on the snapshot holding the indexed
// share, from the start until its event loop answers.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"
#include "LoopWatch.h"
#include "Mp3ScanBench.h"
#include "app/StartUp.h"
#include "base/TimerManager.h"
#include "peers/PeerMessages.h"
#include "sharing/ListingCompressor.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SearchResponder.h"
#include "sharing/SharedFilesGathering.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "streams/MemStream.h"

namespace {

using namespace BenchSupport;

constexpr int FilesPerFolder = 20;
constexpr int QueriesPerSize = 1000;
constexpr const char* Searcher = "bench_searcher";
// Runs only a node's start-up on the given home (the benchmark's own child).
constexpr const char* StartNodeOption = "--start-node";

// A few thousand made-up words; low indexes are drawn far more often, as
// common words are in real names.
class Words
{
public:
    Words()
    {
        static const char* syllables[] = {"ka",  "lo",  "mi",  "ren", "tor", "vex", "sun", "dal",
                                          "bri", "ost", "ela", "nor", "qui", "zan", "fe",  "gul"};
        for (const char* a : syllables)
            for (const char* b : syllables)
                for (const char* c : syllables)
                    m_words.push_back(std::string(a) + b + c);
        std::shuffle(m_words.begin(), m_words.end(), std::mt19937(7));
    }

    const std::string& Pick(std::mt19937& rng) const
    {
        const double r = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        return m_words[static_cast<std::size_t>(r * r * r * double(m_words.size() - 1))];
    }

private:
    std::vector<std::string> m_words;
};

// The generated files' names, which the queries are taken from. A million
// of them as strings would add a fifth to the resident figure this
// benchmark reports for the program; end to end in one buffer they add
// little.
class FileNames
{
public:
    void Add(const std::string& name)
    {
        m_starts.push_back(static_cast<std::uint32_t>(m_text.size()));
        m_text += name;
    }
    std::size_t size() const { return m_starts.size(); }
    std::string operator[](std::size_t n) const
    {
        const std::size_t end = n + 1 < m_starts.size() ? m_starts[n + 1] : m_text.size();
        return m_text.substr(m_starts[n], end - m_starts[n]);
    }
    void ShrinkToFit()
    {
        m_text.shrink_to_fit();
        m_starts.shrink_to_fit();
    }

private:
    std::string m_text;
    std::vector<std::uint32_t> m_starts;
};

std::string Phrase(const Words& words, std::mt19937& rng, int count)
{
    std::string phrase;
    for (int n = 0; n < count; ++n)
        phrase += (n ? " " : "") + words.Pick(rng);
    return phrase;
}

const char* Extension(int n)
{
    static const char* extensions[] = {".mp3", ".mp3", ".mp3", ".mp3", ".mp3",  ".mp3",
                                       ".mp3", ".mp3", ".jpg", ".jpg", ".flac", ".txt"};
    return extensions[n % 12];
}

// Artist folders with album folders below them; every folder holds the same
// number of files. Files are sparse: sizes are real, contents take no disk.
FileNames MakeTree(const std::string& root, int folders)
{
    const Words words;
    std::mt19937 rng(42);
    FileNames files;
    const int albumsPerArtist = 19;
    std::string artist;
    for (int folder = 0; folder < folders; ++folder) {
        std::string path;
        if (folder % (albumsPerArtist + 1) == 0) {
            artist = root + "/" + Phrase(words, rng, 2) + " " + std::to_string(folder);
            path = artist;
        } else {
            path =
                artist + "/" + std::to_string(1960 + folder % 60) + " - " + Phrase(words, rng, 2);
        }
        QDir().mkpath(QString::fromStdString(path));
        for (int track = 0; track < FilesPerFolder; ++track) {
            char number[8];
            std::snprintf(number, sizeof number, "%02d", track + 1);
            const std::string name =
                std::string(number) + " - " + Phrase(words, rng, 3) + Extension(track + folder);
            const int fd = ::open((path + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) {
                if (::ftruncate(fd, 1'000'000 + (folder * 7919 + track * 104729) % 9'000'000))
                    std::perror("ftruncate");
                ::close(fd);
            }
            files.Add(name);
        }
    }
    files.ShrinkToFit();
    return files;
}

// Wall time, and the event loop's own CPU time: on a shared machine the
// second tells what a change to the index's work did when the first is
// drowned by whatever else runs.
struct Timing
{
    double seconds;
    double loopCpuSeconds;
    double cpuSeconds;
};

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The best of three runs, in wall time and in the CPU time `find` used.
Timing FindTiming(const QString& root)
{
    Timing best{1e9, 0, 1e9};
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        const double cpu = ChildrenCpuSeconds();
        QProcess find;
        find.setStandardOutputFile(QProcess::nullDevice());
        find.start("find", {root, "-printf", "%s\n"});
        find.waitForFinished(-1);
        best.seconds = std::min(best.seconds, SecondsSince(start));
        best.cpuSeconds = std::min(best.cpuSeconds, ChildrenCpuSeconds() - cpu);
    }
    return best;
}

template <class F> Timing Time(F&& work)
{
    const auto start = Clock::now();
    const double loopCpu = ThreadCpuSeconds();
    const double cpu = CpuSeconds();
    work();
    return {SecondsSince(start), ThreadCpuSeconds() - loopCpu, CpuSeconds() - cpu};
}

Timing IndexTiming(const std::string& root)
{
    return Time([&] {
        ItemPtr folder = d.GetType(SharingTypes::SharedFolder)->GetItem(root);
        folder.Connect(d.GetType(SharingTypes::SharedPublic)->GetGlobalNullItem());
        sharedFoldersManager->WaitForRescan();
    });
}

// The best of three, as for `find`.
Timing RescanTiming()
{
    Timing best{1e9, 1e9, 1e9};
    for (int run = 0; run < 3; ++run) {
        const Timing timing = Time([] {
            sharedFoldersManager->RescanShares();
            sharedFoldersManager->WaitForRescan();
        });
        best.seconds = std::min(best.seconds, timing.seconds);
        best.loopCpuSeconds = std::min(best.loopCpuSeconds, timing.loopCpuSeconds);
        best.cpuSeconds = std::min(best.cpuSeconds, timing.cpuSeconds);
    }
    return best;
}

// Queries of `size` words taken from one real file's name, as a user who
// saw the file somewhere would type them.
std::vector<std::string> Queries(const FileNames& files, int size)
{
    std::mt19937 rng(size);
    std::vector<std::string> queries;
    while (queries.size() < QueriesPerSize) {
        const std::string name = files[rng() % files.size()];
        std::vector<std::string> words;
        std::string word;
        for (char c : name.substr(5, name.rfind('.') - 5) + " ")
            if (c == ' ') {
                if (!word.empty())
                    words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        std::shuffle(words.begin(), words.end(), rng);
        if (int(words.size()) < size)
            continue;
        std::string query;
        for (int n = 0; n < size; ++n)
            query += (n ? " " : "") + words[n];
        queries.push_back(query);
    }
    return queries;
}

// The same queries again, in the two halves a reply is made of: up to its
// body being written, and the compression of that body alone, at the level
// the message fixes. A query that finds nothing to send compresses nothing.
// In wall time and, as above, in the thread's CPU time.
void MeasureReplyHalves(const std::vector<std::string>& queries, const std::string& name)
{
    // Collect, compress; wall, then CPU.
    std::vector<double> micros[2][2];
    unsigned int token = 0;
    for (const std::string& query : queries) {
        PeerMessages::FileSearchResult result;
        MemStream body;
        MemStream reply;
        const double cpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        const bool answered = SearchResponder::CollectReply(*sharedFoldersManager, Searcher,
                                                            ++token, query, result) &&
                              result.WriteBody(body);
        const auto collected = Clock::now();
        const double collectedCpu = ThreadCpuSeconds();
        if (answered)
            PeerMessages::FileSearchResult::WritePacked(reply, body);
        micros[0][0].push_back(std::chrono::duration<double>(collected - start).count() * 1e6);
        micros[0][1].push_back((collectedCpu - cpu) * 1e6);
        micros[1][0].push_back(SecondsSince(collected) * 1e6);
        micros[1][1].push_back((ThreadCpuSeconds() - collectedCpu) * 1e6);
    }
    const char* halves[] = {"_p99_collect", "_p99_compress"};
    const char* clocks[] = {"_us", "_cpu_us"};
    for (int half = 0; half < 2; ++half)
        for (int clock = 0; clock < 2; ++clock) {
            std::vector<double>& times = micros[half][clock];
            std::sort(times.begin(), times.end());
            Print((name + halves[half] + clocks[clock]).c_str(), times[times.size() * 99 / 100], 1);
        }
}

// Wall time, and the thread's CPU time beside it: on a loaded machine one
// query in a hundred is bound to lose its core for a scheduler tick or
// two, which makes the wall p99 a measure of the load, not of the query.
void MeasureQueries(const FileNames& files, int size)
{
    const std::vector<std::string> queries = Queries(files, size);
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    unsigned int token = 0;
    for (const std::string& query : queries) {
        MemStream reply;
        const double cpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        SearchResponder::BuildReply(*sharedFoldersManager, Searcher, ++token, query, reply);
        micros.push_back(SecondsSince(start) * 1e6);
        cpuMicros.push_back((ThreadCpuSeconds() - cpu) * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    std::sort(cpuMicros.begin(), cpuMicros.end());
    const std::string name = "share.query" + std::to_string(size);
    Print((name + "_us").c_str(), micros[micros.size() / 2], 1);
    Print((name + "_p99_us").c_str(), micros[micros.size() * 99 / 100], 1);
    Print((name + "_cpu_us").c_str(), cpuMicros[cpuMicros.size() / 2], 1);
    Print((name + "_p99_cpu_us").c_str(), cpuMicros[cpuMicros.size() * 99 / 100], 1);
    MeasureReplyHalves(queries, name);
}

// The peak since the last call, then counted afresh from what is resident
// now, so that each phase of the run shows its own; the whole run's peak is
// the largest of them.
double runPeak = 0;

double PhasePeakMiB()
{
    const double peak = PeakResidentMiB();
    runPeak = std::max(runPeak, peak);
    if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", clear);
        std::fclose(clear);
    }
    return peak;
}

double RunPeakMiB()
{
    PhasePeakMiB();
    return runPeak;
}

void MeasureListing()
{
    const auto start = Clock::now();
    MemStream listing = sharedFoldersManager->GetSharedFilesMessage(Searcher);
    Print("share.listing_s", SecondsSince(start), 3);
    Print("share.listing_kib", listing.GetBufferLength() / 1024.0, 1);
    listing = MemStream();
    Print("share.listing_sync_peak_rss_mib", PhasePeakMiB(), 1);

    // A peer's request: the listing is read from the store in slices on the
    // event loop and compressed on the pool. The figure is the longest the
    // loop went unanswered meanwhile, as a 1 ms timer sees it.
    ListingCompressor compressor([](const std::string& user) {
        return std::make_unique<SharedFilesGathering>(
            sharedFoldersManager->GetUserSharedFolders(user));
    });
    QEventLoop loop;
    QObject::connect(&compressor, &ListingCompressor::ListingReady, &loop, &QEventLoop::quit);
    LoopWatch watch;
    watch.Start();
    const auto request = Clock::now();
    compressor.Request(Searcher);
    loop.exec();
    watch.Stop();
    Print("share.listing_stall_ms", watch.MaxGapMs(), 1);
    // Of that gap, the time our thread ran rather than waited for a core.
    Print("share.listing_stall_cpu_ms", watch.MaxGapCpuMs(), 1);
    Print("share.listing_async_s", SecondsSince(request), 3);
}

// Starts a node in a child process whose home holds the snapshot just
// saved, and times it from the start until its event loop answers: the
// snapshot loaded and every manager ready. The child leaves at once
// afterwards, without saving.
double StartUpSeconds(const char* self, const QString& home)
{
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = Clock::now();
    node.start(self, {StartNodeOption, home});
    QByteArray said;
    while (!said.contains("ready") && node.waitForReadyRead(-1))
        said += node.readAllStandardOutput();
    const double seconds = SecondsSince(start);
    node.waitForFinished(-1);
    said += node.readAllStandardOutput();
    // The started node's own peak: the snapshot file is read whole.
    const QList<QByteArray> words = said.simplified().split(' ');
    if (words.size() == 2)
        Print("share.startup_peak_rss_mib", words[1].toDouble(), 1);
    return said.contains("ready") ? seconds : -1;
}

int StartNode(const char* home)
{
    qputenv("HOME", home);
    Host host;
    StartUp startUp(&host);
    startUp.Init();
    QTimer::singleShot(0, [] {
        std::printf("ready %.1f\n", PeakResidentMiB());
        std::fflush(stdout);
        std::_Exit(0);
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], StartNodeOption) == 0)
        return StartNode(argv[2]);
    const bool big = argc > 1 && std::strcmp(argv[1], "--big") == 0;
    if (argc > 2 || (argc == 2 && !big)) {
        std::fprintf(stderr, "usage: quorvale-bench-share [--big]\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    const std::string root = home.path().toStdString() + "/share";
    const FileNames files = MakeTree(root, big ? 50'000 : 5'000);
    // The new tree's inodes are still on their way to the disk; the first
    // index must not pay for that writing when `find`, run later, does not.
    ::sync();

    Host host;
    StartUp startUp(&host);
    startUp.Init();
    // The MP3 side is measured on its own below; generated files hold no
    // frames, so scanning them here would only compete for the cores.
    sharedFoldersManager->GetMP3Scanner()->Quit();
    // A large run outlasts five minutes; the periodic collection and save
    // would land inside whichever figure is being taken. It is timed on its
    // own below instead.
    timerManager->everyFiveMinutes()->stop();

    const Timing index = IndexTiming(root);
    Print("share.index_s", index.seconds, 3);
    Print("share.index_loop_cpu_s", index.loopCpuSeconds, 3);
    Print("share.index_cpu_s", index.cpuSeconds, 3);
    const Timing findTiming = FindTiming(QString::fromStdString(root));
    const double find = findTiming.seconds;
    Print("share.find_s", find, 3);
    Print("share.find_cpu_s", findTiming.cpuSeconds, 3);
    Print("share.index_vs_find", index.seconds / find, 2);
    const Timing rescan = RescanTiming();
    Print("share.rescan_unchanged_s", rescan.seconds, 3);
    Print("share.rescan_loop_cpu_s", rescan.loopCpuSeconds, 3);
    Print("share.rescan_cpu_s", rescan.cpuSeconds, 3);
    Print("share.rescan_vs_find", rescan.seconds / find, 2);
    Print("share.rss_mib", ResidentMiB(), 1);
    // Scanning holds folder listings besides the store for a while.
    Print("share.peak_rss_mib", PhasePeakMiB(), 1);
    for (int size = 1; size <= 3; ++size)
        MeasureQueries(files, size);
    Print("share.query_peak_rss_mib", PhasePeakMiB(), 1);
    MeasureListing();
    Print("share.listing_peak_rss_mib", PhasePeakMiB(), 1);
    // What the five-minute timer costs the event loop: collection and save.
    // The collection is also timed alone first, to tell the two apart.
    const auto collect = Clock::now();
    d.RemoveDisconnectedItems();
    Print("share.periodic_gc_s", SecondsSince(collect), 3);
    Print("share.periodic_gc_peak_rss_mib", PhasePeakMiB(), 1);
    const auto save = Clock::now();
    startUp.EveryFiveMinutes();
    Print("share.periodic_save_s", SecondsSince(save), 3);
    // The next tick finds nothing changed since that save.
    const auto idle = Clock::now();
    startUp.EveryFiveMinutes();
    Print("share.periodic_unchanged_s", SecondsSince(idle), 3);
    Print("share.periodic_save_peak_rss_mib", PhasePeakMiB(), 1);
    // The whole run's peak: the listing and the save come after the figure
    // above.
    Print("share.run_peak_rss_mib", RunPeakMiB(), 1);
    // Shutting down saves the snapshot the start-up below loads.
    startUp.Shutdown();
    const double startUpSeconds = StartUpSeconds(argv[0], home.path());
    Print("share.startup_s", startUpSeconds, 3);
    Print("share.startup_vs_find", startUpSeconds / find, 2);

    RunMp3ScanBench(home.path() + "/mp3", big);
    return 0;
}
