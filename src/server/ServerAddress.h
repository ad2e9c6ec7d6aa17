#pragma once

#include <QString>

// Where the server connection goes: the host and port fixed at build time,
// unless the environment variable QUORVALE_SERVER names another as
// "host:port" (tests and demos point the client at a local server that way).
class ServerAddress
{
public:
    static constexpr const char* EnvironmentVariable = "QUORVALE_SERVER";

    // The build default.
    ServerAddress();
    ServerAddress(QString host, quint16 port);

    // Read each time a connection starts, so a changed variable takes effect
    // at the next connection. A malformed value is logged and ignored.
    static ServerAddress Current();
    // "host:port" with a port from 1 to 65535; an IPv6 host in brackets.
    static bool Parse(const QString& text, ServerAddress& out);

    const QString& Host() const { return m_host; }
    quint16 Port() const { return m_port; }

private:
    QString m_host;
    quint16 m_port;
};
