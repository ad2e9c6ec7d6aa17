#include "ScriptedUpload.h"

#include <algorithm>

#include <QTcpSocket>

#include "Bytes.h"

namespace {

constexpr qint64 Chunk = 65536;
// Enough queued to keep the socket busy, little enough to keep a hundred
// uploaders out of the resident set being measured.
constexpr qint64 InFlight = 4 * Chunk;

QByteArray PeerFrame(const QByteArray& body)
{
    return ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body);
}

} // namespace

ScriptedUpload::ScriptedUpload(const QByteArray& user, qint64 size, quint16 clientPort,
                               std::atomic<int>& sent, std::atomic<bool>& failed)
    : m_user(user), m_size(size), m_clientPort(clientPort), m_sent(sent), m_failed(failed)
{
    connect(&m_listener, &QTcpServer::newConnection, this, &ScriptedUpload::OnMessagingConnection);
}

bool ScriptedUpload::LogIn(quint16 serverPort)
{
    if (!m_listener.listen(QHostAddress::LocalHost) || !m_server.Connect(serverPort) ||
        !m_server.LogIn(m_user))
        return false;
    // Where the downloader reaches us.
    m_server.Send(ByteBuilder().UInt32(2).UInt32(m_listener.serverPort()).UInt32(1).UInt32(0));
    return true;
}

void ScriptedUpload::OnMessagingConnection()
{
    if (m_messaging)
        return;
    m_messaging = m_listener.nextPendingConnection();
    connect(m_messaging, &QTcpSocket::readyRead, this, &ScriptedUpload::OnMessages);
    OnMessages();
}

// The downloader's peer init, its queue request, and our transfer request's
// answer; the rest is ignored.
void ScriptedUpload::OnMessages()
{
    m_buffer += m_messaging->readAll();
    while (m_buffer.size() >= 4 && m_buffer.size() >= 4 + UInt32At(m_buffer, 0)) {
        const QByteArray body = m_buffer.mid(4, UInt32At(m_buffer, 0));
        m_buffer.remove(0, 4 + body.size());
        if (CodeOf(body) == 43) {
            const QByteArray path = body.mid(8, UInt32At(body, 4));
            m_messaging->write(PeerFrame(ByteBuilder()
                                             .UInt32(40)
                                             .UInt32(1)
                                             .UInt32(Token)
                                             .String(path)
                                             .UInt32(static_cast<std::uint32_t>(m_size))
                                             .UInt32(static_cast<std::uint32_t>(m_size >> 32))));
        } else if (CodeOf(body) == 41 && body.size() > 8 && UInt32At(body, 4) == Token) {
            if (body.at(8) != 1 || m_file) {
                m_failed = true;
                continue;
            }
            m_file = new QTcpSocket(this);
            connect(m_file, &QTcpSocket::readyRead, this, &ScriptedUpload::OnFileBytes);
            connect(m_file, &QTcpSocket::bytesWritten, this, &ScriptedUpload::SendMore);
            m_file->connectToHost(QHostAddress::LocalHost, m_clientPort);
            m_file->write(PeerFrame(ByteBuilder().Byte(1).String(m_user).String("F").UInt32(0)));
            m_file->write(ByteBuilder().UInt32(Token));
        }
    }
}

// The downloader's offset: where to start.
void ScriptedUpload::OnFileBytes()
{
    if (m_position >= 0 || m_file->bytesAvailable() < 8)
        return;
    const QByteArray offset = m_file->read(8);
    m_position = static_cast<qint64>(UInt32At(offset, 0)) | static_cast<qint64>(UInt32At(offset, 4))
                                                                << 32;
    SendMore();
}

void ScriptedUpload::SendMore()
{
    static const QByteArray zeros(Chunk, '\0');
    if (m_position < 0)
        return;
    while (m_position < m_size && m_file->bytesToWrite() < InFlight) {
        const qint64 n = std::min(Chunk, m_size - m_position);
        m_file->write(zeros.constData(), n);
        m_position += n;
        if (m_position == m_size)
            ++m_sent;
    }
}
