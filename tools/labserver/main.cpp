#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include "LabLog.h"
#include "LabServer.h"
#include "app/QuitOnSignal.h"

namespace {

constexpr quint16 DefaultPort = 2242;

struct Options
{
    QHostAddress m_address{QHostAddress::LocalHost};
    quint16 m_port = DefaultPort;
    bool m_verbose = false;
    bool m_tree = false;
    QStringList m_privileged;
    QStringList m_away;
};

void DeclareOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        "A server for the Quorvale network's server protocol, all in memory, for tests, "
        "demos and development. Prints \"listening<TAB>PORT\" once it accepts clients.");
    parser.addHelpOption();
    parser.addOption({"listen", "Address to listen on (default 127.0.0.1).", "address"});
    parser.addOption({"port", "Port to listen on; 0 picks a free one (default 2242).", "port"});
    parser.addOption({"verbose", "Log every frame in and out, and every decision, to stderr."});
    parser.addOption({"tree", "Spread searches down a tree of clients: propose parents to "
                              "clients and hand searches only to those without one."});
    parser.addOption(
        {"privileged", "Give the user 30 days of privileges; may be repeated.", "user"});
    parser.addOption({"away", "Report the user as away while logged in; may be repeated.", "user"});
}

// Returns false, having said why, when an option value is unusable.
bool ReadOptions(const QCommandLineParser& parser, Options& options)
{
    if (parser.isSet("listen") && !options.m_address.setAddress(parser.value("listen"))) {
        LabLog::Error(QStringLiteral("Not an IP address: %1").arg(parser.value("listen")));
        return false;
    }
    if (parser.isSet("port")) {
        bool ok = false;
        const uint port = parser.value("port").toUInt(&ok);
        if (!ok || port > 65535) {
            LabLog::Error(QStringLiteral("Not a port number: %1").arg(parser.value("port")));
            return false;
        }
        options.m_port = static_cast<quint16>(port);
    }
    options.m_verbose = parser.isSet("verbose");
    options.m_tree = parser.isSet("tree");
    options.m_privileged = parser.values("privileged");
    options.m_away = parser.values("away");
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quorvale-labserver");

    QCommandLineParser parser;
    DeclareOptions(parser);
    parser.process(app);
    Options options;
    if (!ReadOptions(parser, options))
        return 2;

    LabLog::SetVerbose(options.m_verbose);
    // Installed before the port is announced, so a test that stops the server
    // right away still gets an orderly exit.
    QuitOnSignal quitOnSignal;
    LabServer server(options.m_tree ? LabServer::SearchMode::Tree : LabServer::SearchMode::Flat);
    for (const QString& user : options.m_privileged)
        server.GrantPrivileges(user.toStdString());
    for (const QString& user : options.m_away)
        server.MarkAway(user.toStdString());
    if (!server.Listen(options.m_address, options.m_port)) {
        LabLog::Error(QStringLiteral("Cannot listen on %1 port %2: %3")
                          .arg(options.m_address.toString())
                          .arg(options.m_port)
                          .arg(server.ErrorString()));
        return 1;
    }
    std::printf("listening\t%u\n", static_cast<unsigned int>(server.Port()));
    std::fflush(stdout);
    return app.exec();
}
