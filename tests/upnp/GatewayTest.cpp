#include <memory>

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include "GatewayLab.h"
#include "PortForwardingLog.h"
#include "upnp/PortForwarder.h"
#include "upnp/ThreadedServices.h"

namespace {

// The lines of every batch the worker handed over, in order.
QStringList Logged(const QSignalSpy& spy)
{
    QStringList lines;
    for (const QList<QVariant>& batch : spy)
        lines += batch.at(0).toStringList();
    return lines;
}

QString Mapping(int port, const char* client)
{
    return QStringLiteral("TCP %1 %2:%1 QuorvaleQT").arg(port).arg(client);
}

} // namespace

// Port forwarding against a real gateway, miniupnpd, on a network of the
// test's own: discovery, the mapping as the gateway records it, and taking
// over a port someone else holds.
class GatewayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void PortHeldByAnotherClientIsTakenOver();
    void ForwarderMapsTheAddressOfTheServerConnection();

private:
    void VerifyDiscovery(const QStringList& lines);

    std::unique_ptr<GatewayLab> m_lab;
};

void GatewayTest::initTestCase()
{
    m_lab = std::make_unique<GatewayLab>();
    const QString whyNot = m_lab->Start();
    if (!whyNot.isEmpty()) {
        m_lab.reset();
        QSKIP(qPrintable("no private gateway network: " + whyNot));
    }
}

void GatewayTest::cleanupTestCase()
{
    m_lab.reset();
}

// The gateway answers discovery for the device and for each of its services,
// in no fixed order; whichever comes first, this gateway is the one chosen.
void GatewayTest::VerifyDiscovery(const QStringList& lines)
{
    const QString description = QStringLiteral("http://%1:%2/rootDesc.xml")
                                    .arg(GatewayLab::GatewayAddress)
                                    .arg(m_lab->HttpPort());
    QVERIFY2(lines.size() >= 4, qPrintable(lines.join('\n')));
    QCOMPARE(lines.mid(0, 2), (QStringList{"Initializing UPnP", "Device list found"}));
    const QStringList choice = lines.mid(2, lines.size() - 3);
    for (const QString& passedOver : choice.mid(0, choice.size() - 1))
        QVERIFY2(passedOver.endsWith(", " + description + " skipping"), qPrintable(passedOver));
    const QStringList chosen{description + ", InternetGatewayDevice, found",
                             "Defaulting to first device found, " + description};
    QVERIFY2(chosen.contains(choice.last()), qPrintable(choice.last()));
    QCOMPARE(lines.last(), QString("Device XML found."));
}

void GatewayTest::PortHeldByAnotherClientIsTakenOver()
{
    ThreadedServices services;
    QSignalSpy spy(&services, &ThreadedServices::LogLines);
    services.Init();
    VerifyDiscovery(Logged(spy));
    services.AddPortMapping("10.213.77.3", 42236);
    QCOMPARE(m_lab->Mappings(), QStringList{Mapping(42236, "10.213.77.3")});

    spy.clear();
    services.AddPortMapping(GatewayLab::ClientAddress, 42236);
    QCOMPARE(Logged(spy),
             (QStringList{"Found own address to be 10.213.77.2",
                          "Port already mapped, attempting to remove existing mapping before "
                          "retrying.",
                          "Removing mapping for port 42236", "Port mapping successfully removed.",
                          "Second mapping attempt successful."}));
    QCOMPARE(m_lab->Mappings(), QStringList{Mapping(42236, GatewayLab::ClientAddress)});
    services.RemovePortMapping(42236);
}

void GatewayTest::ForwarderMapsTheAddressOfTheServerConnection()
{
    // The gateway's web server stands in for the server: what matters is the
    // local end of a real connection.
    QTcpSocket server;
    server.connectToHost(GatewayLab::GatewayAddress, m_lab->HttpPort());
    QVERIFY(server.waitForConnected());

    PortForwardingLog log;
    {
        PortForwarder forwarder(GatewayLab::GatewayAddress);
        forwarder.Init();
        forwarder.AddPortMapping(&server, 42237);
        forwarder.AddPortMapping(&server, 42238);
        forwarder.RemovePortMapping(42238);
        QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains("Removing mapping for port 42238"), 10000);
        QTRY_COMPARE(log.lines.last(), QString("Port mapping successfully removed."));
    }
    const qsizetype discovered = log.lines.indexOf("Device XML found.") + 1;
    VerifyDiscovery(log.lines.mid(0, discovered));
    QCOMPARE(
        log.lines.mid(discovered),
        (QStringList{"Found own address to be 10.213.77.2", "Port successfully mapped.",
                     "Found own address to be 10.213.77.2", "Port successfully mapped.",
                     "Removing mapping for port 42238", "Port mapping successfully removed."}));
    QCOMPARE(m_lab->Mappings(), QStringList{Mapping(42237, GatewayLab::ClientAddress)});
}

QTEST_GUILESS_MAIN(GatewayTest)
#include "GatewayTest.moc"
