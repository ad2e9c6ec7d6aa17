#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfoMap.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "streams/MemStream.h"
#include "streams/UserStats.h"

class Item;
class ListingCompressor;
class MP3Scanner;
class ShareScanner;
class Type;

// Everything we share: the root folders with who may see them, every folder
// and file below them, what the MP3 scanner found, and an index from every
// word of every path to the files containing it. The index lives in the
// store and survives restarts through the snapshot; the start-up rescan
// brings it up to date with the disk.
//
// It answers searches coming down the search tree, serves our share list
// and folder contents to peers, stores the listings peers send us, and
// tells the server how much we share.
class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    SharedFoldersManager();
    ~SharedFoldersManager() override;
    SharedFoldersManager(const SharedFoldersManager&) = delete;
    SharedFoldersManager& operator=(const SharedFoldersManager&) = delete;

    // After the snapshot is loaded: watches for new roots and starts the
    // start-up rescan.
    void Init();

    // Brings the index in line with the disk: new files are added, vanished
    // ones removed, kept ones keep their attributes. Runs in slices on the
    // event loop and ends with SharedFilesRescanned; a request while one
    // runs is carried out after it.
    void RescanShares();
    bool IsRescanning() const;
    // Runs the event loop until no scan is left; for tools and tests.
    void WaitForRescan();

    void OnSharedFolderAdded(Item* root);
    // Scans one directory and everything below it as part of a root.
    void AddSharedFiles(const std::string& directory, const std::string& rootPath);
    void TokenizeSharedFile(ItemPtr file);
    static bool IsSearchTokenSeparator(unsigned char c);

    // Shares a folder (made absolute, without a trailing separator): with
    // everybody when `everyone`, otherwise with everybody on the user list
    // when `userList`; members of `groups` may see it either way. The new
    // root starts its scan at once. Sharing a root again replaces who may
    // see it.
    ItemPtr ShareFolder(const std::string& path, bool everyone, bool userList,
                        const std::vector<std::string>& groups);
    // Stops sharing these roots and drops what only they held; returns how
    // many of them were shared.
    int UnshareFolders(const std::vector<std::string>& paths);

    // Who may see what.
    bool IsFileSharedWithUser(ItemPtr file, const std::string& user);
    ItemSet GetUserSharedFolders(const std::string& user);
    // The "shared_file" a local path names, found regardless of case and of
    // doubled or trailing separators; the null item when there is none.
    ItemPtr GetSharedFileItem(const std::string& path);
    // The file a peer names by its shared path ("\" separators), only when
    // one of our roots still holds it and admits the user; the null item
    // otherwise.
    ItemPtr GetSharedFileForUser(const std::string& user, const std::string& sharedPath);

    // Answers a search of another user with at most one peer message.
    void ProcessSearch(const std::string& user, unsigned int token, const std::string& text);
    // Our whole share as the user may see it, ready to send. Built and
    // compressed in the call; peers' requests are served without blocking.
    MemStream GetSharedFilesMessage(const std::string& user);

    MP3Scanner* GetMP3Scanner() const { return m_mp3Scanner; }
    // Hands MP3 files the scanner has not been through to it, announcing
    // each with MP3ScanRequired.
    void RequestMP3Scans(std::vector<std::string>&& paths);

public slots:
    void OnConnectedToServer();
    void OnScanningFinished();
    void OnReceivedUserStats(std::string user, UserStats stats);
    void OnMP3Scanned(QString path, int version, QString channelMode, int frequencyIndex, bool vbr,
                      int bitrate);
    void OnDNetSearchRequest(std::string user, quint32 token, std::string text);
    void OnSharedFileListRequested(std::string user);
    void OnFilesInFoldersRequested(std::string user, quint32 token, std::string folder);
    void OnUserShare(std::string user, FileInfoMap& share,
                     AttributeTranslationTable& translationTable);

signals:
    void SharedFilesRescanned(int added, int removed);
    // While a scan runs: folders and files gone through so far.
    void RescanProgress(int folders, int files);
    // The scanner has nothing left to do: after a rescan, and after the scan
    // of a root shared while none ran.
    void ScanningFinished();
    void MP3ScanRequired(QString path);

private:
    static void SendShareSize();
    // A root's key: absolute, without a trailing separator.
    static std::string RootPath(const std::string& path);
    // The first indexed file the local path names (case-insensitively) that
    // `accept` lets through.
    ItemPtr FindSharedFile(const std::string& path, const std::function<bool(ItemPtr)>& accept);
    void OnFileNameAdded(Item* name);
    void OnFolderAdded(Item* folder);
    void OnSharedFilesListReady(std::string user, QByteArray message);

    QThread m_mp3Thread;
    MP3Scanner* m_mp3Scanner = nullptr;
    ShareScanner* m_scanner = nullptr;
    ListingCompressor* m_listingCompressor = nullptr;
    // Asked for with every file the index adds; looked up once.
    Type* m_lowerNameType = nullptr;
};

extern SharedFoldersManager* sharedFoldersManager;
