#include "streams/BackgroundDeflater.h"

#include <utility>

#include <QMutexLocker>

BackgroundDeflater::BackgroundDeflater() : m_thread([this] { Run(); }) {}

BackgroundDeflater::~BackgroundDeflater()
{
    if (!m_thread.joinable())
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_abandoned = true;
        m_changed.wakeAll();
    }
    m_thread.join();
}

bool BackgroundDeflater::Write(std::string piece)
{
    QMutexLocker lock(&m_mutex);
    if (m_failed)
        return false;
    m_backlog += piece.size();
    m_queue.push_back(std::move(piece));
    m_changed.wakeAll();
    return true;
}

bool BackgroundDeflater::WaitForRoom(const QDeadlineTimer& deadline)
{
    QMutexLocker lock(&m_mutex);
    while (m_backlog >= MaxBacklog && !m_failed)
        if (!m_changed.wait(&m_mutex, deadline))
            break;
    return m_backlog < MaxBacklog || m_failed;
}

bool BackgroundDeflater::Finish()
{
    if (m_thread.joinable()) {
        {
            QMutexLocker lock(&m_mutex);
            m_closing = true;
            m_changed.wakeAll();
        }
        m_thread.join();
    }
    return !m_failed;
}

void BackgroundDeflater::Run()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_queue.empty() && !m_closing && !m_abandoned)
            m_changed.wait(&m_mutex);
        if (m_abandoned)
            return;
        if (m_queue.empty())
            break;
        const std::string piece = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const bool written = m_deflater.Write(piece.data(), piece.size());
        lock.relock();
        m_backlog -= piece.size();
        m_failed = m_failed || !written;
        m_changed.wakeAll();
    }
    lock.unlock();
    const bool finished = m_deflater.Finish();
    lock.relock();
    m_failed = m_failed || !finished;
}
