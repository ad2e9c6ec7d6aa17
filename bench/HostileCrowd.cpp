#include "HostileCrowd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t MaximalFrame = 1048576;
constexpr int BurstWave = 1000;

std::string LengthPrefix(std::uint32_t length)
{
    std::string bytes(4, '\0');
    for (int n = 0; n < 4; ++n)
        bytes[n] = char(length >> (8 * n) & 0xff);
    return bytes;
}

std::string Random(std::size_t size, std::mt19937& random)
{
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(random());
    return bytes;
}

int ConnectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

HostileCrowd::HostileCrowd(std::uint16_t plainPort, std::uint16_t scrambledPort, int connections,
                           int burst, int seconds)
    : m_plainPort(plainPort), m_scrambledPort(scrambledPort), m_connections(connections),
      m_burst(burst), m_seconds(seconds)
{
    std::mt19937 random(4711);
    // A first frame of plausible size whose content is nonsense.
    m_garbage = LengthPrefix(200) + Random(200, random);
    // Announces 2000 bytes and stops after 100 of them.
    m_halfFrame = LengthPrefix(2000) + Random(100, random);
    // The largest frame a peer may send, complete.
    m_maximal = LengthPrefix(MaximalFrame) + Random(MaximalFrame, random);
    // For the scrambled port: no key and no frame, only noise.
    m_noise = Random(64 * 1024, random);
    // A frame announced and then trickled in a byte at a time.
    m_drip = LengthPrefix(100) + Random(100, random);
}

void HostileCrowd::Run()
{
    // Real attackers sit on other machines: on this one the crowd yields
    // the cores to the attacked loop, so the figures are about that loop
    // and not about who wins a core.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 15);
    OpenAll();
    Attack();
    CloseAll();
    Burst();
    finished = true;
}

void HostileCrowd::OpenAll()
{
    m_attackers.resize(static_cast<std::size_t>(m_connections));
    for (int n = 0; n < m_connections; ++n) {
        Attacker& attacker = m_attackers[static_cast<std::size_t>(n)];
        attacker.kind = Kind(n % KindCount);
        const std::string* payloads[] = {&m_garbage, &m_halfFrame, &m_maximal, &m_noise, &m_drip};
        attacker.payload = payloads[attacker.kind];
        attacker.fd = ConnectTo(attacker.kind == Noise ? m_scrambledPort : m_plainPort);
        attacker.open = attacker.fd >= 0;
    }
}

void HostileCrowd::Send(Attacker& attacker, std::size_t limit)
{
    while (attacker.sent < limit) {
        const ssize_t n = ::send(attacker.fd, attacker.payload->data() + attacker.sent,
                                 limit - attacker.sent, MSG_NOSIGNAL);
        if (n > 0) {
            if (attacker.sent == 0)
                ++firstBytesSent;
            attacker.sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == ENOTCONN || errno == EINTR))
            return;
        ::close(attacker.fd);
        attacker.open = false;
        ++closedByPeer;
        return;
    }
}

// Reads and drops whatever the peer sends; false once it has closed.
bool HostileCrowd::Drain(Attacker& attacker)
{
    char scratch[4096];
    for (;;) {
        const ssize_t n = ::recv(attacker.fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == ENOTCONN))
            return true;
        ::close(attacker.fd);
        attacker.open = false;
        ++closedByPeer;
        return false;
    }
}

void HostileCrowd::Attack()
{
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(m_seconds);
    std::vector<pollfd> polled;
    std::vector<Attacker*> owners;
    while (Clock::now() < end) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
        polled.clear();
        owners.clear();
        for (Attacker& attacker : m_attackers) {
            if (!attacker.open)
                continue;
            // The drip gets one more byte every second; the others send all.
            const std::size_t limit =
                attacker.kind == Drip ? std::size_t(elapsed + 1) : attacker.payload->size();
            const bool wantsToSend = attacker.sent < std::min(limit, attacker.payload->size());
            polled.push_back({attacker.fd, short(POLLIN | (wantsToSend ? POLLOUT : 0)), 0});
            owners.push_back(&attacker);
        }
        if (polled.empty())
            break;
        ::poll(polled.data(), polled.size(), 100);
        for (std::size_t n = 0; n < polled.size(); ++n) {
            Attacker& attacker = *owners[n];
            if ((polled[n].revents & (POLLIN | POLLHUP | POLLERR)) && !Drain(attacker))
                continue;
            if (polled[n].revents & POLLOUT) {
                const std::size_t limit =
                    attacker.kind == Drip ? std::size_t(elapsed + 1) : attacker.payload->size();
                Send(attacker, std::min(limit, attacker.payload->size()));
            }
        }
    }
}

void HostileCrowd::CloseAll()
{
    for (Attacker& attacker : m_attackers)
        if (attacker.open)
            ::close(attacker.fd);
    m_attackers.clear();
}

// Connects and at once hangs up, a wave at a time so that our own sockets
// stay within the open-file limit.
void HostileCrowd::Burst()
{
    for (int done = 0; done < m_burst; done += BurstWave) {
        std::vector<pollfd> wave;
        for (int n = done; n < std::min(m_burst, done + BurstWave); ++n) {
            const int fd = ConnectTo(n % 2 ? m_scrambledPort : m_plainPort);
            if (fd >= 0)
                wave.push_back({fd, POLLOUT, 0});
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::size_t pending = wave.size();
        while (pending > 0 && Clock::now() < deadline) {
            ::poll(wave.data(), wave.size(), 100);
            for (pollfd& entry : wave) {
                if (entry.fd < 0 || !entry.revents)
                    continue;
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error == 0)
                    ++burstConnected;
                ::close(entry.fd);
                entry.fd = -1; // poll skips negative descriptors
                --pending;
            }
        }
        for (pollfd& entry : wave)
            if (entry.fd >= 0)
                ::close(entry.fd);
    }
}
