#pragma once

#include <deque>
#include <string>

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include "sharing/FolderListing.h"

// Reads shared directories on a thread of its own so that a large share
// never holds the event loop while the disk answers. Each walk goes depth
// first: a directory's files, then each subdirectory in turn with
// everything below it, both in name order. Hidden entries are left out, and
// links count as what they point to. The lister never touches the store: the
// event loop takes its records and applies them.
class FolderLister : public QThread
{
    Q_OBJECT

public:
    FolderLister();
    ~FolderLister() override;
    FolderLister(const FolderLister&) = delete;
    FolderLister& operator=(const FolderLister&) = delete;

    // Queues a walk of `directory` and everything below it on behalf of a
    // root; its records end with one marked endOfWalk.
    void Walk(const std::string& directory, const std::string& rootPath);
    // Moves every record listed so far to the end of `out`.
    void TakeListings(std::deque<FolderListing>& out);

signals:
    // Records are waiting and nobody has been told yet: sent once a batch
    // has gathered or waited a while, and when a walk ends.
    void ListingsReady();

protected:
    void run() override;

private:
    struct WalkRequest
    {
        std::string directory;
        std::string rootPath;
    };

    void RunWalk(const WalkRequest& request);
    void Push(FolderListing&& listing);
    bool IsStopping();

    QMutex m_mutex;
    QWaitCondition m_requestsChanged;
    QWaitCondition m_listingsTaken;
    std::deque<WalkRequest> m_requests;
    std::deque<FolderListing> m_listings;
    // Whether the waiting listings have been announced, and since when the
    // first of them waits.
    bool m_told = false;
    QElapsedTimer m_firstUntold;
    bool m_stopping = false;
};
