#include "transfers/UploadThread.h"

#include <QFile>
#include <QTcpSocket>

#include "transfers/FileConnectionWire.h"

UploadThread::UploadThread(QTcpSocket* socket, QFile* file, quint32 token,
                           UploadSpeedLimits* limits)
    : TransferThread(socket, file), m_token(token),
      m_throttle(limits, {}, [this](qint64 ms) { return SleepUnlessExit(ms); })
{}

void UploadThread::run()
{
    const bool complete = Send();
    ReturnSocket();
    if (complete)
        emit UploadComplete();
    else
        emit UploadError();
}

bool UploadThread::Send()
{
    const QByteArray token = FileConnectionWire::EncodeToken(m_token);
    quint64 offset = 0;
    if (!WriteAll(token.constData(), token.size()) || !ReadOffset(offset))
        return false;
    const qint64 length = m_file->size();
    if (!FileConnectionWire::IsValidUploadOffset(offset, length) ||
        !m_file->seek(static_cast<qint64>(offset)))
        return false;

    qint64 position = static_cast<qint64>(offset);
    m_throttle.Start();
    for (;;) {
        if (ExitRequested())
            return false;
        m_throttle.BeforeChunk();
        // The throttle may have slept for seconds; a stop that came
        // meanwhile must not cost another chunk.
        if (ExitRequested())
            return false;
        const int chunk = static_cast<int>(qMin<qint64>(ChunkSize, length - position));
        if (m_file->read(m_buffer, chunk) != chunk || !WriteAll(m_buffer, chunk))
            return false;
        position += chunk;
        const int bytesPerSecond = m_throttle.AfterChunk(chunk);
        if (TakeProgressTurn())
            emit UploadProgress(position, bytesPerSecond);
        if (position == length) {
            // The downloader closes once it has everything; whether it does
            // in time changes nothing for us.
            m_socket->waitForDisconnected(m_waitMs);
            return true;
        }
    }
}

bool UploadThread::ReadOffset(quint64& offset)
{
    QByteArray bytes;
    while (bytes.size() < FileConnectionWire::OffsetSize) {
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(m_waitMs))
            return false;
        const QByteArray part = m_socket->read(FileConnectionWire::OffsetSize - bytes.size());
        if (part.isEmpty() && m_socket->state() != QAbstractSocket::ConnectedState)
            return false;
        bytes += part;
    }
    offset = *FileConnectionWire::DecodeOffset(bytes);
    return true;
}

bool UploadThread::WriteAll(const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 accepted = m_socket->write(data + written, size - written);
        if (accepted <= 0)
            return false;
        written += accepted;
        // Usually the kernel takes the chunk at once; only what it refuses
        // is waited for.
        m_socket->flush();
        while (m_socket->bytesToWrite() > 0) {
            if (!m_socket->waitForBytesWritten(m_waitMs))
                return false;
        }
    }
    return true;
}
