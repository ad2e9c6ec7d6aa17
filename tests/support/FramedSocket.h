#pragma once

#include <cstdint>

#include <QByteArray>
#include <QTcpSocket>

// The far end of a connection whose frames are a little-endian 32-bit body
// length, then the body: writes bodies the test builds byte by byte and
// hands back the bodies that arrive. Every wait is bounded and driven by the
// event loop, never by sleeping.
class FramedSocket
{
public:
    static constexpr int Timeout = 3000;

    bool Connect(quint16 port);
    // Frames the body (its length, then the body) and writes it.
    void Send(const QByteArray& body);
    // Writes bytes as they are, for frames the test wants to get wrong.
    void SendRaw(const QByteArray& bytes);
    // The next `count` whole bodies, one after the other; when time runs out
    // first, only those that came (none: an empty array).
    QByteArray Next(int count = 1);
    bool WaitUntilClosed();
    bool IsOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void Disconnect() { m_socket.disconnectFromHost(); }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// The little-endian 32-bit field at offset; 0 when the bytes end before it,
// so a short answer fails the comparison instead of reading past its end.
std::uint32_t UInt32At(const QByteArray& bytes, qsizetype offset);
