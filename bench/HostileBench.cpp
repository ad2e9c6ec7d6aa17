// One client core logged in to the lab server chats in a room while a crowd
// of hostile connections attacks its listening ports (see HostileCrowd.h).
// Prints how long its room lines take to come back meanwhile, the longest
// event-loop stall, the peak resident set and the resident set once the
// attack is over and the half-minute pass has cleared what was left.
//
// Usage: quorvale-bench-hostile [--connections N] [--burst N] [--seconds N]
//        (defaults 5000, 10000 and 10)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "BenchSupport.h"
#include "HostileCrowd.h"
#include "LabServerProcess.h"
#include "LoopWatch.h"
#include "app/StartUp.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "peers/PeerTypes.h"
#include "server/Server.h"
#include "store/Data.h"

namespace {

using namespace BenchSupport;

const char* const Room = "hostile";
const char* const UserName = "target";

struct Options
{
    int connections = 5000;
    int burst = 10000;
    int seconds = 10;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int n = 1; n < argc; ++n) {
        int* target = nullptr;
        if (std::strcmp(argv[n], "--connections") == 0)
            target = &options.connections;
        else if (std::strcmp(argv[n], "--burst") == 0)
            target = &options.burst;
        else if (std::strcmp(argv[n], "--seconds") == 0)
            target = &options.seconds;
        if (!target || n + 1 >= argc)
            return false;
        *target = std::atoi(argv[++n]);
        if (*target < 0)
            return false;
    }
    return true;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "quorvale-bench-hostile: %s\n", what);
    std::exit(1);
}

// Says a numbered line in the room every 20 ms and notes how long each takes
// to come back from the server.
class Chatter : public QObject
{
public:
    Chatter()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] { Say(); });
        connect(gp_server, &Server::RoomChat, this,
                [this](std::string room, std::string user, std::string text) {
                    if (room == Room && user == UserName)
                        OnLine(text);
                });
    }

    void Start() { m_timer.start(); }
    void Stop() { m_timer.stop(); }
    int Heard() const { return int(m_roundTrips.size()); }
    void Forget() { m_roundTrips.clear(); }

    double Percentile(double fraction)
    {
        if (m_roundTrips.empty())
            return -1;
        std::sort(m_roundTrips.begin(), m_roundTrips.end());
        const auto at = std::size_t(fraction * double(m_roundTrips.size() - 1));
        return m_roundTrips[at];
    }

private:
    void Say()
    {
        const int number = m_next++;
        m_sent[number] = BenchSupport::Clock::now();
        gp_server->SendRoomChat(Room, "line " + std::to_string(number));
    }

    void OnLine(const std::string& text)
    {
        const auto found = m_sent.find(std::atoi(text.c_str() + 5));
        if (text.rfind("line ", 0) != 0 || found == m_sent.end())
            return;
        m_roundTrips.push_back(SecondsSince(found->second) * 1000.0);
        m_sent.erase(found);
    }

    QTimer m_timer;
    int m_next = 0;
    std::map<int, BenchSupport::Clock::time_point> m_sent;
    std::vector<double> m_roundTrips;
};

// Runs the event loop for a while without QTest's sleeping waits, which
// would show up as stalls.
void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct CrowdCounts
{
    int sent = 0;
    int closedByPeer = 0;
    int burstConnected = 0;
};

struct CrowdProcess
{
    pid_t pid = -1;
    int counts = -1; // where the child writes its CrowdCounts when done
};

