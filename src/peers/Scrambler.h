#pragma once

#include <cstdint>
#include <functional>
#include <random>

#include "streams/MemStream.h"

// The scrambled ("obfuscated") wire mode of peer connections. Each frame goes
// out behind a fresh 32-bit key; the key is rotated left by one bit before
// every group of four bytes, and each byte is XORed with the byte of the key
// at the same position in its group, least significant first. The key travels
// in the clear: this hides the protocol from naive filters, it is no secret.
//
// The receiving side works on the socket's own read state, so it only needs
// the static steps below; sending needs keys, which come from an injectable
// source so that tests can predict every byte.
class Scrambler
{
public:
    using KeySource = std::function<std::uint32_t()>;

    static constexpr int KeySize = 4;
    // A scrambled frame header: the key, then the scrambled length.
    static constexpr int HeaderSize = 8;

    // Keys from a generator seeded from the clock.
    Scrambler();
    explicit Scrambler(KeySource keys);

    void SetKeySource(KeySource keys);

    // The key, then the n bytes of `frame` (length included) scrambled.
    MemStream Scramble(const char* frame, int n);

    static std::uint32_t RotateLeft(std::uint32_t key) { return (key << 1) | (key >> 31); }
    // Reads a scrambled header: `key` becomes the frame key rotated once, as
    // the body needs it next, and the plain body length is returned.
    static std::uint32_t ReadHeader(const unsigned char* header, std::uint32_t& key);
    // Descrambles a whole body in place, from the key ReadHeader left.
    static void DescrambleBody(std::uint32_t key, char* body, int n);

private:
    static void Apply(std::uint32_t key, const char* in, char* out, int n);

    std::mt19937 m_random;
    KeySource m_keys;
};
