#include <cerrno>
#include <cstring>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "PortForwardingLog.h"
#include "upnp/PortForwarder.h"
#include "upnp/ThreadedServices.h"

namespace {

constexpr const char* Address = "10.213.77.1";
// miniupnpd refuses to serve behind a private or reserved external address.
// It only reports this one to clients; nothing can route to it from here.
constexpr const char* ReportedExternalAddress = "1.2.3.4";

// The chains miniupnpd adds its rules to; without them every mapping
// request fails inside the gateway.
constexpr const char* FirewallRules = R"(table inet qvlab {
    chain miniupnpd { }
    chain prerouting_miniupnpd { }
    chain postrouting_miniupnpd { }
    chain forward { type filter hook forward priority 0; jump miniupnpd; }
    chain prerouting { type nat hook prerouting priority -100; jump prerouting_miniupnpd; }
    chain postrouting { type nat hook postrouting priority 100; jump postrouting_miniupnpd; }
}
)";

constexpr const char* GatewayConfiguration = R"(ext_ifname=qvlab
listening_ip=qvlab
port=0
enable_natpmp=no
secure_mode=no
lease_file=%1
upnp_table_name=qvlab
upnp_nat_table_name=qvlab
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
allow 1024-65535 0.0.0.0/0 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
)";

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return QString();
    return QStringLiteral("%1 %2 failed: %3")
        .arg(program, arguments.join(' '), QString::fromLocal8Bit(process.readAll()).trimmed());
}

QString Mapping(int port, const char* client)
{
    return QStringLiteral("TCP:%1:%2:%1:QuorvaleQT").arg(port).arg(client);
}

} // namespace

// Against a real miniupnpd, from a network namespace the test thread moves
// into (threads it starts are born there too), so discovery finds nothing else.
class GatewayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void PortsAreMappedTakenOverAndRemoved();
    void WithoutAGatewayRequestsFailWithoutBlocking();

private:
    QString EnterPrivateNetwork();
    QString StartGateway();
    void StopGateway();
    // The lease file's lines, protocol:port:client:port:description, without
    // the expiry.
    QStringList Mappings() const;

    QTemporaryDir m_folder;
    QProcess m_gateway;
    quint16 m_httpPort = 0;
    QString m_gatewayNamespace;
    int m_previousNamespace = -1;
};

void GatewayTest::initTestCase()
{
    QString whyNot = EnterPrivateNetwork();
    if (whyNot.isEmpty())
        whyNot = StartGateway();
    if (!whyNot.isEmpty()) {
        cleanupTestCase();
        QSKIP(qPrintable("no private gateway network: " + whyNot));
    }
}

void GatewayTest::cleanupTestCase()
{
    StopGateway();
    if (!m_gatewayNamespace.isEmpty())
        Run("ip", {"netns", "delete", m_gatewayNamespace});
    m_gatewayNamespace.clear();
    // The client's namespace goes with the last thing in it.
    if (m_previousNamespace >= 0 && setns(m_previousNamespace, CLONE_NEWNET) != 0)
        qFatal("cannot return to the original network namespace: %s", std::strerror(errno));
    if (m_previousNamespace >= 0)
        close(m_previousNamespace);
    m_previousNamespace = -1;
}

QString GatewayTest::EnterPrivateNetwork()
{
    if (geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    const QString rules = m_folder.filePath("rules.nft");
    if (!WriteFile(rules, FirewallRules) ||
        !WriteFile(m_folder.filePath("miniupnpd.conf"),
                   QString(GatewayConfiguration).arg(m_folder.filePath("leases")).toUtf8()))
        return QStringLiteral("cannot write the gateway's files");
    const int previous = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previous < 0 || unshare(CLONE_NEWNET) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (previous >= 0)
            close(previous);
        return QStringLiteral("cannot make a network namespace: ") + why;
    }
    m_previousNamespace = previous;
    m_gatewayNamespace = QStringLiteral("qvlab-%1").arg(getpid());
    if (QString failed = Run("ip", {"netns", "add", m_gatewayNamespace}); !failed.isEmpty())
        return failed;
    const QString& gw = m_gatewayNamespace;
    // The gateway lives in a namespace of its own so that discovery crosses
    // a real link to reach it; the client's only way out is that link.
    const QList<QStringList> steps = {
        {"link", "add", "qvlab", "type", "veth", "peer", "name", "qvlab", "netns", gw},
        {"addr", "add", "10.213.77.2/24", "dev", "qvlab"},
        {"link", "set", "qvlab", "up"},
        {"route", "add", "239.0.0.0/8", "dev", "qvlab"},
        {"-n", gw, "addr", "add", Address + QStringLiteral("/24"), "dev", "qvlab"},
        {"-n", gw, "link", "set", "qvlab", "up"},
        {"-n", gw, "link", "set", "lo", "up"},
        {"link", "set", "lo", "up"},
        {"netns", "exec", gw, "nft", "-f", rules},
    };
    for (const QStringList& step : steps) {
        if (QString failed = Run("ip", step); !failed.isEmpty())
            return failed;
    }
    return QString();
}

