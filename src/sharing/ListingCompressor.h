#pragma once

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
// One listing per user is prepared at a time. Deleting the compressor
// drops the listings still in preparation: a worker that finishes later
// finds nobody to report to.
class ListingCompressor : public QObject
{
    Q_OBJECT

public:
    ListingCompressor();
    ~ListingCompressor() override;
    ListingCompressor(const ListingCompressor&) = delete;
    ListingCompressor& operator=(const ListingCompressor&) = delete;

    bool IsPreparing(const std::string& user) const;
    // Starts on the user's listing; ignored while one is being prepared.
    void Compress(const std::string& user, QByteArray body);

signals:
    // The whole message, ready to send; empty if compression failed.
    void ListingReady(std::string user, QByteArray message);

private:
    // What a worker shares with the compressor: who to report to, cleared
    // under the lock when the compressor goes.
    struct Link;

    void OnCompressed(const std::string& user, const QByteArray& message);

    std::shared_ptr<Link> m_link;
    std::set<std::string> m_preparing;
};
