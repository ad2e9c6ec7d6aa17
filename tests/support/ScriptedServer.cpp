#include "ScriptedServer.h"

#include <QSignalSpy>
#include <QtTest>

#include "Bytes.h"

ScriptedServer::ScriptedServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::OnNewConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("ScriptedServer: cannot listen on 127.0.0.1");
}

ScriptedServer::~ScriptedServer()
{
    if (m_client)
        m_client->abort();
}

void ScriptedServer::PointClientHere() const
{
    qputenv("QUORVALE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(Port()));
}

void ScriptedServer::StopListening()
{
    m_server.close();
}

bool ScriptedServer::WaitForClient(int timeoutMs)
{
    return QTest::qWaitFor([this] { return HasClient(); }, timeoutMs);
}

bool ScriptedServer::HasClient() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

QByteArray ScriptedServer::TakeReceived()
{
    QByteArray taken;
    taken.swap(m_received);
    return taken;
}

bool ScriptedServer::WaitForBytes(int count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return m_received.size() >= count; }, timeoutMs);
}

bool ScriptedServer::WaitFor(const QByteArray& bytes, int timeoutMs)
{
    return QTest::qWaitFor([this, &bytes] { return m_received.contains(bytes); }, timeoutMs);
}

void ScriptedServer::Send(const QByteArray& bytes)
{
    if (!m_client)
        qFatal("ScriptedServer: no client to send to");
    m_client->write(bytes);
    m_client->flush();
}

bool ScriptedServer::SendInChunks(const QByteArray& bytes, int chunkSize, QTcpSocket* clientSide)
{
    for (qsizetype at = 0; at < bytes.size(); at += chunkSize) {
        if (!clientSide) {
            Send(bytes.mid(at, chunkSize));
            continue;
        }
        QSignalSpy arrived(clientSide, &QTcpSocket::readyRead);
        Send(bytes.mid(at, chunkSize));
        if (!QTest::qWaitFor([&arrived] { return arrived.count() > 0; }, DefaultTimeoutMs))
            return false;
    }
    return true;
}

void ScriptedServer::CloseClient()
{
    if (m_client)
        m_client->close();
}

bool ScriptedServer::WaitForClientClosed(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return !m_client || m_client->state() == QAbstractSocket::UnconnectedState; },
        timeoutMs);
}

QByteArray ScriptedServer::Frame(const QByteArray& body)
{
    return ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body);
}

void ScriptedServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_client)
            m_client->deleteLater();
        m_client = socket;
        ++m_acceptedCount;
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedServer::OnReadyRead);
    }
}

void ScriptedServer::OnReadyRead()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket)
        m_received += socket->readAll();
}
