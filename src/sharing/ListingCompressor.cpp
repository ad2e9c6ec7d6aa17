#include "sharing/ListingCompressor.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>

#include "sharing/ShareListing.h"

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

ListingCompressor::ListingCompressor(BodyBuilder buildBody)
    : m_buildBody(std::move(buildBody)), m_link(std::make_shared<Link>())
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
    while (m_running < MaxRunning && !m_waiting.empty()) {
        const std::string user = m_waiting.front();
        m_waiting.pop_front();
        ++m_running;
        QThreadPool::globalInstance()->start([link = m_link, user, body = m_buildBody(user)] {
            // A listing nobody will receive is not worth the seconds.
            if (link->IsCut())
                return;
            link->Report(user, ShareListing::PackSharedFiles(body));
        });
    }
}

void ListingCompressor::OnCompressed(const std::string& user, const QByteArray& message)
{
    --m_running;
    m_preparing.erase(user);
    emit ListingReady(user, message);
    StartWaiting();
}
