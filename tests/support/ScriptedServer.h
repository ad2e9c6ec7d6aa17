#pragma once

#include <utility>

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "Bytes.h"

// The central server on a free 127.0.0.1 port: records what the client
// sends and sends what the test scripts.
class ScriptedServer
{
public:
    static constexpr int DefaultTimeoutMs = 5000;

    ScriptedServer();
    ~ScriptedServer();

    quint16 Port() const { return m_server.serverPort(); }
    // Makes the client's next connection come here.
    void PointClientHere() const;
    // Stops accepting: a client connecting afterwards is refused.
    void StopListening() { m_server.close(); }

    bool WaitForClient(int timeoutMs = DefaultTimeoutMs);
    int AcceptedCount() const { return m_acceptedCount; }

    // Everything received since the last TakeReceived, across connections.
    const QByteArray& Received() const { return m_received; }
    QByteArray TakeReceived() { return std::exchange(m_received, {}); }
    // Waits until the received bytes contain `bytes`.
    bool WaitFor(const QByteArray& bytes, int timeoutMs = DefaultTimeoutMs);

    void Send(const QByteArray& bytes);
    // Each piece a read of its own at the client's end.
    bool SendInChunks(const QByteArray& bytes, int chunkSize, QTcpSocket* clientSide);

    void CloseClient();
    bool WaitForClientClosed(int timeoutMs = DefaultTimeoutMs);

    // A frame as the server sends it: the body's length, then the body.
    static QByteArray Frame(const QByteArray& body) { return ::Frame(body); }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    int m_acceptedCount = 0;
};
