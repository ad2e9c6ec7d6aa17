#include "sharing/ShareScanner.h"

#include <algorithm>
#include <utility>

#include <QEventLoop>
#include <QMetaObject>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "sharing/FolderLister.h"
#include "sharing/SearchTokenizer.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

using namespace SharingTypes;

ShareScanner::ShareScanner(SharedFoldersManager& manager)
    : m_manager(manager), m_lister(std::make_unique<FolderLister>()),
      m_rootType(d.GetType(SharedFolder)), m_folderType(d.GetType(SharedFileFolder)),
      m_fileType(d.GetType(SharedFile)), m_nameType(d.GetType(SharedFileName)),
      m_sizeType(d.GetType(SharedFileSize)), m_scannedType(d.GetType(IsScanned)),
      m_tokenType(d.GetType(SearchToken))
{
    connect(m_lister.get(), &FolderLister::ListingsReady, this, &ShareScanner::QueueSlice,
            Qt::QueuedConnection);
    AddItemRemovedHandler(this, SharedFolder, &ShareScanner::OnRootRemoved);
}

ShareScanner::~ShareScanner()
{
    RemoveDataHandlers();
    m_lister.reset();
}

void ShareScanner::RescanAll()
{
    if (m_busy) {
        m_rescanPending = true;
        return;
    }
    StartPass(true);
    std::vector<Item*> roots = m_rootType->GetItemsInOrder();
    std::sort(roots.begin(), roots.end(),
              [](Item* a, Item* b) { return a->AsString() < b->AsString(); });
    for (Item* root : roots)
        m_manager.OnSharedFolderAdded(root);
    // Even without roots the end of the pass still has to run, and always
    // from the event loop, as it does after a real walk.
    QueueSlice();
}

void ShareScanner::ScanFolder(const std::string& directory, const std::string& rootPath)
{
    if (!m_busy)
        StartPass(false);
    ++m_walksLeft;
    m_passRoots.insert(rootPath);
    m_lister->Walk(directory, rootPath);
}

void ShareScanner::Wait()
{
    if (!m_busy)
        return;
    QEventLoop loop;
    connect(this, &ShareScanner::Idle, &loop, &QEventLoop::quit);
    loop.exec();
}

void ShareScanner::StartPass(bool rescan)
{
    m_busy = true;
    m_rescanPass = rescan;
    m_folders = 0;
    m_files = 0;
    m_passRoots.clear();
    m_reached.clear();
    if (rescan) {
        m_added = 0;
        m_removed = 0;
    }
}

void ShareScanner::QueueSlice()
{
    if (m_sliceQueued || !m_busy)
        return;
    m_sliceQueued = true;
    QMetaObject::invokeMethod(this, &ShareScanner::ApplySlice, Qt::QueuedConnection);
}

void ShareScanner::ApplySlice()
{
    m_sliceQueued = false;
    if (!m_busy)
        return;
    QElapsedTimer slice;
    slice.start();
    while (slice.elapsed() < SliceMilliseconds) {
        if (!m_current) {
            if (m_waiting.empty())
                m_lister->TakeListings(m_waiting);
            if (m_waiting.empty())
                break;
            FolderListing listing = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (listing.endOfWalk)
                --m_walksLeft;
            else
                Begin(std::move(listing));
            continue;
        }
        if (!Continue(slice))
            break;
    }
    RequestMP3Scans();
    emit Progress(m_folders, m_files);
    // A slice that ran out of time just as it finished a folder has not
    // looked at the lister again. The lister tells the loop only once until
    // its listings are taken, so what it holds now would never be asked for.
    if (!m_current && m_waiting.empty())
        m_lister->TakeListings(m_waiting);
    if (m_current || !m_waiting.empty())
        QueueSlice();
    else if (m_walksLeft == 0)
        FinishPass();
}

