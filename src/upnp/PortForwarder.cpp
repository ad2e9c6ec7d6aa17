#include "upnp/PortForwarder.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "upnp/ThreadedServices.h"

PortForwarder* portForwarder = nullptr;

namespace {

bool IsInDomain(const QString& host, const char* domain)
{
    const QString name = host.trimmed().toLower();
    return name == QLatin1String(domain) || name.endsWith(QLatin1Char('.') + QLatin1String(domain));
}

bool IsOnThisMachine(const QString& host)
{
    if (IsInDomain(host, "localhost"))
        return true;
    const QHostAddress address(host.trimmed());
    return !address.isNull() && address.isLoopback();
}

// Names under ".invalid" are reserved never to resolve: builds without a
// configured server use one.
bool IsNeverResolved(const QString& host)
{
    return IsInDomain(host, "invalid");
}

} // namespace

PortForwarder::PortForwarder(const QString& serverHost)
    : m_services(new ThreadedServices()), m_serverHost(serverHost)
{
    portForwarder = this;
    m_services->moveToThread(&m_thread);
    connect(m_services, &ThreadedServices::LogLines, this, &PortForwarder::LogLines,
            Qt::QueuedConnection);
    m_thread.setObjectName(QStringLiteral("PortForwarder"));
    m_thread.start(QThread::InheritPriority);
}

PortForwarder::~PortForwarder()
{
    m_thread.quit();
    m_thread.wait();
    // The thread has ended, so nothing runs on the worker any more.
    delete m_services;
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::SetServerHost(const QString& host)
{
    m_serverHost = host;
    m_skipLoggedFor.clear();
}

void PortForwarder::Init()
{
    if (SkipsForServer(m_serverHost))
        return;
    QMetaObject::invokeMethod(m_services, &ThreadedServices::Init, Qt::QueuedConnection);
}

void PortForwarder::AddPortMapping(QTcpSocket* serverSocket, int port)
{
    // The address actually connected to says more than the name asked for.
    const bool connected = serverSocket->state() == QAbstractSocket::ConnectedState;
    if (SkipsForServer(connected ? serverSocket->peerAddress().toString() : m_serverHost))
        return;
    const QString localAddress = LocalIPv4Address(serverSocket);
    ThreadedServices* services = m_services;
    QMetaObject::invokeMethod(
        m_services,
        [services, localAddress, port] { services->AddPortMapping(localAddress, port); },
        Qt::QueuedConnection);
}

void PortForwarder::RemovePortMapping(int port)
{
    ThreadedServices* services = m_services;
    QMetaObject::invokeMethod(
        m_services, [services, port] { services->RemovePortMapping(port); }, Qt::QueuedConnection);
}

void PortForwarder::LogLines(QStringList lines)
{
    for (const QString& line : lines)
        Log(LogCategory::PortForwarding, 1, line);
}

bool PortForwarder::IsServerWithoutGateway(const QString& host)
{
    return IsOnThisMachine(host) || IsNeverResolved(host);
}

QString PortForwarder::LocalIPv4Address(const QTcpSocket* socket)
{
    bool isIPv4 = false;
    const quint32 address = socket->localAddress().toIPv4Address(&isIPv4);
    return QHostAddress(isIPv4 ? address : 0).toString();
}

bool PortForwarder::SkipsForServer(const QString& host)
{
    if (!IsServerWithoutGateway(host))
        return false;
    if (host == m_skipLoggedFor)
        return true;
    m_skipLoggedFor = host;
    if (IsOnThisMachine(host)) {
        Log(LogCategory::PortForwarding, 1,
            QStringLiteral("Server %1 is on this machine, not forwarding ports.").arg(host));
        return true;
    }
    if (IsNeverResolved(host)) {
        Log(LogCategory::PortForwarding, 1,
            QStringLiteral("Server %1 cannot be reached, not forwarding ports.").arg(host));
        return true;
    }
    return false;
}