QString GatewayTest::StartGateway()
{
    m_gateway.setProcessChannelMode(QProcess::MergedChannels);
    m_gateway.start("ip", {"netns", "exec", m_gatewayNamespace, "miniupnpd", "-f",
                           m_folder.filePath("miniupnpd.conf"), "-d", "-P",
                           m_folder.filePath("miniupnpd.pid"), "-o", ReportedExternalAddress});
    const QRegularExpression listening(QStringLiteral("HTTP listening on port (\\d+)"));
    QByteArray output;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_gateway.state() != QProcess::NotRunning) {
        m_gateway.waitForReadyRead(int(deadline.remainingTime()));
        output += m_gateway.readAll();
        const QRegularExpressionMatch match = listening.match(QString::fromLocal8Bit(output));
        if (match.hasMatch()) {
            m_httpPort = quint16(match.captured(1).toUInt());
            return QString();
        }
    }
    return QStringLiteral("miniupnpd did not start: %1").arg(QString::fromLocal8Bit(output));
}

void GatewayTest::StopGateway()
{
    if (m_gateway.state() == QProcess::NotRunning)
        return;
    m_gateway.terminate();
    if (!m_gateway.waitForFinished())
        m_gateway.kill();
    m_gateway.waitForFinished();
}

QStringList GatewayTest::Mappings() const
{
    QFile file(m_folder.filePath("leases"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList mappings;
    for (const QString& line : QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts))
        mappings << line.section(':', 0, 3) + ':' + line.section(':', 5);
    return mappings;
}

void GatewayTest::PortsAreMappedTakenOverAndRemoved()
{
    {
        ThreadedServices otherMachine;
        otherMachine.Init();
        otherMachine.AddPortMapping("10.213.77.3", 42236);
    }
    QCOMPARE(Mappings(), QStringList{Mapping(42236, "10.213.77.3")});

    // The gateway's web server stands in for the server: what matters is the
    // local end of a real connection.
    QTcpSocket server;
    server.connectToHost(Address, m_httpPort);
    QVERIFY(server.waitForConnected());
    PortForwardingLog log;
    {
        PortForwarder forwarder(Address);
        forwarder.Init();
        forwarder.AddPortMapping(&server, 42236);
        forwarder.AddPortMapping(&server, 42237);
        forwarder.RemovePortMapping(42237);
        QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains("Removing mapping for port 42237"), 10000);
        QTRY_COMPARE(log.lines.last(), QString("Port mapping successfully removed."));
    }
    // The gateway answers discovery for the device and for each of its
    // services, in no fixed order; whichever comes first, it is chosen.
    const QString description =
        QStringLiteral("http://%1:%2/rootDesc.xml").arg(Address).arg(m_httpPort);
    const qsizetype chosen = log.lines.indexOf("Device XML found.") - 1;
    QVERIFY2(chosen >= 2, qPrintable(log.lines.join('\n')));
    QCOMPARE(log.lines.mid(0, 2), (QStringList{"Initializing UPnP", "Device list found"}));
    for (const QString& passedOver : log.lines.mid(2, chosen - 2))
        QVERIFY2(passedOver.endsWith(", " + description + " skipping"), qPrintable(passedOver));
    QVERIFY2(log.lines[chosen] == description + ", InternetGatewayDevice, found" ||
                 log.lines[chosen] == "Defaulting to first device found, " + description,
             qPrintable(log.lines[chosen]));
    QCOMPARE(
        log.lines.mid(chosen + 2),
        (QStringList{"Found own address to be 10.213.77.2",
                     "Port already mapped, attempting to remove existing mapping before "
                     "retrying.",
                     "Removing mapping for port 42236", "Port mapping successfully removed.",
                     "Second mapping attempt successful.", "Found own address to be 10.213.77.2",
                     "Port successfully mapped.", "Removing mapping for port 42237",
                     "Port mapping successfully removed."}));
    QCOMPARE(Mappings(), QStringList{Mapping(42236, "10.213.77.2")});
}

void GatewayTest::WithoutAGatewayRequestsFailWithoutBlocking()
{
    StopGateway();
    PortForwardingLog log;
    PortForwarder forwarder(Address);
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

QTEST_GUILESS_MAIN(GatewayTest)
#include "GatewayTest.moc"
