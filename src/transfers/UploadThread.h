#pragma once

#include "transfers/TransferThread.h"
#include "transfers/UploadThrottle.h"

class UploadSpeedLimits;

// Sends a file on an outgoing file connection: writes the transfer token,
// reads the offset the downloader already has, then streams the rest under
// the upload speed limit. Emits UploadProgress per chunk (coalesced, see
// TransferThread), then exactly one of UploadComplete or UploadError, after
// the socket is back on the thread it came from.
class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    UploadThread(QTcpSocket* socket, QFile* file, quint32 token, UploadSpeedLimits* limits);

signals:
    void UploadProgress(qint64 position, int bytesPerSecond);
    void UploadComplete();
    void UploadError();

protected:
    void run() override;

private:
    bool Send();
    bool ReadOffset(quint64& offset);
    bool WriteAll(const char* data, qint64 size);

    quint32 m_token;
    UploadThrottle m_throttle;
};
