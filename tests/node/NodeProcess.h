#pragma once

#include <functional>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A local path as peers name it, with "\\" separators.
inline QString ToWire(QString localPath)
{
    return localPath.replace('/', '\\');
}

// Writes `content` to `path`, making the folders on the way; an empty
// content is a source that could not be read and fails.
bool WriteFileAt(const QString& path, const QByteArray& content);

// The real headless node as a child process with a home of its own. A test
// waits for the events it expects among those printed, consuming them.
class NodeProcess
{
public:
    NodeProcess();
    NodeProcess(const NodeProcess&) = delete;
    NodeProcess& operator=(const NodeProcess&) = delete;
    ~NodeProcess();

    QString Home() const { return m_home.path(); }
    qint64 ProcessId() const { return m_process.processId(); }
    bool Start(quint16 serverPort);
    // Starts the node, has it listen on ports of its own (and download into
    // `downloads` when given) and logs it in; false when a step fails.
    bool StartAndLogIn(quint16 serverPort, const QString& user, const QString& downloads = {});
    void Send(const QString& line);
    // Waits for `event` (fields joined by tabs); earlier events stay.
    bool WaitFor(const QString& event, int timeoutMs = 10000);
    // The first event starting with `prefix`; empty when none came in time.
    QString WaitForPrefix(const QString& prefix, int timeoutMs = 10000);
    // The events printed and not consumed yet.
    QStringList Pending();
    // Sends "quit" and waits for a clean exit.
    bool Quit();
    // Ends the node at once, as a crash would; Start() runs it again on the same home.
    bool Kill();

private:
    void Collect();
    // The first event `matches` accepts within the time, consumed; null if none.
    QString Take(const std::function<bool(const QString&)>& matches, int timeoutMs);

    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_events;
};
