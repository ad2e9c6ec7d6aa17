#include <memory>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "NetworkNamespace.h"
#include "PortForwardingLog.h"
#include "upnp/PortForwarder.h"
#include "upnp/ThreadedServices.h"

// The forwarder's front end without a gateway: what it leaves alone, and
// that failing requests never hold up the event loop.
class PortForwarderTest : public QObject
{
    Q_OBJECT

private slots:
    void ServersNeedingNoGatewayAreRecognised();
    void LocalServerIsNotForwarded();
    void NoGatewayFailsWithoutBlocking();
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

void PortForwarderTest::NoGatewayFailsWithoutBlocking()
{
    // Discovery multicasts, so it runs only where nobody can hear it.
    QString whyNot;
    const std::unique_ptr<NetworkNamespace> isolated = NetworkNamespace::EnterNew(whyNot);
    if (!isolated)
        QSKIP(qPrintable("no empty network to discover in: " + whyNot));

    PortForwardingLog log;
    PortForwarder forwarder("10.213.77.1");
    QTcpSocket unconnected;
    QElapsedTimer elapsed;
    elapsed.start();
    forwarder.Init();
    forwarder.AddPortMapping(&unconnected, 2235);
    // Discovery alone listens this long; the calls only queue work.
    QVERIFY(elapsed.elapsed() < ThreadedServices::DiscoveryMilliseconds);

    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 4, 10000);
    QCOMPARE(log.lines.mid(0, 1), QStringList{"Initializing UPnP"});
    QVERIFY2(log.lines[1].startsWith("No device list found during discovery. "
                                     "miniupnp error code: "),
             qPrintable(log.lines[1]));
    QCOMPARE(log.lines[2], QString("Found own address to be 0.0.0.0"));
    QVERIFY2(log.lines[3].startsWith("Port mapping failure, miniupnp error: -"),
             qPrintable(log.lines[3]));
}

QTEST_GUILESS_MAIN(PortForwarderTest)
#include "PortForwarderTest.moc"
