#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "PortForwardingLog.h"
#include "upnp/PortForwarder.h"

// The forwarder's front end without a gateway: what it leaves alone.
class PortForwarderTest : public QObject
{
    Q_OBJECT

private slots:
    void ServersNeedingNoGatewayAreRecognised();
    void LocalServerIsNotForwarded();
};

void PortForwarderTest::ServersNeedingNoGatewayAreRecognised()
{
    for (const char* host : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1", "localhost",
                             "LocalHost", "lab.localhost", "server.quorvale.invalid", "invalid"})
        QVERIFY2(PortForwarder::IsServerWithoutGateway(host), host);
    for (const char* host : {"10.213.77.1", "192.168.1.1", "2001:db8::1", "server.example.org",
                             "invalid.example.org", "notlocalhost", ""})
        QVERIFY2(!PortForwarder::IsServerWithoutGateway(host), host);
}

void PortForwarderTest::LocalServerIsNotForwarded()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    QTcpSocket server;
    server.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(server.waitForConnected());

    PortForwardingLog log;
    // Named for a remote host, but the connection ended up on this machine.
    PortForwarder forwarder("server.example.org");
    forwarder.AddPortMapping(&server, 2235);
    forwarder.SetServerHost("127.0.0.1");
    forwarder.Init();
    forwarder.SetServerHost("server.quorvale.invalid");
    forwarder.Init();
    // Removal always reaches the worker; it runs after anything queued
    // before it, so its lines show that no discovery was queued.
    forwarder.RemovePortMapping(2235);
    QTRY_COMPARE(log.lines.size(), 5);
    QCOMPARE(log.lines, (QStringList{"Server 127.0.0.1 is on this machine, not forwarding ports.",
                                     "Server 127.0.0.1 is on this machine, not forwarding ports.",
                                     "Server server.quorvale.invalid cannot be reached, not "
                                     "forwarding ports.",
                                     "Removing mapping for port 2235",
                                     "UPnP appears to not have been initialized, aborting."}));
}

QTEST_GUILESS_MAIN(PortForwarderTest)
#include "PortForwarderTest.moc"
