#include "LabServerProcess.h"

#include <csignal>

#include <sys/prctl.h>

#include <QTest>

LabServerProcess::~LabServerProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(3000);
}

bool LabServerProcess::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    return m_process.waitForFinished(5000) && m_process.exitStatus() == QProcess::NormalExit &&
           m_process.exitCode() == 0;
}

bool LabServerProcess::Start(const QStringList& arguments, quint16 port)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes must not leave its server running.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(QStringLiteral(QUORVALE_LABSERVER_PATH),
                    QStringList{QStringLiteral("--port"), QString::number(port)} + arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    if (!QTest::qWaitFor([this] { return m_process.canReadLine(); }, 5000))
        return false;
    const QList<QByteArray> fields = m_process.readLine().trimmed().split('\t');
    if (fields.size() != 2 || fields[0] != "listening")
        return false;
    bool ok = false;
    m_port = fields[1].toUShort(&ok);
    return ok && m_port != 0;
}
