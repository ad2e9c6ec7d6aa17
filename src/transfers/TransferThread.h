#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class QFile;
class QTcpSocket;

// What the download and the upload thread share: the socket and file they
// move bytes between (owned by the transfer manager, used here while the
// thread runs), the stop flag, the length of the waits for a silent peer,
// and the coalescing of progress reports.
//
// A thread computes its progress once per chunk but reports it only when the
// event loop has handled the previous report (the manager calls
// ProgressHandled() from its progress slot), and not more often than every
// ProgressIntervalMs. A fast transfer therefore never has more than one
// progress call queued, whatever the loop is busy with, and does not wake
// the loop tens of thousands of times a second to say so.
class TransferThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int ChunkSize = 8192;
    static constexpr int DefaultWaitMs = 30000;
    static constexpr int ProgressIntervalMs = 50;

    TransferThread(QTcpSocket* socket, QFile* file);

    // Ends the transfer at the next chunk boundary (or when a pending wait
    // for the peer ends); the thread then reports failure.
    void SignalExit();
    // The manager's progress slot has run; the next chunk may report again.
    void ProgressHandled();
    // How long to wait for a silent peer. Tests shorten it.
    void SetWaitMs(int ms) { m_waitMs = ms; }
    // Tests that follow a transfer chunk by chunk report every one.
    void SetProgressIntervalMs(int ms) { m_progressIntervalMs = ms; }

protected:
    bool ExitRequested();
    // Sleeps for ms, or less when SignalExit() comes first; returns false
    // then. Throttled uploads may sleep for seconds per chunk and must not
    // keep the manager waiting that long when it stops them.
    bool SleepUnlessExit(qint64 ms);
    // True when a progress report may be emitted now; marks it as pending.
    bool TakeProgressTurn();
    // Hands the socket back to the thread it lived in when this thread was
    // made. Called from run() before the final signal.
    void ReturnSocket();

    QTcpSocket* m_socket;
    QFile* m_file;
    int m_waitMs = DefaultWaitMs;
    char m_buffer[ChunkSize];

private:
    QThread* m_socketHome;
    QMutex m_mutex;
    QWaitCondition m_exitSignalled;
    bool m_exit = false;
    std::atomic<bool> m_progressPending{false};
    // Used on the transfer's own thread only.
    QElapsedTimer m_sinceProgress;
    int m_progressIntervalMs = ProgressIntervalMs;
};
