#pragma once

#include <QString>

// Writes a set of MP3-like files into workDir (about 200 MiB, 1 GiB when
// big), then prints how fast the MP3 scanner gets through them and how fast
// the same files are merely read, both from a warm cache:
//   mp3.scan_mb_s <MB/s>
//   mp3.read_mb_s <MB/s>
void RunMp3ScanBench(const QString& workDir, bool big);
