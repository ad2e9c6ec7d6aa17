#pragma once

#include <string>

#include <QMutex>
#include <QObject>
#include <QString>

// Finds the audio attributes of an MP3 file by reading all of it and voting
// over every MPEG audio frame header in it. Lives on a thread of its own so
// that large collections never hold up the event loop; paths arrive and
// results leave through queued signals.
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

public slots:
    void OnMP3ScanRequired(QString path);

signals:
    void MP3Scanned(QString path, int version, QString channelMode, int frequencyIndex, bool vbr,
                    int bitrate);

private:
    bool ShouldQuit();

    QMutex m_mutex;
    bool m_quit = false;
};
