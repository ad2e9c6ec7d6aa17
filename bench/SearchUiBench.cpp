// Times the search page under a flood of answers: 500 users answer one
// search with 200 files each. Every answer is a real compressed result
// message, read by the same intake the peer messenger runs and handed to the
// page by the messenger's own SearchResults signal, one answer per turn of
// the event loop (as fast as the loop takes them). Prints how long it takes
// from the first answer until every row is in the tab, the longest stall of
// the loop meanwhile, how long re-filtering all rows takes after a keystroke
// in the filter, and the resident set. Runs offscreen.
//
// Usage: quorvale-bench-search-ui [--users N] [--files N]
// (defaults 500 and 200)

#include <algorithm>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include "BenchSupport.h"
#include "LoopWatch.h"
#include "WindowBench.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "peers/SearchResultIntake.h"
#include "server/Server.h"
#include "sharing/AttributeMap.h"
#include "streams/MemStream.h"
#include "ui/SearchForm.h"
#include "ui/SearchResultsTab.h"

namespace {

using namespace BenchSupport;

// One user's answer as it arrives: the message after its code.
MemStream Answer(int user, int files, unsigned int token)
{
    PeerMessages::FileSearchResult message;
    message.m_user = "user" + std::to_string(user);
    message.m_token = token;
    for (int n = 0; n < files; ++n) {
        FileInfo file;
        file.m_name = "music\\artist" + std::to_string(user % 37) + "\\album" +
                      std::to_string(n / 12) + "\\track " + std::to_string(n) +
                      (n % 5 == 0 ? " live.mp3" : ".mp3");
        file.m_size = 3'000'000 + n * 1000;
        file.m_attributes.m_attributes = {{AttributeMap::Bitrate, 128 + (n % 3) * 64},
                                          {AttributeMap::LengthSeconds, 180 + n},
                                          {AttributeMap::VariableBitrate, n % 2}};
        message.m_files.push_back(file);
    }
    message.m_freeSlot = user % 3 == 0;
    message.m_averageSpeed = 10'000 + static_cast<unsigned>(user) * 37;
    message.m_queueLength = static_cast<unsigned>(user % 7);
    MemStream out;
    message.Write(out);
    unsigned int code = 0;
    out.Read(code);
    return out;
}

int TotalRows(QTreeWidget* tree)
{
    int files = 0;
    for (int u = 0; u < tree->topLevelItemCount(); ++u) {
        QTreeWidgetItem* user = tree->topLevelItem(u);
        for (int f = 0; f < user->childCount(); ++f)
            files += user->child(f)->childCount();
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    int users = 500;
    int files = 200;
    WindowBench bench(argc, argv, "quorvale-bench-search-ui",
                      {{"--users", &users}, {"--files", &files}});
    bench.StartCore();

    auto* form = new SearchForm;
    form->resize(1100, 700);
    form->show();
    form->Init();
    const unsigned int token = gp_server->FileSearch("track", false);
    SearchResultsTab* tab = form->TabOf(token);
    std::vector<MemStream> answers;
    answers.reserve(static_cast<std::size_t>(users));
    for (int user = 0; user < users; ++user)
        answers.push_back(Answer(user, files, token));

    LoopWatch watch;
    QEventLoop loop;
    QElapsedTimer fill;
    std::size_t next = 0;
    double fillSeconds = 0;
    double fillCpu = 0;
    QTimer peers;
    peers.setInterval(0);
    QObject::connect(&peers, &QTimer::timeout, [&] {
        if (next == answers.size()) {
            peers.stop();
            return;
        }
        if (next == 0) {
            fill.start();
            fillCpu = CpuSeconds();
        }
        const std::string user = "user" + std::to_string(next);
        const SearchResultIntake::Outcome outcome =
            SearchResultIntake::Receive(user, answers[next++]);
        if (outcome.m_searchResults)
            emit peerMessenger->SearchResults(outcome.m_searchResults);
    });
    const int expected = users * files;
    QTimer done;
    done.setInterval(1);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (next == answers.size() && !tab->HasPending() && tab->ResultCount() == expected) {
            fillSeconds = static_cast<double>(fill.nsecsElapsed()) / 1e9;
            fillCpu = CpuSeconds() - fillCpu;
            loop.quit();
        }
    });
    watch.Start();
    peers.start();
    done.start();
    loop.exec();
    done.stop();
    // The delayed sort comes after the flood; its stall counts too.
    QEventLoop settle;
    QTimer::singleShot(SearchResultsTab::SortDelayMs + 300, &settle, &QEventLoop::quit);
    settle.exec();
    watch.Stop();

    const int rows = TotalRows(tab->Tree());
    QElapsedTimer sort;
    sort.start();
    tab->Sort();
    QCoreApplication::processEvents();
    const double sortMs = static_cast<double>(sort.nsecsElapsed()) / 1e6;

    // One keystroke in the filter: every row is matched again and the view
    // laid out and drawn.
    QElapsedTimer filter;
    filter.start();
    const double filterCpu = CpuSeconds();
    tab->FilterField()->setText("mp3 -live");
    QCoreApplication::processEvents();
    tab->Tree()->viewport()->repaint();
    const double filterMs = static_cast<double>(filter.nsecsElapsed()) / 1e6;
    const double filterCpuMs = (CpuSeconds() - filterCpu) * 1000;

    Print("searchui.users", users, 0);
    Print("searchui.results", rows, 0);
    Print("searchui.fill_s", fillSeconds, 2);
    Print("searchui.fill_cpu_s", fillCpu, 2);
    Print("searchui.max_loop_stall_ms", watch.MaxGapMs(), 1);
    // How much of that longest gap the loop spent on a core: on a busy
    // machine the rest was spent waiting for one.
    Print("searchui.max_loop_stall_cpu_ms", watch.MaxGapCpuMs(), 1);
    Print("searchui.filter_ms", filterMs, 1);
    Print("searchui.filter_cpu_ms", filterCpuMs, 1);
    Print("searchui.shown_after_filter", TotalRows(tab->Tree()), 0);
    Print("searchui.sort_ms", sortMs, 1);
    Print("searchui.rss_mib", std::max(watch.MaxRssMiB(), ResidentMiB()), 1);
    delete form;
    return 0;
}
