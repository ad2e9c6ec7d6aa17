#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

// The blocking half of port forwarding: finds the Internet gateway and asks
// it to forward ports, on a thread of its own so the event loop never waits
// for the network. What it finds stays on that thread; the only thing it
// hands back is the lines it has to log, one batch per call.
class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    // How long discovery listens for gateways to answer.
    static constexpr int DiscoveryMilliseconds = 2000;
    // The gateway's answer when the external port is already taken.
    static constexpr int ConflictInMappingEntry = 718;
    static constexpr const char* MappingDescription = "QuorvaleQT";
    static constexpr const char* MappingProtocol = "TCP";

    ThreadedServices();
    ~ThreadedServices() override;
    ThreadedServices(const ThreadedServices&) = delete;
    ThreadedServices& operator=(const ThreadedServices&) = delete;

public slots:
    // Discovers the gateway again, replacing whatever an earlier call found.
    void Init();
    // Forwards the same external port to `port` on `localAddress`. Tried
    // even when no gateway was found; the failure is logged then.
    void AddPortMapping(QString localAddress, int port);
    void RemovePortMapping(int port);

signals:
    void LogLines(QStringList lines);

private:
    struct Gateway;

    // The gateway's answer: 0 on success, a UPnP error code, or one of the
    // library's own negative codes when there was no answer at all.
    int RequestMapping(const QString& localAddress, int port);
    void RemoveMapping(int port, QStringList& log);

    std::unique_ptr<Gateway> m_gateway;
};
