#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include <QByteArray>
#include <QObject>

#include "sharing/ListingGathering.h"

// Prepares whole-share listings without holding up the event loop. The
// listing is read from the store on the event loop, where the store lives,
// in slices of a few milliseconds, and compressed at zlib's highest level,
// which takes seconds for a large share, on a thread of its own while it is
// read, so that the uncompressed listing never sits in memory whole. The
// end of the compression is awaited on the global thread pool. Only the
// finished message's bytes come back, through ListingReady on the event
// loop.
//
// One listing per user is prepared at a time, and at most MaxRunning exist
// at once: further users wait by name and their listing is started when
// one of those is done, so a crowd of browsers costs a queue of names, not a
// copy of the share each. Deleting the compressor drops the listings still
// in preparation: a worker that finishes later finds nobody to report to.
class ListingCompressor : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRunning = 2;
    static constexpr int SliceMilliseconds = 10;

    // Starts gathering a user's listing; called on the event loop.
    using Gatherer = std::function<std::unique_ptr<ListingGathering>(const std::string& user)>;

    explicit ListingCompressor(Gatherer gatherer);
    ~ListingCompressor() override;
    ListingCompressor(const ListingCompressor&) = delete;
    ListingCompressor& operator=(const ListingCompressor&) = delete;

    // Waiting, being gathered or being compressed.
    bool IsPreparing(const std::string& user) const;
    // Queues the user's listing; ignored while one is being prepared.
    void Request(const std::string& user);

signals:
    // The whole message, ready to send; empty if compression failed.
    void ListingReady(std::string user, QByteArray message);

private slots:
    void GatherSlice();

private:
    // What a worker shares with the compressor: who to report to, cleared
    // under the lock when the compressor goes.
    struct Link;

    void StartWaiting();
    void QueueSlice();
    void Compress(const std::string& user, std::unique_ptr<ListingGathering> gathering);
    void OnCompressed(const std::string& user, const QByteArray& message);

    Gatherer m_gatherer;
    std::shared_ptr<Link> m_link;
    std::set<std::string> m_preparing;
    std::deque<std::string> m_waiting;
    std::deque<std::pair<std::string, std::unique_ptr<ListingGathering>>> m_gathering;
    int m_running = 0;
    bool m_sliceQueued = false;
};
