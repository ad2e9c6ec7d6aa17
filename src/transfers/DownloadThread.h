#pragma once

#include "transfers/TransferThread.h"

// Receives the rest of a file on a file connection whose token and offset
// have already been exchanged, appending it to the open local file from
// position up to size. Emits DownloadProgress per chunk (coalesced, see
// TransferThread), then exactly one of DownloadComplete or DownloadError,
// after the socket is back on the thread it came from and the file is closed.
class DownloadThread : public TransferThread
{
    Q_OBJECT

public:
    DownloadThread(QTcpSocket* socket, QFile* file, qint64 size, qint64 position);

signals:
    void DownloadProgress(qint64 position, int bytesPerSecond);
    void DownloadComplete();
    void DownloadError();

protected:
    void run() override;

private:
    bool Receive();
    bool ReadChunk(int chunk);

    qint64 m_size;
    qint64 m_position;
};
