#include "ScriptedServer.h"

#include <QSignalSpy>
#include <QtTest>

ScriptedServer::ScriptedServer()
{
    // The latest connection is the client's; one that replaces it goes.
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            if (m_client)
                m_client->deleteLater();
            m_client = socket;
            ++m_acceptedCount;
            QObject::connect(socket, &QTcpSocket::readyRead, &m_server,
                             [this, socket] { m_received += socket->readAll(); });
        }
    });
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

bool ScriptedServer::WaitForClient(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return m_client && m_client->state() == QAbstractSocket::ConnectedState; },
        timeoutMs);
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
