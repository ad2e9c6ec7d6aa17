#pragma once

#include <deque>
#include <string>
#include <vector>

#include <QMutex>
#include <QObject>
#include <QString>

// Finds the audio attributes of an MP3 file by reading all of it and voting
// over every MPEG audio frame header in it. Lives on a thread of its own so
// that large collections never hold up the event loop; paths arrive in
// batches through a queue of its own and results leave through queued
// signals.
class MP3Scanner : public QObject
{
    Q_OBJECT

public:
    MP3Scanner() = default;

    // False when the file cannot be read, holds no usable Layer III frames,
    // or the scanner has been told to quit.
    bool ScanMP3(const std::string& path, int& version, std::string& channelMode,
                 int& frequencyIndex, bool& vbr, int& bitrate);
    // Makes every scan not yet started return at once and a running one stop
    // at its next block; safe from any thread.
    void Quit();
    // Queues paths (UTF-8) to be scanned in turn; safe from any thread. A
    // share of a million files asks for hundreds of thousands of scans: one
    // queued call per path cost the event loop more than indexing the file
    // did, so the scanner's thread is woken once for everything queued
    // before it gets round to it.
    void Enqueue(std::vector<std::string>&& paths);

public slots:
    void OnMP3ScanRequired(QString path);

signals:
    void MP3Scanned(QString path, int version, QString channelMode, int frequencyIndex, bool vbr,
                    int bitrate);

private slots:
    void ScanQueued();

private:
    bool ShouldQuit();
    // The next queued path; false when none is left or scanning is over.
    bool TakeQueued(std::string& path);

    QMutex m_mutex;
    bool m_quit = false;
    std::deque<std::string> m_queue;
    bool m_woken = false;
};
