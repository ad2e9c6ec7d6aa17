#pragma once

#include <map>
#include <memory>
#include <string>

#include <QDateTime>
#include <QObject>
#include <QString>

#include "sharing/UploadAvailability.h"
#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"
#include "transfers/UploadSpeedLimits.h"

class QTcpSocket;
class QFile;
class QThread;
struct ConnectionInfo;

// Both transfer queues of the client. Downloads: what we asked other users
// for, kept queued with them until they offer the file, received into the
// "downloading" folder and moved into "complete". Uploads: what others asked
// us for, served one per user under a slot count, in an order that favours
// our user-list groups and privileged users, under a shared speed limit.
//
// Every entry lives in the store (TransferTypes.h); the manager owns the
// runtime objects its items stand for (sockets, files, threads, counters and
// times) and frees them when an entry leaves an active status or goes away.
// Transfer threads report through queued signals; the entry is found from
// the thread that sent them.
//
// The class is spread over several files: TransferQueueManager.cpp
// (construction, timers, start and end), DownloadQueue.cpp, UploadQueue.cpp
// and TransferNegotiation.cpp.
class TransferQueueManager : public QObject,
                             public DataHandler,
                             public DataLoadedEventHandler,
                             public UploadAvailability
{
    Q_OBJECT

public:
    TransferQueueManager();
    ~TransferQueueManager() override;
    TransferQueueManager(const TransferQueueManager&) = delete;
    TransferQueueManager& operator=(const TransferQueueManager&) = delete;

    // Interrupted downloads go back to "queued", their users are tracked,
    // and the upload limit is applied.
    void DataLoaded() override;

    // Downloads.
    ItemPtr AddDownload(const std::string& user, const std::string& fileName,
                        const std::string& remoteFolder, qint64 fileSize, int subfolderSaveLevel);
    ItemPtr GetDownloadEntry(const std::string& user, const std::string& fileName,
                             const std::string& remoteFolder) const;
    void QueueDownloadIfUserOnline(ItemPtr download);
    void RequestDownloadPlaceInLine(ItemPtr download);
    void RequestUserDownloadsPlaceInLine(const std::string& user);
    bool IsActivelyDownloadingFromUser(const std::string& user) const;
    void SetDownloadEntryStatus(ItemPtr download, const std::string& status);
    // How much of the file we have: the running transfer's offset, the
    // whole size once complete, otherwise the partial file's length.
    qint64 GetDownloadPosition(ItemPtr download) const;
    // The last speed a running download or upload reported; 0 otherwise.
    int GetTransferSpeed(ItemPtr entry) const;
    // Stops and forgets a download; its files stay on disk.
    void RemoveDownload(ItemPtr download);

    // Where a download lives on disk, "\" separated; see FileSystemPath.
    // Every component that comes from the peer is made safe first, so
    // nothing a peer names can lead outside the download folder.
    QString GetDownloadTargetFolder(ItemPtr download, bool complete) const;
    QString GetDownloadTargetPath(ItemPtr download, bool complete) const;
    QString GetDownloadRelativeDownloadFolder(ItemPtr download) const;
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr download) const;
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr download);
    // A "\" separated local path in the form the file system takes.
    static QString FileSystemPath(const QString& path);

    // Uploads.
    void StartNewUploads();
    bool UploadEntrySortCompare(ItemPtr a, ItemPtr b) const;
    int GetUserGroupDownloadPriority(const std::string& user) const;
    void OrderNewUpload(ItemPtr upload);
    void SetUploadEntryStatus(ItemPtr upload, const std::string& status);
    // The running upload's offset, the whole size once complete, else 0.
    qint64 GetUploadPosition(ItemPtr upload) const;
    // Stops and forgets an upload without telling the peer.
    void RemoveUpload(ItemPtr upload);
    void SetUploadSlots(int count);
    void SetUploadSpeedLimit(int limit);
    void EnableUploadSpeedLimit(bool on);
    void DetermineUploadSpeedLimit();
    // The total upload limit in force; 0 is unlimited.
    int GetUploadSpeed() const;
    UploadSpeedLimits& SpeedLimits() { return m_speedLimits; }
    // UploadAvailability: what search answers tell the searcher.
    bool IsFreeToUpload() const override;
    unsigned int QueuedUploadCount() const override;
    // Hides all our shares from a user and drops the user's uploads, or
    // shows them again.
    void UnshareUser(const std::string& user);
    void ReshareUser(const std::string& user);

