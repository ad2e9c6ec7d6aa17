// Feeds arbitrary bytes to the MP3 frame vote, cut into blocks as the
// scanner reads a file, and compares its answer with a plain byte-by-byte
// vote that keeps every candidate frame in a list. Byte 0 picks the block
// size, so that small inputs also cross block ends.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "sharing/MP3FrameVotes.h"

namespace {

struct Result
{
    bool ok = false;
    int version = 0;
    std::string mode;
    int rate = 0;
    bool vbr = false;
    int bitrate = -1;
};

struct Candidate
{
    int version, protection, rate, mode, bitrateIndex;
};

// The slow way: one pass per block keeping separate counters and a list of
// candidates.
class ListVote
{
public:
    void AddBlock(const std::uint8_t* b, std::size_t size)
    {
        for (std::size_t i = 1; i + 3 < size; ++i) {
            if (b[i - 1] != 0xFF || (b[i] & 0xE0) != 0xE0)
                continue;
            const int version = b[i] >> 3 & 3;
            if (version == 1)
                continue;
            ++m_version[version];
            if ((b[i] >> 1 & 3) != 1)
                continue;
            const int protection = b[i] & 1;
            ++m_protection[protection];
            const int rate = b[i + 1] >> 2 & 3;
            if (rate == 3)
                continue;
            ++m_rate[rate];
            const int mode = b[i + 2] >> 6;
            ++m_mode[mode];
            const int bitrateIndex = b[i + 1] >> 4;
            if (bitrateIndex != 0 && bitrateIndex != 15)
                m_candidates.push_back({version, protection, rate, mode, bitrateIndex});
        }
    }

    Result Decide() const
    {
        static const int one[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        static const int two[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
        static const char* modes[] = {"stereo", "joint stereo", "dual mono", "mono"};
        Result r;
        int version = 3;
        if (m_version[2] >= m_version[version])
            version = 2;
        if (m_version[0] >= m_version[version])
            return r;
        const int protection = m_protection[1] > m_protection[0] ? 1 : 0;
        int rate = 0;
        for (int i = 1; i < 3; ++i)
            rate = m_rate[i] >= m_rate[rate] ? i : rate;
        int mode = 0;
        for (int i = 1; i < 4; ++i)
            mode = m_mode[i] >= m_mode[mode] ? i : mode;
        std::array<std::uint64_t, 321> histogram{};
        std::uint64_t sum = 0, count = 0;
        for (const Candidate& c : m_candidates) {
            if (c.version != version || c.protection != protection || c.rate != rate ||
                c.mode != mode)
                continue;
            const int kbps = (version == 3 ? one : two)[c.bitrateIndex];
            ++histogram[kbps];
            sum += kbps;
            ++count;
        }
        if (count == 0)
            return r;
        r = {true, version == 3 ? 1 : 2, modes[mode], rate, true, int(sum / count)};
        for (int kbps = 1; kbps <= 320; ++kbps)
            if (histogram[kbps] * 100 / count > 98) {
                r.vbr = false;
                r.bitrate = kbps;
            }
        return r;
    }

private:
    std::uint64_t m_version[4] = {};
    std::uint64_t m_protection[2] = {};
    std::uint64_t m_rate[3] = {};
    std::uint64_t m_mode[4] = {};
    std::vector<Candidate> m_candidates;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t blockSize =
        data[0] == 0 ? MP3FrameVotes::BlockSize : std::size_t(data[0]) * 4;
    // Each block in its own exact-size buffer so that a read past its end is
    // caught.
    MP3FrameVotes votes;
    ListVote reference;
    for (std::size_t at = 1; at < size; at += blockSize) {
        const std::size_t length = std::min(blockSize, size - at);
        const std::vector<std::uint8_t> block(data + at, data + at + length);
        votes.AddBlock(block.data(), block.size());
        reference.AddBlock(block.data(), block.size());
    }

    Result got;
    got.ok = votes.Decide(got.version, got.mode, got.rate, got.vbr, got.bitrate);
    const Result want = reference.Decide();
    FUZZ_CHECK(got.ok == want.ok);
    if (!got.ok)
        return 0;
    FUZZ_CHECK(got.version == want.version && got.mode == want.mode && got.rate == want.rate &&
               got.vbr == want.vbr && got.bitrate == want.bitrate);
    FUZZ_CHECK(got.bitrate >= 8 && got.bitrate <= (got.version == 1 ? 320 : 160));
    return 0;
}