void ShareScanner::Begin(FolderListing&& listing)
{
    // The root may have been unshared since the walk started.
    Item* root = m_rootType->HasItem(listing.rootPath);
    if (!root)
        return;
    ++m_folders;
    Log(LogCategory::Shared, 1,
        QString("Adding folder %1 as part of sharing %2")
            .arg(QString::fromStdString(listing.directory),
                 QString::fromStdString(listing.rootPath)));

    auto application = std::make_unique<Application>();
    application->root = root;
    application->folder = m_folderType->GetItem(listing.directory);
    application->folder->Connect(root);
    if (m_rescanPass)
        m_reached[listing.rootPath].insert(listing.directory);
    // A rescan meets every file it knows again: one sorted array per
    // directory costs far less than a hash table of copied names, and a
    // name is looked up by binary search among a directory's few files.
    // The names stay valid while this directory is applied, since only
    // this loop removes its files.
    if (const ItemSet* files = application->folder->Partners(m_fileType)) {
        std::vector<std::pair<std::string_view, Item*>>& known = application->known;
        known.reserve(files->size());
        for (Item* file : *files) {
            Item* name = file->HasItem(m_nameType);
            known.emplace_back(name ? std::string_view(name->AsString()) : std::string_view(),
                               file);
        }
        std::sort(known.begin(), known.end());
    }
    application->listing = std::move(listing);
    m_current = std::move(application);
}

bool ShareScanner::Continue(const QElapsedTimer& slice)
{
    Application& current = *m_current;
    const std::vector<FolderListing::File>& files = current.listing.files;
    while (current.next < files.size()) {
        if (slice.elapsed() >= SliceMilliseconds)
            return false;
        ApplyFile(current.listing, files[current.next++]);
    }
    // Whatever the directory no longer lists has gone from the disk.
    for (const auto& [name, file] : current.known)
        if (file) {
            file->Remove();
            ++m_removed;
        }
    m_current.reset();
    return true;
}

void ShareScanner::ApplyFile(const FolderListing& listing, const FolderListing::File& entry)
{
    Application& current = *m_current;
    const std::string_view name = listing.Name(entry);
    Item* file = TakeKnown(name);
    if (!file) {
        // A directory lists each name once, so a new file need not be
        // remembered by name for the rest of its listing.
        file = m_fileType->NewItem();
        file->Connect(current.folder);
        file->Connect(m_nameType->GetItem(std::string(name)));
        file->Connect(m_sizeType->GetItem(entry.size));
        ++m_added;
    }
    ++m_files;
    if (IsMP3Name(name) && !file->IsConnected(m_scannedType)) {
        const std::string& directory = listing.directory;
        std::string& path = m_mp3Paths.emplace_back();
        path.reserve(directory.size() + 1 + name.size());
        path.append(directory);
        if (directory.empty() || directory.back() != '/')
            path.push_back('/');
        path.append(name);
    }
    // A kept file's words come from the same path as before; only a file
    // that has none yet (new, or loaded from the snapshot) needs them.
    if (!file->IsConnected(m_tokenType))
        ConnectTokens(file, name);
}

Item* ShareScanner::TakeKnown(std::string_view name)
{
    // A name the directory held twice (an old snapshot may have that) is
    // kept once; the other file is struck out at the end like any gone one.
    std::vector<std::pair<std::string_view, Item*>>& known = m_current->known;
    auto at =
        std::lower_bound(known.begin(), known.end(), name,
                         [](const auto& entry, std::string_view n) { return entry.first < n; });
    for (; at != known.end() && at->first == name; ++at)
        if (Item* file = at->second) {
            at->second = nullptr;
            return file;
        }
    return nullptr;
}

