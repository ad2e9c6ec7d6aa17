#pragma once

#include <cstdint>

#include <QByteArray>
#include <QTcpSocket>

// The far end of a framed connection: writes bodies, hands back those that
// arrive; every wait is bounded and runs the event loop.
class FramedSocket
{
public:
    static constexpr int Timeout = 3000;

    bool Connect(quint16 port);
    // Frames the body (its length, then the body) and writes it.
    void Send(const QByteArray& body);
    // Writes bytes as they are, for frames the test wants to get wrong.
    void SendRaw(const QByteArray& bytes);
    // The next `count` whole bodies; when time runs out, those that came.
    QByteArray Next(int count = 1);
    bool WaitUntilClosed();
    bool IsOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void Disconnect() { m_socket.disconnectFromHost(); }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// The 32-bit field at offset; 0 when the bytes end before it.
std::uint32_t UInt32At(const QByteArray& bytes, qsizetype offset);
