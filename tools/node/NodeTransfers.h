#pragma once

#include <map>

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "store/ItemPtr.h"

struct NodeCommand;

// The node's words for transfers: adding and removing downloads, listing
// both queues, the upload slots and speed limit, the download folder, and
// hiding our shares from a user. Status changes and progress are printed as
// they happen; progress at most once a second per transfer.
class NodeTransfers : public QObject
{
    Q_OBJECT

public:
    explicit NodeTransfers(QObject* parent = nullptr);

    void ManagersCreated();

    // "USER<TAB>FOLDER<TAB>FILE<TAB>SIZE[<TAB>LEVEL]"
    void Download(const QString& fields);
    // "USER<TAB>FOLDER<TAB>FILE"
    void RemoveDownload(const QString& fields);
    void ListDownloads();
    void ListUploads();
    void SetSlots(const QString& count);
    void SetUploadLimit(const NodeCommand& command);
    void SetDownloadFolder(const QString& path);
    void UnshareUser(const QString& user);
    void ReshareUser(const QString& user);

private slots:
    void OnDownloadStatusChanged(ItemPtr download);
    void OnDownloadProgressed(ItemPtr download);
    void OnPlaceInLineChanged(ItemPtr download);
    void OnUploadStatusChanged(ItemPtr upload);
    void OnUploadProgressed(ItemPtr upload);

private:
    void PrintDownloadProgress(ItemPtr download, qint64 position);
    // Whether a progress line for the entry is due, restarting its clock.
    bool ProgressDue(Item* entry);

    std::map<Item*, QElapsedTimer> m_progressClocks;
    std::map<Item*, qint64> m_speeds;
};