// Real attackers are other processes on other machines. A crowd in a
// process of its own shares neither the attacked peer's heap nor its
// descriptor table, so the figures count the peer's own memory and the
// kernel's work for the peer's own sockets, not the attacker's.
CrowdProcess StartCrowd(const Options& options, std::uint16_t plain, std::uint16_t scrambled)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        Fail("no pipe for the crowd");
    const pid_t pid = ::fork();
    if (pid < 0)
        Fail("cannot start the crowd");
    if (pid == 0) {
        // The child only runs plain sockets and leaves without running the
        // parent's destructors.
        HostileCrowd crowd(plain, scrambled, options.connections, options.burst, options.seconds);
        crowd.Run();
        const CrowdCounts counts{crowd.firstBytesSent, crowd.closedByPeer, crowd.burstConnected};
        const bool told = ::write(pipe[1], &counts, sizeof counts) == sizeof counts;
        ::_exit(told ? 0 : 1);
    }
    ::close(pipe[1]);
    return {pid, pipe[0]};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: quorvale-bench-hostile [--connections N] [--burst N] "
                             "[--seconds N]\n");
        return 2;
    }
    QTemporaryDir home;
    LabServerProcess server;
    if (!home.isValid() || !server.Start())
        Fail("the lab server did not start");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("QUORVALE_SERVER", QString("127.0.0.1:%1").arg(server.Port()).toUtf8());

    Host host;
    StartUp startUp(&host);
    startUp.Init();
    Settings::Set("listening_port", 0LL);
    Settings::Set("obfuscated_listening_port", 0LL);
    if (!peerMessenger->Listen())
        Fail("cannot listen");
    Settings::Set("username", UserName);
    Settings::Set("password", "secret");
    gp_server->Connect();
    if (!QTest::qWaitFor([] { return gp_server->IsConnected(); }, 20000))
        Fail("did not log in");
    gp_server->EnterRoom(Room);

    Chatter chatter;
    chatter.Start();
    if (!QTest::qWaitFor([&] { return chatter.Heard() >= 20; }, 20000))
        Fail("room lines do not come back");
    Spin(500);
    chatter.Forget();
    const double rssBefore = ResidentMiB();

    const auto plain = static_cast<std::uint16_t>(Settings::GetInt("listening_port", 0));
    const auto scrambled =
        static_cast<std::uint16_t>(Settings::GetInt("obfuscated_listening_port", 0));
    const CrowdProcess crowd = StartCrowd(options, plain, scrambled);
    LoopWatch watch;
    watch.Start();
    std::size_t peakUnidentified = 0;
    Type* unidentified = d.GetType(PeerTypes::UninitializedSocket);
    while (::waitpid(crowd.pid, nullptr, WNOHANG) == 0) {
        Spin(100);
        peakUnidentified = std::max(peakUnidentified, unidentified->ItemCount());
    }
    Spin(1000); // the last hang-ups arrive
    watch.Stop();
    CrowdCounts counts;
    if (::read(crowd.counts, &counts, sizeof counts) != sizeof counts)
        Fail("the crowd did not report");
    ::close(crowd.counts);
    chatter.Stop();
    const double p99 = chatter.Percentile(0.99);
    const int heard = chatter.Heard();

    // Whatever is still half-open is what the half-minute pass is for; move
    // the clock past every lifetime instead of waiting for it.
    ::Clock::SetOffsetForTesting(10 * 60 * 1000);
    const auto passStart = BenchSupport::Clock::now();
    peerMessenger->EveryHalfMinute();
    const double passMs = SecondsSince(passStart) * 1000.0;
    Spin(1000);
    ::Clock::SetOffsetForTesting(0);
    const double rssAfter = ResidentMiB();

    // Of the attacking connections opened at once: how many got their first
    // bytes out, how many the peer closed, and the most it let wait to
    // identify themselves at one time (the rest it refused on arrival).
    Print("hostile.attackers", options.connections, 0);
    Print("hostile.attackers_sent", counts.sent, 0);
    Print("hostile.attackers_closed_by_peer", counts.closedByPeer, 0);
    Print("hostile.peak_unidentified", double(peakUnidentified), 0);
    Print("hostile.burst_attempts", options.burst, 0);
    Print("hostile.burst_connected", counts.burstConnected, 0);
    Print("hostile.chat_lines", heard, 0);
    Print("hostile.chat_p99_ms", p99, 1);
    Print("hostile.max_loop_stall_ms", watch.MaxGapMs(), 0);
    // Of the longest stall: time on a core, and time waiting for one.
    Print("hostile.stall_cpu_ms", watch.MaxGapCpuMs(), 0);
    Print("hostile.stall_queued_ms", watch.MaxGapQueuedMs(), 0);
    // The heaviest turn of the loop by its own CPU time, which a busy
    // machine does not inflate, and the half-minute pass after the attack
    // (one turn of the loop when it runs on its timer).
    Print("hostile.max_turn_cpu_ms", watch.MaxTurnCpuMs(), 1);
    Print("hostile.half_minute_pass_ms", passMs, 1);
    Print("hostile.rss_before_mib", rssBefore, 1);
    Print("hostile.rss_mib", std::max(watch.MaxRssMiB(), rssBefore), 1);
    Print("hostile.rss_after_mib", rssAfter, 1);
    startUp.Shutdown();
    return 0;
}
