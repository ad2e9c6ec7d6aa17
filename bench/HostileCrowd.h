#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A crowd of hostile connections to one peer's two listening ports, run in
// a process of its own with plain sockets so it costs the attacked event loop
// nothing but what the attack itself does. Phase one holds `connections`
// sockets open at once, each behaving in one of five ways (garbage first
// frames, frames that never complete, maximal frames, scrambled noise, one
// byte a second) for `seconds`; phase two makes `burst` connection attempts
// as fast as the ports take them; then everything is closed.
class HostileCrowd
{
public:
    HostileCrowd(std::uint16_t plainPort, std::uint16_t scrambledPort, int connections, int burst,
                 int seconds);

    void Run();

    std::atomic<bool> finished{false};
    // Sockets of phase one whose first bytes went out (the peer refuses
    // most at once: it lets only so many wait to identify themselves), and
    // those the peer closed on us.
    std::atomic<int> firstBytesSent{0};
    std::atomic<int> closedByPeer{0};
    // Attempts of phase two whose connection was established.
    std::atomic<int> burstConnected{0};

private:
    enum Kind
    {
        Garbage,
        HalfFrame,
        Maximal,
        Noise,
        Drip,
        KindCount
    };

    struct Attacker
    {
        int fd = -1;
        Kind kind = Garbage;
        const std::string* payload = nullptr;
        std::size_t sent = 0;
        bool open = false;
    };

    void OpenAll();
    void Attack();
    void Burst();
    void CloseAll();
    void Send(Attacker& attacker, std::size_t limit);
    bool Drain(Attacker& attacker);

    std::uint16_t m_plainPort;
    std::uint16_t m_scrambledPort;
    int m_connections;
    int m_burst;
    int m_seconds;
    std::vector<Attacker> m_attackers;
    std::string m_garbage;
    std::string m_halfFrame;
    std::string m_maximal;
    std::string m_noise;
    std::string m_drip;
};
