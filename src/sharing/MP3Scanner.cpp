#include "sharing/MP3Scanner.h"

#include <vector>

#include <QFile>
#include <QMetaObject>
#include <QMutexLocker>

#include "sharing/MP3FrameVotes.h"

bool MP3Scanner::ScanMP3(const std::string& path, int& version, std::string& channelMode,
                         int& frequencyIndex, bool& vbr, int& bitrate)
{
    if (ShouldQuit())
        return false;
    bitrate = -1;
    // Unbuffered: every block goes straight from the system into our buffer.
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 size = file.size();
    if (size <= 0)
        return false;

    MP3FrameVotes votes;
    std::vector<unsigned char> block(MP3FrameVotes::BlockSize);
    for (qint64 done = 0; done < size;) {
        // A long file must not hold up shutdown until it is read to the end.
        if (ShouldQuit())
            return false;
        const qint64 wanted = qMin(qint64(block.size()), size - done);
        const qint64 got = file.read(reinterpret_cast<char*>(block.data()), wanted);
        if (got <= 0)
            break;
        votes.AddBlock(block.data(), std::size_t(got));
        done += got;
    }
    return votes.Decide(version, channelMode, frequencyIndex, vbr, bitrate);
}

void MP3Scanner::Quit()
{
    QMutexLocker lock(&m_mutex);
    m_quit = true;
}

void MP3Scanner::Enqueue(std::vector<std::string>&& paths)
{
    if (paths.empty())
        return;
    bool wake = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_quit)
            return;
        for (std::string& path : paths)
            m_queue.push_back(std::move(path));
        wake = !m_woken;
        m_woken = true;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &MP3Scanner::ScanQueued, Qt::QueuedConnection);
}

bool MP3Scanner::TakeQueued(std::string& path)
{
    QMutexLocker lock(&m_mutex);
    if (m_queue.empty() || m_quit) {
        m_queue.clear();
        m_woken = false;
        return false;
    }
    path = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

void MP3Scanner::ScanQueued()
{
    std::string path;
    while (TakeQueued(path))
        OnMP3ScanRequired(QString::fromStdString(path));
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
    // A file that fails stays unscanned and is offered again at the next
    // rescan, so there is nothing to report.
    if (ScanMP3(QFile::encodeName(path).toStdString(), version, channelMode, frequencyIndex, vbr,
                bitrate))
        emit MP3Scanned(path, version, QString::fromStdString(channelMode), frequencyIndex, vbr,
                        bitrate);
}
