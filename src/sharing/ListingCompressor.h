#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include <QByteArray>
#include <QObject>

// Compresses whole-share listings on the global thread pool. At zlib's
// highest level a share of a hundred thousand files takes seconds, which on
// the event loop would freeze the window and every connection on each
// browse request. The body is built on the event loop, where the store
// lives; only its bytes cross to the worker, and only the finished
// message's bytes come back, through ListingReady on the event loop.
//
// One listing per user is prepared at a time, and at most MaxRunning bodies
// exist at once: further users wait by name and their body is built when a
// worker is free, so a crowd of browsers costs a queue of names, not a
// copy of the share each. Deleting the compressor drops the listings still
// in preparation: a worker that finishes later finds nobody to report to.
class ListingCompressor : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRunning = 2;

    // Builds a user's uncompressed listing on the event loop.
    using BodyBuilder = std::function<QByteArray(const std::string& user)>;

    explicit ListingCompressor(BodyBuilder buildBody);
    ~ListingCompressor() override;
    ListingCompressor(const ListingCompressor&) = delete;
    ListingCompressor& operator=(const ListingCompressor&) = delete;

    // Waiting for a worker or being compressed.
    bool IsPreparing(const std::string& user) const;
    // Queues the user's listing; ignored while one is being prepared.
    void Request(const std::string& user);

signals:
    // The whole message, ready to send; empty if compression failed.
    void ListingReady(std::string user, QByteArray message);

private:
    // What a worker shares with the compressor: who to report to, cleared
    // under the lock when the compressor goes.
    struct Link;

    void StartWaiting();
    void OnCompressed(const std::string& user, const QByteArray& message);

    BodyBuilder m_buildBody;
    std::shared_ptr<Link> m_link;
    std::set<std::string> m_preparing;
    std::deque<std::string> m_waiting;
    int m_running = 0;
};
