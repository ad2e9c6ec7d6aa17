#include "FramedSocket.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>

#include "Bytes.h"

bool FramedSocket::Connect(quint16 port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return m_socket.waitForConnected(Timeout);
}

void FramedSocket::Send(const QByteArray& body)
{
    SendRaw(Frame(body));
}

void FramedSocket::SendRaw(const QByteArray& bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

QByteArray FramedSocket::Next(int count)
{
    QByteArray bodies;
    (void)QTest::qWaitFor(
        [&] {
            m_buffer += m_socket.readAll();
            while (count > 0 && m_buffer.size() >= 4) {
                const qsizetype length = UInt32At(m_buffer, 0);
                if (m_buffer.size() < 4 + length)
                    break;
                bodies += m_buffer.mid(4, length);
                m_buffer.remove(0, 4 + length);
                --count;
            }
            return count == 0;
        },
        Timeout);
    return bodies;
}

bool FramedSocket::WaitUntilClosed()
{
    const auto closed = [this] {
        m_buffer += m_socket.readAll();
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    };
    return QTest::qWaitFor(closed, Timeout);
}

std::uint32_t UInt32At(const QByteArray& bytes, qsizetype offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return 0;
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + offset);
}
