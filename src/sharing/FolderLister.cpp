#include "sharing/FolderLister.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMutexLocker>

namespace {

// How far the lister may run ahead of the event loop, in directories; beyond
// this it waits rather than hold a whole disk's listing in memory.
constexpr std::size_t MaxWaitingListings = 4096;
// When the event loop hears of waiting listings.
constexpr std::size_t TellAfterListings = 64;
constexpr qint64 TellAfterMilliseconds = 10;

std::string Child(const std::string& directory, const char* name)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + name;
    return directory + '/' + name;
}

// A directory is known by its device and inode, whatever path led to it.
struct DirectoryId
{
    dev_t device;
    ino_t inode;
    bool operator==(const DirectoryId& o) const { return device == o.device && inode == o.inode; }
};

struct DirectoryIdHash
{
    std::size_t operator()(const DirectoryId& id) const
    {
        return std::hash<std::uint64_t>()(std::uint64_t(id.inode) * 31 + std::uint64_t(id.device));
    }
};

// Name order ignoring ASCII case, so a listing reads the way a file browser
// shows the directory.
bool NameBefore(const char* a, const char* b)
{
    const int folded = strcasecmp(a, b);
    return folded != 0 ? folded < 0 : std::strcmp(a, b) < 0;
}

bool NameBefore(const std::string& a, const std::string& b)
{
    return NameBefore(a.c_str(), b.c_str());
}

// Closes the directory stream however the listing ends.
struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

using Visited = std::unordered_set<DirectoryId, DirectoryIdHash>;

// Reads one directory into the listing and the names of its subdirectories;
// false when the walk has been here before.
bool List(FolderListing& listing, std::vector<std::string>& subdirectories, Visited& visited)
{
    // A directory that cannot be opened lists nothing, which the index
    // reads as "everything in it has gone".
    const int fd = open(listing.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return true;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !visited.insert({status.st_dev, status.st_ino}).second)
        return false;
    while (const dirent* entry = readdir(dir.get())) {
        // Hidden entries, "." and ".." included, are never shared.
        if (entry->d_name[0] == '.')
            continue;
        if (entry->d_type == DT_DIR) {
            subdirectories.emplace_back(entry->d_name);
            continue;
        }
        // Links count as what they point to; a dangling link, a device, a
        // pipe or a socket is not a file to share.
        if (fstatat(fd, entry->d_name, &status, 0) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            subdirectories.emplace_back(entry->d_name);
        else if (S_ISREG(status.st_mode))
            listing.AddFile(entry->d_name, std::strlen(entry->d_name),
                            static_cast<long long>(status.st_size));
    }
    return true;
}

} // namespace

FolderLister::FolderLister() = default;

FolderLister::~FolderLister()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_requestsChanged.wakeAll();
        m_listingsTaken.wakeAll();
    }
    wait();
}

void FolderLister::Walk(const std::string& directory, const std::string& rootPath)
{
    {
        QMutexLocker lock(&m_mutex);
        m_requests.push_back({directory, rootPath});
        m_requestsChanged.wakeAll();
    }
    if (!isRunning())
        start();
}

void FolderLister::TakeListings(std::deque<FolderListing>& out)
{
    QMutexLocker lock(&m_mutex);
    for (FolderListing& listing : m_listings)
        out.push_back(std::move(listing));
    m_listings.clear();
    m_told = false;
    m_listingsTaken.wakeAll();
}

void FolderLister::run()
{
    for (;;) {
        WalkRequest request;
        {
            QMutexLocker lock(&m_mutex);
            while (m_requests.empty() && !m_stopping)
                m_requestsChanged.wait(&m_mutex);
            if (m_stopping)
                return;
            request = std::move(m_requests.front());
            m_requests.pop_front();
        }
        RunWalk(request);
        FolderListing end;
        end.rootPath = request.rootPath;
        end.endOfWalk = true;
        Push(std::move(end));
    }
}

bool FolderLister::IsStopping()
{
    QMutexLocker lock(&m_mutex);
    return m_stopping;
}

void FolderLister::RunWalk(const WalkRequest& request)
{
    // Links may point back up the tree; each real directory is listed once
    // per walk, which ends every loop and every detour through a link.
    Visited visited;
    std::vector<std::string> stack{request.directory};
    std::vector<std::string> subdirectories;
    while (!stack.empty() && !IsStopping()) {
        FolderListing listing;
        listing.directory = std::move(stack.back());
        listing.rootPath = request.rootPath;
        stack.pop_back();
        subdirectories.clear();
        if (!List(listing, subdirectories, visited))
            continue;
        std::sort(listing.files.begin(), listing.files.end(),
                  [&listing](const FolderListing::File& a, const FolderListing::File& b) {
                      return NameBefore(listing.CName(a), listing.CName(b));
                  });
        std::sort(subdirectories.begin(), subdirectories.end(),
                  [](const std::string& a, const std::string& b) { return NameBefore(a, b); });
        for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it)
            stack.push_back(Child(listing.directory, it->c_str()));
        Push(std::move(listing));
    }
}

void FolderLister::Push(FolderListing&& listing)
{
    bool tell = false;
    {
        QMutexLocker lock(&m_mutex);
        while (m_listings.size() >= MaxWaitingListings && !m_stopping)
            m_listingsTaken.wait(&m_mutex);
        if (m_stopping)
            return;
        if (m_listings.empty())
            m_firstUntold.start();
        const bool last = listing.endOfWalk;
        m_listings.push_back(std::move(listing));
        // Telling the event loop of every directory woke it tens of
        // thousands of times a rescan, each time for a few files; a batch
        // is told when it is large or old enough, and at the end of a walk.
        tell = !m_told && (last || m_listings.size() >= TellAfterListings ||
                           m_firstUntold.elapsed() >= TellAfterMilliseconds);
        m_told = m_told || tell;
    }
    if (tell)
        emit ListingsReady();
}
