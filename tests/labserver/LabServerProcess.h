#pragma once

#include <QProcess>
#include <QStringList>

// The lab server binary as a child process, killed if still running at the end.
class LabServerProcess
{
public:
    LabServerProcess() = default;
    LabServerProcess(const LabServerProcess&) = delete;
    LabServerProcess& operator=(const LabServerProcess&) = delete;
    ~LabServerProcess();

    // Starts on `port` (0: a free one); false without its "listening" line.
    bool Start(const QStringList& arguments = {}, quint16 port = 0);
    quint16 Port() const { return m_port; }
    // True when it quit cleanly: how a sanitizer's finding fails a test.
    bool Stop();

private:
    QProcess m_process;
    quint16 m_port = 0;
};