void ShareScanner::ConnectTokens(Item* file, std::string_view name)
{
    // The directory's words are the same for all its files: look them up
    // once per directory. A path separator splits words in both passes, so
    // the words of directory + "\" + name are those of each half.
    Application& current = *m_current;
    if (!current.folderTokensReady) {
        SearchTokenizer::ForEachToken(
            SearchTokenizer::LowerCase(current.listing.directory), [&](std::string_view word) {
                current.folderTokens.push_back(m_tokenType->GetItem(std::string(word)));
            });
        std::sort(current.folderTokens.begin(), current.folderTokens.end());
        current.folderTokens.erase(
            std::unique(current.folderTokens.begin(), current.folderTokens.end()),
            current.folderTokens.end());
        current.folderTokensReady = true;
    }
    // Both passes often find the same word; look each up once. The buffers
    // live as long as the scanner so that a file costs no allocations here.
    SearchTokenizer::LowerCase(name, m_lowerName);
    m_words.clear();
    SearchTokenizer::ForEachToken(m_lowerName,
                                  [this](std::string_view word) { m_words.push_back(word); });
    std::sort(m_words.begin(), m_words.end());
    m_words.erase(std::unique(m_words.begin(), m_words.end()), m_words.end());
    // All of a file's words at once: a new file's set of them is then
    // built in one go rather than grown a word at a time.
    m_tokenType->GetItems(m_words, m_wordTokens);
    m_fileTokens.assign(current.folderTokens.begin(), current.folderTokens.end());
    m_fileTokens.insert(m_fileTokens.end(), m_wordTokens.begin(), m_wordTokens.end());
    std::sort(m_fileTokens.begin(), m_fileTokens.end());
    m_fileTokens.erase(std::unique(m_fileTokens.begin(), m_fileTokens.end()), m_fileTokens.end());
    file->ConnectAll(m_fileTokens);
}

void ShareScanner::Tokenize(ItemPtr file)
{
    const std::string path =
        file[SharedFileFolder].AsString() + "\\" + file[SharedFileName].AsString();
    Type* tokens = d.GetType(SearchToken);
    SearchTokenizer::ForEachToken(SearchTokenizer::LowerCase(path), [&](std::string_view word) {
        file.Connect(tokens->GetItem(std::string(word)));
    });
}

void ShareScanner::RequestMP3Scans()
{
    // Sent together at the end of a slice rather than one by one while
    // applying: the scanner thread then wakes once for a burst of paths
    // instead of once for every file, which otherwise costs the event loop
    // more than indexing the file does.
    if (m_mp3Paths.empty())
        return;
    m_manager.RequestMP3Scans(std::move(m_mp3Paths));
    m_mp3Paths.clear();
}

bool ShareScanner::IsMP3Name(std::string_view name)
{
    if (name.size() <= 4)
        return false;
    const std::string_view extension = name.substr(name.size() - 4);
    return extension == ".mp3" || extension == ".MP3";
}

void ShareScanner::FinishPass()
{
    if (m_rescanPass) {
        const bool released = ReleaseUnreachedFolders();
        const int orphanedFolders = CountOrphanedFolders();
        // Collecting walks the whole store, which costs more than an
        // unchanged rescan itself; when nothing of the index came loose
        // there is nothing of ours to collect, and the periodic collection
        // takes care of the rest.
        if (m_removed > 0 || released || orphanedFolders > 0)
            d.RemoveDisconnectedItems();
    }
    const bool rescan = m_rescanPass;
    m_busy = false;
    m_passRoots.clear();
    m_reached.clear();
    if (rescan)
        emit Finished(m_added, m_removed);
    if (m_rescanPending && !m_busy) {
        m_rescanPending = false;
        RescanAll();
    }
    if (!m_busy)
        emit Idle();
}

bool ShareScanner::ReleaseUnreachedFolders()
{
    bool released = false;
    for (const std::string& rootPath : m_passRoots) {
        Item* root = m_rootType->HasItem(rootPath);
        const ItemSet* folders = root ? root->Partners(m_folderType) : nullptr;
        if (!folders)
            continue;
        const std::unordered_set<std::string>& reached = m_reached[rootPath];
        std::vector<Item*> gone;
        for (Item* folder : *folders)
            if (!reached.count(folder->AsString()))
                gone.push_back(folder);
        for (Item* folder : gone)
            root->Disconnect(folder);
        released = released || !gone.empty();
    }
    return released;
}

int ShareScanner::CountOrphanedFolders()
{
    // A directory no root holds any more has vanished, and its files with it.
    int folders = 0;
    for (Item* folder : m_folderType->GetItemsInOrder()) {
        if (folder->IsConnected(m_rootType))
            continue;
        ++folders;
        if (const ItemSet* files = folder->Partners(m_fileType))
            m_removed += static_cast<int>(files->size());
    }
    return folders;
}

void ShareScanner::OnRootRemoved(Item* root)
{
    // The directory being applied may belong to the root going away; its
    // files are left to garbage collection like the rest of that share.
    if (m_current && m_current->root == root)
        m_current.reset();
}
