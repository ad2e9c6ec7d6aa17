#include "NodeProcess.h"

#include <algorithm>
#include <csignal>

#include <sys/prctl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTest>

bool WriteFileAt(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return !content.isEmpty() && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

NodeProcess::NodeProcess()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes must not leave its nodes running.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

NodeProcess::~NodeProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(3000);
}

bool NodeProcess::Start(quint16 serverPort)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_home.path());
    environment.insert("QUORVALE_SERVER", QString("127.0.0.1:%1").arg(serverPort));
    m_process.setProcessEnvironment(environment);
    m_partial.clear();
    m_events.clear();
    m_process.start(QStringLiteral(QUORVALE_NODE_PATH), {});
    return m_process.waitForStarted(5000);
}

bool NodeProcess::StartAndLogIn(quint16 serverPort, const QString& user, const QString& downloads)
{
    if (!Start(serverPort) || WaitForPrefix("rescanned\t").isEmpty())
        return false;
    if (!downloads.isEmpty())
        Send("download-folder " + downloads);
    Send("ports 0 0");
    if (WaitForPrefix("listening\t").isEmpty())
        return false;
    Send("login " + user + " secret");
    return WaitFor("connected");
}

void NodeProcess::Send(const QString& line)
{
    m_process.write((line + '\n').toUtf8());
}

void NodeProcess::Collect()
{
    m_partial += m_process.readAllStandardOutput();
    int newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_events << QString::fromUtf8(m_partial.left(newline));
        m_partial.remove(0, newline + 1);
    }
}

QString NodeProcess::Take(const std::function<bool(const QString&)>& matches, int timeoutMs)
{
    QString found;
    const auto seen = [&] {
        Collect();
        const auto it = std::find_if(m_events.cbegin(), m_events.cend(), matches);
        found = it == m_events.cend() ? QString() : *it;
        return !found.isNull();
    };
    if (!QTest::qWaitFor(seen, timeoutMs))
        return QString();
    m_events.removeOne(found);
    return found;
}

bool NodeProcess::WaitFor(const QString& event, int timeoutMs)
{
    if (!Take([&](const QString& e) { return e == event; }, timeoutMs).isNull())
        return true;
    qWarning() << "waited for" << event << "but the node printed" << m_events;
    return false;
}

QString NodeProcess::WaitForPrefix(const QString& prefix, int timeoutMs)
{
    return Take([&](const QString& event) { return event.startsWith(prefix); }, timeoutMs);
}

QStringList NodeProcess::Pending()
{
    Collect();
    return m_events;
}

bool NodeProcess::Quit()
{
    Send("quit");
    m_process.closeWriteChannel();
    return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit &&
           m_process.exitCode() == 0;
}

bool NodeProcess::Kill()
{
    m_process.kill();
    return m_process.waitForFinished(10000);
}