public slots:
    void PeriodicCheck();
    void EveryHalfMinute();
    void DetermineUploadsEffectiveOrder();

    // Peer messages about our downloads.
    void OnDownloadPlaceInLine(std::string user, std::string file, int place);
    void OnUploadDeniedNotification(std::string user, std::string file, std::string reason);
    void OnUploadFailedNotification(std::string user, std::string file);
    // A peer asks us to queue a file for it.
    void OnQueueUploadRequested(std::string user, std::string file);

    // Negotiation.
    void OnFileTransferRequest(std::string user, int direction, unsigned int req, std::string file,
                               qint64 fileSize);
    void OnFileTransferResponse(std::string user, unsigned int req, bool accepted,
                                bool receivedFileSize, qint64 fileSize, std::string denialReason);
    void OnFileConnection(std::string user, QTcpSocket* socket, unsigned int req);
    void OnFileConnectionAccepted(std::string user, QTcpSocket* socket);

    // From the transfer threads.
    void OnDownloadProgress(qint64 position, int bytesPerSecond);
    void OnDownloadComplete();
    void OnDownloadError();
    void OnUploadProgress(qint64 position, int bytesPerSecond);
    void OnUploadComplete();
    void OnUploadError();

signals:
    void TransfersLoaded();
    void DownloadProgressed(ItemPtr download);
    void UploadProgressed(ItemPtr upload);
    void CompleteDownloadAdded(ItemPtr record);
    // Every status change, for views that follow the queues.
    void DownloadStatusChanged(ItemPtr download);
    void UploadStatusChanged(ItemPtr upload);
    void DownloadPlaceInLineChanged(ItemPtr download);

private:
    // Store handlers.
    void OnUserOnline(ConnectionInfo& info);
    void OnUserOnline(Item* user);
    void OnRuntimeValueRemoved(Item* item);

    // Construction steps.
    void ConnectPeerMessenger();
    void StoreDefaults();
    void CreateStatusItems();

    // Runtime values: objects owned here, referenced by item values.
    ItemPtr NewTime(const char* typeName);
    ItemPtr NewCounter(const char* typeName, qint64 value);
    static QDateTime* TimeOf(ItemPtr item);
    static qint64* CounterOf(ItemPtr item);
    void AttachProgressValues(ItemPtr entry, const char* positionType, qint64 position);
    void RecordProgress(ItemPtr entry, const char* positionType, qint64 position,
                        int bytesPerSecond);
    void RemoveRuntimeItems(ItemPtr entry, const char* threadType, const char* socketType,
                            const char* fileType, const char* positionType);
    static void StopThread(QThread* thread, QTcpSocket* socket);
    static void ReleaseSocket(QTcpSocket* socket);

    // Downloads.
    void QueueWithPeer(ItemPtr download);
    void RefreshPlacesInLine();
    ItemPtr FindDownloadByPath(const std::string& user, const std::string& path) const;
    ItemPtr DownloadOfSender() const;
    void RecordCompleteDownload(ItemPtr download);
    QString DownloadRoot() const;
    QStringList LocalSubfolders(ItemPtr download) const;

    // Uploads.
    int ActiveUploadCount() const;
    bool HasActiveUpload(ItemPtr user) const;
    void StartUpload(ItemPtr upload);
    void TimeOutEarlyUploads();
    ItemPtr UploadOfSender() const;

    UploadSpeedLimits m_speedLimits;
    // The last entry of the effective upload order; null when unknown.
    Item* m_lastEffectiveUpload = nullptr;
    // Set by the destructor: runtime objects are freed at once.
    bool m_stopping = false;
    std::map<QDateTime*, std::unique_ptr<QDateTime>> m_times;
    std::map<qint64*, std::unique_ptr<qint64>> m_counters;
};

extern TransferQueueManager* transferQueueManager;
