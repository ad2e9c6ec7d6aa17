#include "GatewayLab.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <unistd.h>

namespace {

constexpr const char* Prefix = "/30";
constexpr int GatewayStartMilliseconds = 10000;
// miniupnpd refuses to serve behind a private or reserved external address.
// It only reports this one to clients; no packet is ever addressed to it, and
// the namespaces have no route that could carry one.
constexpr const char* ReportedExternalAddress = "1.2.3.4";

// The tables and chains miniupnpd adds its rules to; without them every
// mapping request fails inside the gateway.
constexpr const char* FirewallRules = R"(table inet qvlab {
    chain forward {
        type filter hook forward priority 0; policy drop;
        jump miniupnpd
    }
    chain miniupnpd {
    }
    chain prerouting {
        type nat hook prerouting priority -100; policy accept;
        jump prerouting_miniupnpd
    }
    chain postrouting {
        type nat hook postrouting priority 100; policy accept;
        jump postrouting_miniupnpd
    }
    chain prerouting_miniupnpd {
    }
    chain postrouting_miniupnpd {
    }
}
)";

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

GatewayLab::GatewayLab()
{
    const QString id = QString::number(getpid());
    m_gatewayNamespace = "qvlab-gw-" + id;
    m_clientNamespace = "qvlab-cl-" + id;
    m_gateway.setProcessChannelMode(QProcess::MergedChannels);
}

GatewayLab::~GatewayLab()
{
    Stop();
}

QString GatewayLab::Start()
{
    if (geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    for (const char* tool : {"ip", "nft", "miniupnpd"}) {
        if (QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"})
                .isEmpty())
            return QStringLiteral("%1 is not installed").arg(tool);
    }
    if (!m_folder.isValid())
        return QStringLiteral("no temporary folder");
    QString whyNot = CreateNetwork();
    if (whyNot.isEmpty())
        whyNot = StartGateway();
    if (whyNot.isEmpty())
        m_inClient = NetworkNamespace::EnterNamed(m_clientNamespace, whyNot);
    return whyNot;
}

QString GatewayLab::Run(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return QString();
    return QStringLiteral("ip %1 failed: %2")
        .arg(arguments.join(' '), QString::fromLocal8Bit(process.readAll()).trimmed());
}

QString GatewayLab::CreateNetwork()
{
    const QString id = QString::number(getpid());
    const QString gatewayLink = "qvg" + id;
    const QString clientLink = "qvc" + id;
    const QString& gw = m_gatewayNamespace;
    const QString& cl = m_clientNamespace;
    if (QString failed = Run({"netns", "add", gw}); !failed.isEmpty())
        return failed;
    m_namespacesMade = true;
    const QList<QStringList> steps = {
        {"netns", "add", cl},
        {"link", "add", gatewayLink, "type", "veth", "peer", "name", clientLink},
        {"link", "set", gatewayLink, "netns", gw},
        {"link", "set", clientLink, "netns", cl},
        {"-n", gw, "addr", "add", GatewayAddress + QString(Prefix), "dev", gatewayLink},
        {"-n", cl, "addr", "add", ClientAddress + QString(Prefix), "dev", clientLink},
        {"-n", gw, "link", "set", "lo", "up"},
        {"-n", cl, "link", "set", "lo", "up"},
        {"-n", gw, "link", "set", gatewayLink, "up"},
        {"-n", cl, "link", "set", clientLink, "up"},
        // Discovery multicasts; the client's only way out is the veth.
        {"-n", cl, "route", "add", "239.0.0.0/8", "dev", clientLink},
    };
    for (const QStringList& step : steps) {
        if (QString failed = Run(step); !failed.isEmpty())
            return failed;
    }

    const QString rules = m_folder.filePath("rules.nft");
    if (!WriteFile(rules, FirewallRules))
        return QStringLiteral("cannot write %1").arg(rules);
    if (QString failed = Run({"netns", "exec", gw, "nft", "-f", rules}); !failed.isEmpty())
        return failed;

    const QString config = QStringLiteral("ext_ifname=%1\n"
                                          "listening_ip=%1\n"
                                          "port=0\n"
                                          "enable_natpmp=no\n"
                                          "secure_mode=no\n"
                                          "lease_file=%2\n"
                                          "uuid=3b5c1c9e-7d21-4c8e-9a55-6a1f0e2d7b10\n"
                                          "upnp_table_name=qvlab\n"
                                          "upnp_nat_table_name=qvlab\n"
                                          "upnp_forward_chain=miniupnpd\n"
                                          "upnp_nat_chain=prerouting_miniupnpd\n"
                                          "upnp_nat_postrouting_chain=postrouting_miniupnpd\n"
                                          "allow 1024-65535 0.0.0.0/0 1024-65535\n"
                                          "deny 0-65535 0.0.0.0/0 0-65535\n")
                               .arg(gatewayLink, m_folder.filePath("leases"));
    if (!WriteFile(m_folder.filePath("miniupnpd.conf"), config.toUtf8()))
        return QStringLiteral("cannot write the gateway configuration");
    return QString();
}

QString GatewayLab::StartGateway()
{
    // `ip netns exec` execs the daemon, so the process we hold is miniupnpd.
    m_gateway.start("ip", {"netns", "exec", m_gatewayNamespace, "miniupnpd", "-f",
                           m_folder.filePath("miniupnpd.conf"), "-d", "-P",
                           m_folder.filePath("miniupnpd.pid"), "-o", ReportedExternalAddress});
    const QRegularExpression listening(QStringLiteral("HTTP listening on port (\\d+)"));
    QByteArray output;
    QDeadlineTimer deadline(GatewayStartMilliseconds);
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

void GatewayLab::Stop()
{
    m_inClient.reset();
    if (m_gateway.state() != QProcess::NotRunning) {
        m_gateway.terminate();
        if (!m_gateway.waitForFinished())
            m_gateway.kill();
        m_gateway.waitForFinished();
    }
    if (m_namespacesMade) {
        // Deleting a namespace takes its end of the veth pair, and so the pair.
        Run({"netns", "delete", m_clientNamespace});
        Run({"netns", "delete", m_gatewayNamespace});
        m_namespacesMade = false;
    }
}

QStringList GatewayLab::Mappings() const
{
    // Lines of protocol:external port:client:internal port:expiry:description.
    QFile file(m_folder.filePath("leases"));
    QStringList mappings;
    if (!file.open(QIODevice::ReadOnly))
        return mappings;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 6)
            continue;
        mappings << QStringLiteral("%1 %2 %3:%4 %5")
                        .arg(fields[0], fields[1], fields[2], fields[3], fields.mid(5).join(':'));
    }
    return mappings;
}
