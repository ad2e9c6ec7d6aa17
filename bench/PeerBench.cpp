// Times search-result intake: one client core receives, all at once, the
// answers of 500 peers on loopback (half of them scrambled) to one search,
// each a single compressed message of 200 files with names as they appear
// in real music shares (many repeated across users). Prints one figure per
// line as "name value".
//
// Usage: quorvale-bench-peers [--peers N] [--files N]   (defaults 500 and 200)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "BenchSupport.h"
#include "base/Settings.h"
#include "app/StartUp.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "peers/Scrambler.h"
#include "search/SearchTypes.h"
#include "store/Data.h"
#include "streams/FrameReader.h"

namespace {

using namespace BenchSupport;

constexpr unsigned int kToken = 4711;

struct Options
{
    int peers = 500;
    int files = 200;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int n = 1; n < argc; ++n) {
        int* target = nullptr;
        if (std::strcmp(argv[n], "--peers") == 0)
            target = &options.peers;
        else if (std::strcmp(argv[n], "--files") == 0)
            target = &options.files;
        if (!target || n + 1 >= argc)
            return false;
        *target = std::atoi(argv[++n]);
        if (*target <= 0)
            return false;
    }
    return true;
}

// Realistic names: albums share track titles ("01 - Intro.mp3"), and many
// users share the same popular albums, so names repeat across peers.
std::list<FileInfo> ShareOf(int peer, int files)
{
    static const char* titles[] = {"Intro", "Outro", "Interlude", "Untitled", "Live",
                                   "Remix", "Theme", "Reprise",   "Overture", "Finale"};
    std::list<FileInfo> share;
    for (int n = 0; n < files; ++n) {
        FileInfo file;
        const int album = (peer * 7 + n / 12) % 40;
        char name[160];
        std::snprintf(name, sizeof name, "@@music\\Artist %02d\\Album %03d\\%02d - %s.mp3",
                      album % 17, album, n % 12 + 1, titles[(n + album) % 10]);
        file.m_name = name;
        file.m_size = 3'000'000 + (peer * 131 + n * 977) % 9'000'000;
        file.m_attributes.m_extension = "mp3";
        file.m_attributes.m_attributes = {{AttributeMap::Bitrate, 128u + 64u * (n % 4)},
                                          {AttributeMap::LengthSeconds, 120u + n % 300},
                                          {AttributeMap::VariableBitrate, n % 3 == 0 ? 1u : 0u}};
        share.push_back(file);
    }
    return share;
}

QByteArray Plain(const MemStream& body)
{
    MemStream frame = Frame(body);
    return QByteArray(frame.GetReadBuffer(), frame.GetPendingReadLength());
}

// The bytes one peer sends: its init frame, then its search answer, each
// scrambled on its own for the scrambled half.
QByteArray PeerBytes(int peer, int files, bool scrambled, Scrambler& scrambler)
{
    const std::string user = "peer" + std::to_string(peer);
    MemStream init;
    PeerMessages::PeerInit{user, PeerMessenger::MessagingConnection, 0}.Write(init);
    MemStream answer;
    PeerMessages::FileSearchResult result;
    result.m_user = user;
    result.m_token = kToken;
    result.m_files = ShareOf(peer, files);
    result.m_freeSlot = peer % 2 == 0;
    result.m_averageSpeed = 50'000 + static_cast<unsigned>(peer) * 100;
    result.m_queueLength = static_cast<unsigned>(peer % 5);
    result.Write(answer);

    QByteArray bytes;
    for (const MemStream* body : {&init, &answer}) {
        const QByteArray plain = Plain(*body);
        if (!scrambled) {
            bytes += plain;
            continue;
        }
        MemStream mixed = scrambler.Scramble(plain.constData(), static_cast<int>(plain.size()));
        bytes += QByteArray(mixed.GetReadBuffer(), mixed.GetPendingReadLength());
    }
    return bytes;
}

// The 500 peers, on a thread of their own so that sending never borrows the
// event loop being measured.
class Peers : public QThread
{
public:
    Peers(std::vector<QByteArray> bytes, quint16 plainPort, quint16 scrambledPort)
        : m_bytes(std::move(bytes)), m_plainPort(plainPort), m_scrambledPort(scrambledPort)
    {}

    std::atomic<bool> connected{false};
    std::atomic<bool> go{false};
    std::atomic<long long> firstByteNs{0};

protected:
    void run() override
    {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (std::size_t n = 0; n < m_bytes.size(); ++n) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost("127.0.0.1", n % 2 ? m_scrambledPort : m_plainPort);
            socket->waitForConnected(10000);
            sockets.push_back(std::move(socket));
        }
        connected = true;
        while (!go)
            QThread::msleep(1);
        firstByteNs = Clock::now().time_since_epoch().count();
        for (std::size_t n = 0; n < sockets.size(); ++n)
            sockets[n]->write(m_bytes[n]);
        for (auto& socket : sockets)
            socket->waitForBytesWritten(30000);
        // Keep the connections open until the reader has everything.
        while (go)
            QThread::msleep(5);
    }

private:
    std::vector<QByteArray> m_bytes;
    quint16 m_plainPort;
    quint16 m_scrambledPort;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: quorvale-bench-peers [--peers N] [--files N]\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());

    Host host;
    StartUp startUp(&host);
    startUp.Init();
    Settings::Set("listening_port", 0LL);
    Settings::Set("obfuscated_listening_port", 0LL);
    if (!peerMessenger->Listen()) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    d.GetType(SearchTypes::SearchRequest)->NewItem(Value(kToken));

    Scrambler scrambler;
    std::vector<QByteArray> bytes;
    for (int peer = 0; peer < options.peers; ++peer)
        bytes.push_back(PeerBytes(peer, options.files, peer % 2 == 1, scrambler));

    const auto plainPort = static_cast<quint16>(Settings::GetInt("listening_port", 0));
    const auto scrambledPort =
        static_cast<quint16>(Settings::GetInt("obfuscated_listening_port", 0));
    Peers peers(std::move(bytes), plainPort, scrambledPort);
    peers.start();
    // Accept every connection before the clock starts.
    while (!peers.connected)
        application.processEvents(QEventLoop::AllEvents, 10);
    application.processEvents();

    const std::size_t expected = static_cast<std::size_t>(options.peers) * options.files;
    std::size_t received = 0;
    Clock::time_point last = Clock::now();
    QObject::connect(peerMessenger, &PeerMessenger::SearchResults, [&](ItemPtr results) {
        received += results.GetItems(SearchTypes::SearchResult).size();
        if (received >= expected) {
            last = Clock::now();
            application.quit();
        }
    });

    // A 1 ms timer measures how long the event loop is ever kept busy.
    double maxStallMs = 0;
    Clock::time_point previousTick = Clock::now();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        maxStallMs = std::max(
            maxStallMs, std::chrono::duration<double, std::milli>(now - previousTick).count());
        previousTick = now;
    });
    QTimer::singleShot(60000, &application, &QCoreApplication::quit);
    ticker.start(1);
    previousTick = Clock::now();
    peers.go = true;
    application.exec();
    ticker.stop();
    peers.go = false;
    peers.wait();

    const Clock::time_point first{Clock::duration(peers.firstByteNs.load())};
    Print("peers.results", static_cast<double>(g(SearchTypes::SearchResult).size()), 0);
    Print("peers.intake_s", std::chrono::duration<double>(last - first).count(), 3);
    Print("peers.max_loop_stall_ms", maxStallMs, 1);
    Print("peers.rss_mib", ResidentMiB(), 1);
    startUp.Shutdown();
    return received >= expected ? 0 : 1;
}
