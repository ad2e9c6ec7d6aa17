#pragma once

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QElapsedTimer>
#include <QObject>

#include "sharing/FolderListing.h"
#include "store/DataHandler.h"

class FolderLister;
class Item;
class ItemPtr;
class SharedFoldersManager;
class Type;

// Walks the shared folders and brings the index in the store in line with
// what is on disk. The disk is read by a FolderLister on its own thread; the
// store is changed only here, on the event loop, in slices of about 20 ms so
// a large share never freezes the window.
//
// A rescan leaves every folder connected to its root while it runs, so
// searches keep finding the share; folders a root no longer reached are let
// go only at the end.
class ShareScanner : public QObject, public DataHandler
{
    Q_OBJECT

public:
    static constexpr int SliceMilliseconds = 20;

    explicit ShareScanner(SharedFoldersManager& manager);
    ~ShareScanner() override;
    ShareScanner(const ShareScanner&) = delete;
    ShareScanner& operator=(const ShareScanner&) = delete;

    // Every root again; counts start from zero and Finished reports them.
    // Asked for while a scan runs, it follows that scan.
    void RescanAll();
    // One directory and everything below it, as part of a root; joins the
    // scan under way, if any.
    void ScanFolder(const std::string& directory, const std::string& rootPath);
    bool IsBusy() const { return m_busy; }
    // Runs the event loop until no scan is left.
    void Wait();

    // Connects a file to every word of its full path.
    static void Tokenize(ItemPtr file);

signals:
    void Progress(int folders, int files);
    void Finished(int added, int removed);
    void Idle();

private slots:
    void ApplySlice();

private:
    // The directory being applied: the files it had before and what the
    // disk says it has now.
    struct Application
    {
        FolderListing listing;
        Item* root = nullptr;
        Item* folder = nullptr;
        std::size_t next = 0;
        // The files the directory had, by name in byte order; a file is
        // struck out (set to null) once the listing names it again, and
        // what is left at the end has gone from the disk.
        std::vector<std::pair<std::string_view, Item*>> known;
        std::vector<Item*> folderTokens;
        bool folderTokensReady = false;
    };

    void StartPass(bool rescan);
    void FinishPass();
    void QueueSlice();
    void Begin(FolderListing&& listing);
    bool Continue(const QElapsedTimer& slice);
    void ApplyFile(const FolderListing& listing, const FolderListing::File& entry);
    // The file the directory had under this name, struck out of the known
    // ones; null for a name it did not have.
    Item* TakeKnown(std::string_view name);
    void ConnectTokens(Item* file, std::string_view name);
    // Lets go of the folders a root did not reach in this rescan; true when
    // there were any.
    bool ReleaseUnreachedFolders();
    // Adds the files of folders without a root to the removed count and
    // returns how many such folders there are.
    int CountOrphanedFolders();
    void OnRootRemoved(Item* root);
    void RequestMP3Scans();
    static bool IsMP3Name(std::string_view name);

    SharedFoldersManager& m_manager;
    std::unique_ptr<FolderLister> m_lister;
    Type* m_rootType;
    Type* m_folderType;
    Type* m_fileType;
    Type* m_nameType;
    Type* m_sizeType;
    Type* m_scannedType;
    Type* m_tokenType;

    bool m_busy = false;
    bool m_rescanPass = false;
    bool m_rescanPending = false;
    bool m_sliceQueued = false;
    int m_walksLeft = 0;
    std::deque<FolderListing> m_waiting;
    std::unique_ptr<Application> m_current;
    // MP3 files met in the current slice that the scanner has not been through.
    std::vector<std::string> m_mp3Paths;
    // Scratch for the words of one file name.
    std::string m_lowerName;
    std::vector<std::string_view> m_words;
    std::vector<Item*> m_wordTokens;
    std::vector<Item*> m_fileTokens;

    int m_added = 0;
    int m_removed = 0;
    int m_folders = 0;
    int m_files = 0;
    // For a rescan: the roots walked, and the directories each reached.
    std::set<std::string> m_passRoots;
    std::unordered_map<std::string, std::unordered_set<std::string>> m_reached;
};
