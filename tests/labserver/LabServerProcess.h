#pragma once

#include <QProcess>
#include <QStringList>

// The real lab server binary as a child process on a free loopback port.
// A server still running at destruction is killed.
class LabServerProcess
{
public:
    LabServerProcess() = default;
    LabServerProcess(const LabServerProcess&) = delete;
    LabServerProcess& operator=(const LabServerProcess&) = delete;
    ~LabServerProcess();

    // Starts the server on `port` (0: a free one) with the extra arguments
    // and reads the port from its "listening" line; false when that line
    // does not come.
    bool Start(const QStringList& arguments = {}, quint16 port = 0);
    quint16 Port() const { return m_port; }
    // Asks the server to quit and waits for it; true when it exited cleanly,
    // which is also how a sanitizer's finding in the server fails a test.
    bool Stop();

private:
    QProcess m_process;
    quint16 m_port = 0;
};
