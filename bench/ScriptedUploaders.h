#pragma once

#include <QByteArray>
#include <QThread>
#include <atomic>

// Many uploading peers played on a thread of their own, so that sending
// never borrows the event loop being measured. Each logs in to the server
// as "peerN", listens for the downloader's messaging connection, offers
// whatever it is asked to queue and sends that many zero bytes over a file
// connection to `clientPort`, never keeping much more than a socket buffer
// in flight. They never answer the server's requests to connect back, so
// each batch needs names of its own (`batch`): a downloader remembers where
// a name listened before and would keep knocking at a closed port.
class ScriptedUploaders : public QThread
{
public:
    ScriptedUploaders(int batch, int count, qint64 size, quint16 serverPort, quint16 clientPort);
    ~ScriptedUploaders() override;

    static QByteArray UserName(int batch, int n)
    {
        return "peer" + QByteArray::number(batch) + "_" + QByteArray::number(n);
    }

    // Set once every uploader has logged in (or one has failed to).
    std::atomic<bool> ready{false};
    std::atomic<bool> failed{false};
    std::atomic<int> sent{0};

protected:
    void run() override;

private:
    int m_batch;
    int m_count;
    qint64 m_size;
    quint16 m_serverPort;
    quint16 m_clientPort;
};
