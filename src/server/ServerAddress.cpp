#include "server/ServerAddress.h"

#include <utility>

#include <QtGlobal>

#include "base/Log.h"
#include "base/LogCategory.h"

ServerAddress::ServerAddress()
    : m_host(QString::fromUtf8(QUORVALE_SERVER_HOST)), m_port(QUORVALE_SERVER_PORT)
{}

ServerAddress::ServerAddress(QString host, quint16 port) : m_host(std::move(host)), m_port(port) {}

ServerAddress ServerAddress::Current()
{
    const QString text = qEnvironmentVariable(EnvironmentVariable);
    ServerAddress address;
    if (!text.isEmpty() && !Parse(text, address))
        Log(LogCategory::Server, 1,
            QStringLiteral("Ignoring %1=%2, expected host:port").arg(EnvironmentVariable, text));
    return address;
}

bool ServerAddress::Parse(const QString& text, ServerAddress& out)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool isNumber = false;
    const uint port = text.mid(colon + 1).toUInt(&isNumber);
    if (host.isEmpty() || !isNumber || port == 0 || port > 65535)
        return false;
    out = ServerAddress(host, static_cast<quint16>(port));
    return true;
}
