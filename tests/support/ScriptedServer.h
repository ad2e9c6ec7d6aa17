#pragma once

#include <utility>

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "Bytes.h"

// Stands in for the central server on 127.0.0.1: accepts the client,
// records every byte it sends, and sends whatever the test scripts, whole or
// in pieces. Port 0 lets the system pick a free port.
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
    // Sends the bytes a few at a time, each piece only once the client's end
    // has been told of the previous one, so every piece is a read of its own.
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
