#include "sharing/ListingCompressor.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>

struct ListingCompressor::Link
{
    QMutex m_mutex;
    ListingCompressor* m_receiver = nullptr;

    bool IsCut()
    {
        QMutexLocker lock(&m_mutex);
        return m_receiver == nullptr;
    }

    // Posting under the lock means the compressor is either still there,
    // and its destruction will discard the posted call, or already cut.
    void Report(const std::string& user, const QByteArray& message)
    {
        QMutexLocker lock(&m_mutex);
        if (ListingCompressor* receiver = m_receiver)
            QMetaObject::invokeMethod(
                receiver, [receiver, user, message] { receiver->OnCompressed(user, message); },
                Qt::QueuedConnection);
    }
};

ListingCompressor::ListingCompressor(Gatherer gatherer)
    : m_gatherer(std::move(gatherer)), m_link(std::make_shared<Link>())
{
    m_link->m_receiver = this;
}

ListingCompressor::~ListingCompressor()
{
    QMutexLocker lock(&m_link->m_mutex);
    m_link->m_receiver = nullptr;
}

bool ListingCompressor::IsPreparing(const std::string& user) const
{
    return m_preparing.contains(user);
}

void ListingCompressor::Request(const std::string& user)
{
    if (!m_preparing.insert(user).second)
        return;
    m_waiting.push_back(user);
    StartWaiting();
}

void ListingCompressor::StartWaiting()
{
    bool started = false;
    while (m_running < MaxRunning && !m_waiting.empty()) {
        const std::string user = m_waiting.front();
        m_waiting.pop_front();
        ++m_running;
        m_gathering.emplace_back(user, m_gatherer(user));
        started = true;
    }
    // A small share is read at once; a large one goes on in later slices.
    if (started)
        GatherSlice();
}

void ListingCompressor::QueueSlice()
{
    if (m_sliceQueued)
        return;
    m_sliceQueued = true;
    QMetaObject::invokeMethod(this, &ListingCompressor::GatherSlice, Qt::QueuedConnection);
}

void ListingCompressor::GatherSlice()
{
    m_sliceQueued = false;
    const QDeadlineTimer deadline(SliceMilliseconds, Qt::PreciseTimer);
    while (!m_gathering.empty()) {
        auto& [user, gathering] = m_gathering.front();
        if (!gathering->Continue(deadline))
            break;
        Compress(user, std::move(gathering));
        m_gathering.pop_front();
    }
    if (!m_gathering.empty())
        QueueSlice();
}

void ListingCompressor::Compress(const std::string& user,
                                 std::unique_ptr<ListingGathering> gathering)
{
    // From here on the gathering belongs to the worker alone.
    std::shared_ptr<ListingGathering> job(std::move(gathering));
    QThreadPool::globalInstance()->start([link = m_link, user, job] {
        // A listing nobody will receive is not worth the seconds.
        if (link->IsCut())
            return;
        link->Report(user, job->Pack());
    });
}

void ListingCompressor::OnCompressed(const std::string& user, const QByteArray& message)
{
    --m_running;
    m_preparing.erase(user);
    emit ListingReady(user, message);
    StartWaiting();
}
