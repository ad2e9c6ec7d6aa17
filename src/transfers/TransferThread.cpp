#include "transfers/TransferThread.h"

#include <QMutexLocker>
#include <QTcpSocket>

TransferThread::TransferThread(QTcpSocket* socket, QFile* file)
    : m_socket(socket), m_file(file), m_socketHome(socket->thread())
{}

void TransferThread::SignalExit()
{
    QMutexLocker locker(&m_mutex);
    m_exit = true;
    m_exitSignalled.wakeAll();
}

void TransferThread::ProgressHandled()
{
    m_progressPending.store(false, std::memory_order_release);
}

bool TransferThread::ExitRequested()
{
    QMutexLocker locker(&m_mutex);
    return m_exit;
}

bool TransferThread::SleepUnlessExit(qint64 ms)
{
    QMutexLocker locker(&m_mutex);
    if (!m_exit)
        m_exitSignalled.wait(&m_mutex, QDeadlineTimer(ms));
    return !m_exit;
}

bool TransferThread::TakeProgressTurn()
{
    if (m_sinceProgress.isValid() && m_sinceProgress.elapsed() < m_progressIntervalMs)
        return false;
    if (m_progressPending.exchange(true, std::memory_order_acq_rel))
        return false;
    m_sinceProgress.start();
    return true;
}

void TransferThread::ReturnSocket()
{
    if (m_socket->thread() != m_socketHome)
        m_socket->moveToThread(m_socketHome);
}
