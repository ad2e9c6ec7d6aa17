#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class QTcpSocket;
class ThreadedServices;

// The main thread's side of port forwarding. Every request is queued to the
// worker thread and returns at once; requests run there in the order made,
// so a mapping asked for right after Init waits for discovery to finish.
//
// A server reached without crossing a gateway (on this machine, or under a
// name that can never resolve) means there is no gateway of ours on the way
// to the peers either: nothing is discovered or mapped then, and no
// multicast leaves the machine.
class PortForwarder : public QObject
{
    Q_OBJECT

public:
    // `serverHost` is where the server connection goes, as a name or address.
    explicit PortForwarder(const QString& serverHost);
    // Stops the worker thread, waiting for the request it is running.
    ~PortForwarder() override;
    PortForwarder(const PortForwarder&) = delete;
    PortForwarder& operator=(const PortForwarder&) = delete;

    // The server connection tells us before every connection attempt.
    void SetServerHost(const QString& host);
    // Finds the gateway again.
    void Init();
    // Forwards `port` to this machine's address on the server connection.
    void AddPortMapping(QTcpSocket* serverSocket, int port);
    void RemovePortMapping(int port);

    // True when the host needs no gateway to be reached: loopback addresses,
    // "localhost", and names in the reserved ".invalid" domain.
    static bool IsServerWithoutGateway(const QString& host);
    // The IPv4 address, in dotted form, that the socket is bound to locally;
    // "0.0.0.0" when it is not connected.
    static QString LocalIPv4Address(const QTcpSocket* socket);

public slots:
    void LogLines(QStringList lines);

private:
    bool SkipsForServer(const QString& host);

    QThread m_thread;
    ThreadedServices* m_services;
    QString m_serverHost;
    // The server host whose skip has been logged since the last connect, so
    // the discovery and every mapping of one connection say it once.
    QString m_skipLoggedFor;
};

extern PortForwarder* portForwarder;
