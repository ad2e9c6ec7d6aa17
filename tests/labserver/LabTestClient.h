#pragma once

#include <cstdint>

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

// A raw client of the lab server: writes frames around bodies the test
// builds byte by byte, and hands back the bodies of the frames that arrive.
// Every wait is bounded and driven by the event loop, never by sleeping.
class LabTestClient
{
public:
    static constexpr int Timeout = 3000;

    bool Connect(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(Timeout);
    }
    // Frames the body (its length, then the body) and writes it.
    void Send(const QByteArray& body);
    // Writes bytes as they are, for frames the test wants to get wrong.
    void SendRaw(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next whole body, or an empty array when none arrives in time.
    QByteArray Next();
    // Logs in and reads the answer and the messages that follow every
    // successful login; true when all of them came and the login succeeded.
    bool LogIn(const QByteArray& user, const QByteArray& password = "secret");
    // Proves that nothing else is on its way: asks for the own privileges and
    // checks that the very next frame is their answer.
    bool NothingElsePending();
    bool WaitUntilClosed();
    void Disconnect() { m_socket.disconnectFromHost(); }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// The code at the head of a body (0 for a body too short to have one).
std::uint32_t CodeOf(const QByteArray& body);
// The little-endian 32-bit field at offset; 0 when the bytes end before it,
// so a short answer fails the comparison instead of reading past its end.
std::uint32_t UInt32At(const QByteArray& bytes, qsizetype offset);
// The body of a login, digest included, as the client writes it.
QByteArray LoginBody(const QByteArray& user, const QByteArray& password);
