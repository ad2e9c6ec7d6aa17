#include "LabSession.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "LabLog.h"

LabSession::LabSession(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket),
      m_peerName(
          QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort())),
      m_reader(MaxBodyLength)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &LabSession::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &LabSession::OnDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &LabSession::OnDisconnected);
}

QString LabSession::Name() const
{
    return IsLoggedIn() ? QString::fromStdString(m_user) : m_peerName;
}

std::uint32_t LabSession::Address() const
{
    bool isIPv4 = false;
    const std::uint32_t address = m_socket->peerAddress().toIPv4Address(&isIPv4);
    return isIPv4 ? address : 0;
}

void LabSession::SetPorts(int port, int obfuscatedPort)
{
    m_port = port;
    m_obfuscatedPort = obfuscatedPort;
}

void LabSession::Send(const MemStream& body)
{
    if (m_closing || body.GetBufferLength() < 4)
        return;
    const auto code = WireFormat::DecodeUInt32(reinterpret_cast<unsigned char*>(body.GetBuffer()));
    LabLog::Frame(Name(), "out", code, body.GetBufferLength());
    const MemStream frame = Frame(body);
    m_socket->write(frame.GetBuffer(), frame.GetBufferLength());
}

void LabSession::Close()
{
    if (m_closing)
        return;
    m_closing = true;
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        OnDisconnected();
}

void LabSession::OnReadyRead()
{
    MemStream body;
    FrameReader::Result result = FrameReader::Incomplete;
    while (!m_closing && (result = m_reader.Next(*m_socket, body)) == FrameReader::Complete) {
        if (!Dispatch(body)) {
            LabLog::Note(Name(), QStringLiteral("malformed message, closing"));
            Close();
        }
    }
    if (result == FrameReader::Oversized) {
        LabLog::Note(Name(),
                     QStringLiteral("frame longer than %1 bytes, closing").arg(MaxBodyLength));
        Close();
    }
}

bool LabSession::Dispatch(MemStream& body)
{
    const int length = body.GetBufferLength();
    std::uint32_t code = 0;
    if (!body.Read(code))
        return false;
    LabLog::Frame(Name(), "in", code, length);
    bool accepted = true;
    emit MessageReceived(this, code, body, accepted);
    return accepted;
}

void LabSession::OnDisconnected()
{
    m_closing = true;
    if (m_closedEmitted)
        return;
    m_closedEmitted = true;
    emit Closed(this);
}
