#include "sharing/MP3Scanner.h"

#include <QMutexLocker>

bool MP3Scanner::ScanMP3(const std::string&, int&, std::string&, int&, bool&, int&)
{
    return !ShouldQuit() && false;
}

void MP3Scanner::Quit()
{
    QMutexLocker lock(&m_mutex);
    m_quit = true;
}

bool MP3Scanner::ShouldQuit()
{
    QMutexLocker lock(&m_mutex);
    return m_quit;
}

void MP3Scanner::OnMP3ScanRequired(QString path)
{
    int version = 0;
    std::string channelMode;
    int frequencyIndex = 0;
    bool vbr = false;
    int bitrate = -1;
    if (ScanMP3(path.toStdString(), version, channelMode, frequencyIndex, vbr, bitrate))
        emit MP3Scanned(path, version, QString::fromStdString(channelMode), frequencyIndex, vbr,
                        bitrate);
}
