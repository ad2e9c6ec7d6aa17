#include "peers/Scrambler.h"

#include <chrono>

#include "streams/WireFormat.h"

Scrambler::Scrambler()
    : m_random(static_cast<std::mt19937::result_type>(
          std::chrono::system_clock::now().time_since_epoch().count()))
{
    m_keys = [this] { return static_cast<std::uint32_t>(m_random()); };
}

Scrambler::Scrambler(KeySource keys) : m_keys(std::move(keys)) {}

void Scrambler::SetKeySource(KeySource keys)
{
    if (keys) {
        m_keys = std::move(keys);
        return;
    }
    m_keys = [this] { return static_cast<std::uint32_t>(m_random()); };
}

MemStream Scrambler::Scramble(const char* frame, int n)
{
    const std::uint32_t key = m_keys();
    MemStream out;
    out.ReserveBufferCapacity(KeySize + n + 1);
    unsigned char keyBytes[KeySize];
    WireFormat::EncodeUInt32(key, keyBytes);
    out.WriteBuffer(keyBytes, KeySize);
    Apply(key, frame, out.GetWriteBuffer(), n);
    out.AdvanceWriteIndex(n);
    return out;
}

std::uint32_t Scrambler::ReadHeader(const unsigned char* header, std::uint32_t& key)
{
    key = RotateLeft(WireFormat::DecodeUInt32(header));
    return WireFormat::DecodeUInt32(header + KeySize) ^ key;
}

void Scrambler::DescrambleBody(std::uint32_t key, char* body, int n)
{
    Apply(key, body, body, n);
}

void Scrambler::Apply(std::uint32_t key, const char* in, char* out, int n)
{
    for (int i = 0; i < n; ++i) {
        if (i % 4 == 0)
            key = RotateLeft(key);
        const auto keyByte = static_cast<unsigned char>(key >> (8 * (i % 4)));
        out[i] = static_cast<char>(static_cast<unsigned char>(in[i]) ^ keyByte);
    }
}
