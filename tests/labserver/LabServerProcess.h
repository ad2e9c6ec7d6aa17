#pragma once

#include <QProcess>
#include <QStringList>

// The real lab server binary as a child process on a free loopback port.
// The server is stopped (SIGTERM, then killed if it lingers) on destruction.
class LabServerProcess
{
public:
    LabServerProcess() = default;
    LabServerProcess(const LabServerProcess&) = delete;
    LabServerProcess& operator=(const LabServerProcess&) = delete;
    ~LabServerProcess();

    // Starts the server with --port 0 and the extra arguments and reads the
    // port from its "listening" line; false when that line does not come.
    bool Start(const QStringList& arguments = {});
    quint16 Port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};
