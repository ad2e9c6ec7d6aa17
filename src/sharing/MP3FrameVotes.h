#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The tally behind the MP3 scanner: every frame header found in a file is
// counted, and the file's attributes are decided afterwards by majority.
//
// Rather than keeping a vote counter per field and a list of candidate
// frames, each header is counted under the 13 header bits that matter
// (version, layer, protection, bitrate index, sampling-rate index, channel
// mode). Every vote and every candidate can be read back from that table
// exactly, so the result is the same as keeping the whole list, while
// memory stays at one fixed table however long the file is.
class MP3FrameVotes
{
public:
    // Files are read and counted in blocks of this many bytes.
    static constexpr std::size_t BlockSize = 65536;

    MP3FrameVotes();

    // Counts the headers in one block. A header counts only when the byte
    // after its last one still lies in the block, so one cut by the end of a
    // block is not seen at all.
    void AddBlock(const unsigned char* data, std::size_t size);

    // False when no MPEG-1 or MPEG-2 Layer III stream wins the vote or no
    // frame agrees with what won.
    bool Decide(int& version, std::string& channelMode, int& frequencyIndex, bool& vbr,
                int& bitrate) const;

private:
    struct Votes;

    Votes CountVotes() const;
    // The mean or constant bitrate of the candidates whose key is
    // `agreeing` but for the bitrate index.
    bool DecideBitrate(unsigned agreeing, const std::array<int, 16>& table, bool& vbr,
                       int& bitrate) const;

    std::vector<std::uint64_t> m_headers;
};
