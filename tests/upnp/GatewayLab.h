#pragma once

#include <memory>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "NetworkNamespace.h"

// A private network for UPnP tests: a "gateway" and a "client" namespace,
// made for this process alone, joined by a veth pair, with miniupnpd running
// in the gateway namespace. Start moves the calling thread into the client
// namespace, so discovery there reaches this gateway and nothing else; the
// namespaces have no route anywhere else. Everything is taken down again by
// the destructor, however far Start got.
class GatewayLab
{
public:
    static constexpr const char* GatewayAddress = "10.213.77.1";
    static constexpr const char* ClientAddress = "10.213.77.2";

    GatewayLab();
    ~GatewayLab();
    GatewayLab(const GatewayLab&) = delete;
    GatewayLab& operator=(const GatewayLab&) = delete;

    // Empty when the lab runs, else why it cannot on this machine.
    QString Start();

    // The gateway's own record of its mappings, one "TCP 42235 10.213.77.2:42235
    // QuorvaleQT" line each, read from its lease file.
    QStringList Mappings() const;
    // The port of the gateway's description and control server.
    quint16 HttpPort() const { return m_httpPort; }

private:
    QString Run(const QStringList& arguments);
    QString CreateNetwork();
    QString StartGateway();
    void Stop();

    QString m_gatewayNamespace;
    QString m_clientNamespace;
    QTemporaryDir m_folder;
    QProcess m_gateway;
    quint16 m_httpPort = 0;
    bool m_namespacesMade = false;
    std::unique_ptr<NetworkNamespace> m_inClient;
};
