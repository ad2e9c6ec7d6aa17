#include "transfers/DownloadThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>

namespace {

constexpr qint64 ReadAhead = 8 * TransferThread::ChunkSize;

int AverageSpeed(qint64 bytes, qint64 elapsedMs)
{
    return elapsedMs > 0 ? static_cast<int>(bytes * 1000 / elapsedMs) : 0;
}

} // namespace

DownloadThread::DownloadThread(QTcpSocket* socket, QFile* file, qint64 size, qint64 position)
    : TransferThread(socket, file), m_size(size), m_position(position)
{}

void DownloadThread::run()
{
    const bool complete = Receive();
    if (complete)
        m_socket->close();
    ReturnSocket();
    m_file->close();
    if (complete)
        emit DownloadComplete();
    else
        emit DownloadError();
}

bool DownloadThread::Receive()
{
    // A partial file longer than the whole cannot be the file offered; it
    // must not be completed as if it were.
    if (m_position > m_size)
        return false;
    // Read no further ahead than a few chunks: what the socket would buffer
    // beyond that only costs memory, a hundred downloads over, and the
    // kernel's window holds the sender back just as well.
    m_socket->setReadBufferSize(ReadAhead);
    QElapsedTimer started;
    started.start();
    qint64 received = 0;
    while (m_position < m_size) {
        if (ExitRequested())
            return false;
        const int chunk = static_cast<int>(qMin<qint64>(ChunkSize, m_size - m_position));
        if (!ReadChunk(chunk) || m_file->write(m_buffer, chunk) != chunk)
            return false;
        m_position += chunk;
        received += chunk;
        if (TakeProgressTurn())
            emit DownloadProgress(m_position, AverageSpeed(received, started.elapsed()));
    }
    // The file buffers; a full disk may only show when it writes out.
    return m_file->flush();
}

bool DownloadThread::ReadChunk(int chunk)
{
    int got = 0;
    while (got < chunk) {
        const qint64 read = m_socket->read(m_buffer + got, chunk - got);
        if (read < 0)
            return false;
        got += static_cast<int>(read);
        if (got < chunk && read == 0 && !m_socket->waitForReadyRead(m_waitMs))
            return false;
    }
    return true;
}
