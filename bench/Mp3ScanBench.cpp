#include "Mp3ScanBench.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>

#include "sharing/MP3Scanner.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr qint64 FileSize = 10 * 1024 * 1024;
constexpr int Rounds = 5;

// A 128 kbit/s, 44.1 kHz joint-stereo stream: frames of 418 bytes, one in
// 25 unpadded (417), as an encoder spreads the padding. Their bodies are
// noise, as compressed audio is, so 0xFF and stray syncs turn up about as
// often as in real files.
QByteArray MakeStream(qint64 size, std::uint64_t seed)
{
    QByteArray bytes(size + 418, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (qint64 at = 0, frame = 0; at < size; ++frame) {
        const bool padded = frame % 25 != 0;
        const unsigned char header[4] = {0xFF, 0xFB,
                                         static_cast<unsigned char>(padded ? 0x92 : 0x90), 0x44};
        std::copy(header, header + 4, out + at);
        const qint64 end = at + (padded ? 418 : 417);
        for (at += 4; at < end; ++at) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            out[at] = static_cast<unsigned char>(state >> 24);
        }
    }
    bytes.truncate(size);
    return bytes;
}

QStringList WriteFiles(const QString& workDir, bool big)
{
    QDir().mkpath(workDir);
    const int count = big ? 100 : 20;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = QDir(workDir).filePath(QString("bench-%1.mp3").arg(i));
        QFile file(path);
        if (file.size() != FileSize && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(MakeStream(FileSize, std::uint64_t(i)));
        paths << path;
    }
    return paths;
}

// Reads every file in 64 KiB blocks, as the scanner does, and returns a
// checksum of sorts so that the reads cannot be optimised away.
std::uint64_t ReadFiles(const QStringList& paths)
{
    std::vector<char> block(65536);
    std::uint64_t sink = 0;
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            continue;
        for (qint64 got; (got = file.read(block.data(), qint64(block.size()))) > 0;)
            sink += std::uint64_t(got) + std::uint8_t(block[0]);
    }
    return sink;
}

int ScanFiles(const QStringList& paths)
{
    MP3Scanner scanner;
    int scanned = 0;
    for (const QString& path : paths) {
        int version = 0, frequencyIndex = 0, bitrate = 0;
        std::string channelMode;
        bool vbr = false;
        scanned += scanner.ScanMP3(QFile::encodeName(path).toStdString(), version, channelMode,
                                   frequencyIndex, vbr, bitrate) &&
                   !vbr && bitrate == 128;
    }
    return scanned;
}

template <typename Pass> double Seconds(Pass pass)
{
    const Clock::time_point start = Clock::now();
    pass();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

void RunMp3ScanBench(const QString& workDir, bool big)
{
    const QStringList paths = WriteFiles(workDir, big);
    // MB/s in 10^6 bytes.
    const double megabytes = double(paths.size()) * double(FileSize) / 1e6;
    ReadFiles(paths); // warm the cache for both passes

    // Rounds alternate between the two passes and each keeps its best, so
    // a busy moment on a shared machine falls on neither figure alone.
    double scanSeconds = 1e9;
    double readSeconds = 1e9;
    int scanned = 0;
    std::uint64_t sink = 0;
    for (int round = 0; round < Rounds; ++round) {
        scanSeconds = std::min(scanSeconds, Seconds([&] { scanned = ScanFiles(paths); }));
        readSeconds = std::min(readSeconds, Seconds([&] { sink += ReadFiles(paths); }));
    }
    if (scanned != paths.size() || sink == 0)
        std::fprintf(stderr, "mp3 bench: only %d of %d files scanned as CBR 128\n", scanned,
                     int(paths.size()));
    std::printf("mp3.scan_mb_s %.1f\n", megabytes / scanSeconds);
    std::printf("mp3.read_mb_s %.1f\n", megabytes / readSeconds);
    std::fflush(stdout);
}
