// The download half of TransferQueueManager: entries, statuses, keeping
// them queued with their peers, and where they live on disk.

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/PathUtils.h"
#include "base/Settings.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "streams/MemStream.h"
#include "transfers/LocalPathSanitizer.h"
#include "transfers/TransferLogging.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

using namespace TransferLogging;
using namespace TransferTypes;

namespace {

// Place-in-line requests to one user go out at most this often.
constexpr qint64 PlaceInLineIntervalMs = 600000;

std::string RemotePath(ItemPtr download)
{
    return download[RemoteFolder].AsString() + "\\" + download[FileName].AsString();
}

bool IsOnline(ItemPtr user)
{
    return user && user.IsConnected(ServerTypes::IsOnline);
}

std::string StatusOf(ItemPtr entry)
{
    return entry[DownloadEntryStatus].AsString();
}

// The user's downloads in the order they were added.
std::list<Item*> DownloadsInOrder(const ItemSet& downloads)
{
    return downloads.SortNumericBy(DownloadOrder, true);
}

} // namespace

ItemPtr TransferQueueManager::GetDownloadEntry(const std::string& user, const std::string& fileName,
                                               const std::string& remoteFolder) const
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    ItemPtr name = ExistingItem(FileName, fileName);
    ItemPtr folder = ExistingItem(RemoteFolder, remoteFolder);
    if (!userItem || !name || !folder)
        return ItemPtr();
    return userItem.GetItems(DownloadEntry).Connected(name).Connected(folder).first();
}

ItemPtr TransferQueueManager::AddDownload(const std::string& user, const std::string& fileName,
                                          const std::string& remoteFolder, qint64 fileSize,
                                          int subfolderSaveLevel)
{
    if (ItemPtr existing = GetDownloadEntry(user, fileName, remoteFolder))
        return existing;
    ItemPtr download = d.GetType(DownloadEntry)->NewItem();
    ItemPtr userItem = d.GetType(ServerTypes::User)->GetItem(user);
    download.Connect(userItem);
    download.Connect(d.GetType(FileName)->GetItem(fileName));
    download.Connect(d.GetType(RemoteFolder)->GetItem(remoteFolder));
    download.Connect(d.GetType(FileSize)->GetItem(static_cast<long long>(fileSize)));
    download.Connect(d.GetType(SubfolderSaveLevel)->GetItem(subfolderSaveLevel));
    const long long order = Settings::GetInt("transfer_order_counter", 1) + 1;
    download.Connect(d.GetType(DownloadOrder)->GetItem(order));
    Settings::Set("transfer_order_counter", order);
    if (gp_server)
        gp_server->TrackUser(user);

    if (DoesDownloadItemCompleteFilenameExist(download)) {
        SetDownloadEntryStatus(download, Download::Complete);
        return download;
    }
    SetDownloadEntryStatus(download, Download::Queued);
    if (IsOnline(userItem)) {
        peerMessenger->QueueDownload(user, RemotePath(download));
        RequestDownloadPlaceInLine(download);
    }
    return download;
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr download, const std::string& status)
{
    ItemPtr previous = download[DownloadEntryStatus];
    const bool wasActive = previous && previous.IsConnected(IsActive);
    ItemPtr next = d.GetType(DownloadEntryStatus)->GetItem(status);
    download.Connect(next);
    download.Connect(d.GetType(LastStatusChangeTime)->GetItem(Clock::NowText().toStdString()));
    if (wasActive && !next.IsConnected(IsActive))
        RemoveRuntimeItems(download, DownloadThread, DownloadSocket, DownloadFile, WritePosition);
    emit DownloadStatusChanged(download);
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr download)
{
    const QString path = Q(RemotePath(download));
    ItemPtr user = download[ServerTypes::User];
    if (StatusOf(download) == Download::LocalError) {
        TransferLog(
            1, QString("Download status %1, not re-queueing %2").arg(Q(StatusOf(download)), path),
            user);
    } else if (IsOnline(user)) {
        TransferLog(1,
                    QString("User %1 appears to still be online, re-queueing %2")
                        .arg(Q(user.AsString()), path),
                    user);
        peerMessenger->QueueDownload(user.AsString(), path.toStdString());
    } else {
        TransferLog(1, QString("User %1 offline, not re-queueing %2").arg(Q(user.AsString()), path),
                    user);
    }
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr download)
{
    ItemPtr user = download[ServerTypes::User];
    TransferLog(1,
                QString("Requesting place in line for download of %1 from %2")
                    .arg(Q(download[FileName].AsString()), Q(user.AsString())),
                user);
    PeerMessages::UploadPlaceInLineRequest request;
    request.m_file = RemotePath(download);
    MemStream message;
    request.Write(message);
    peerMessenger->SendMessage(user.AsString(), message);
}

void TransferQueueManager::RequestUserDownloadsPlaceInLine(const std::string& user)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    if (!userItem)
        return;
    for (Item* download : DownloadsInOrder(userItem.GetItems(DownloadEntry)))
        if (StatusOf(download) == Download::Queued)
            RequestDownloadPlaceInLine(download);
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(const std::string& user) const
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    if (!userItem)
        return false;
    for (Item* download : userItem.GetItems(DownloadEntry))
        if (StatusOf(download) == Download::Downloading)
            return true;
    return false;
}

ItemPtr TransferQueueManager::FindDownloadByPath(const std::string& user,
                                                 const std::string& path) const
{
    return GetDownloadEntry(user, GetFileName(path), GetFolder(path));
}

void TransferQueueManager::OnDownloadPlaceInLine(std::string user, std::string file, int place)
{
    ItemPtr download = FindDownloadByPath(user, file);
    if (!download)
        return;
    download.Connect(d.GetType(PlaceInLine)->GetItem(place));
    emit DownloadPlaceInLineChanged(download);
}

void TransferQueueManager::OnUserOnline(Item* user)
{
    ItemPtr userItem(user);
    const ItemSet downloads = userItem.GetItems(DownloadEntry);
    if (!downloads.empty())
        TransferLog(1,
                    QString("User %1 went online, processing pending downloads")
                        .arg(Q(userItem.AsString())),
                    userItem);
    for (Item* download : DownloadsInOrder(downloads)) {
        const std::string status = StatusOf(download);
        if (status == Download::Complete || status == Download::Denied)
            continue;
        if (DoesDownloadItemCompleteFilenameExist(download)) {
            SetDownloadEntryStatus(download, Download::Complete);
            continue;
        }
        peerMessenger->QueueDownload(userItem.AsString(), RemotePath(download));
        RequestDownloadPlaceInLine(download);
        TransferLog(2, QString("Queueing %1").arg(Q(ItemPtr(download)[FileName].AsString())),
                    userItem);
    }
    StartNewUploads();
}

void TransferQueueManager::PeriodicCheck()
{
    if (!g(DownloadEntry).Connected(DownloadEntryStatus, Download::Downloading).empty())
        return;
    ItemSet idle = g(DownloadEntry).Connected(DownloadEntryStatus, Download::Aborted);
    idle.Add(g(DownloadEntry).Connected(DownloadEntryStatus, Download::Queued));
    ItemSet waiting;
    for (Item* download : idle)
        if (IsOnline(ItemPtr(download)[ServerTypes::User]))
            waiting.insert(download);
    if (waiting.empty())
        return;
    TransferLog(1, "Not currently downloading anything, re-queueing inactive downloads");
    for (Item* download : DownloadsInOrder(waiting))
        QueueDownloadIfUserOnline(download);
}

// The download half of the half-minute pass.
void TransferQueueManager::RefreshPlacesInLine()
{
    const ItemSet queued = g(DownloadEntry).Connected(DownloadEntryStatus, Download::Queued);
    for (Item* user : queued.GetItems(ServerTypes::User)) {
        ItemPtr userItem(user);
        if (!IsOnline(userItem) || IsActivelyDownloadingFromUser(userItem.AsString()))
            continue;
        ItemPtr last = userItem[LastPlaceInLineRequestTime];
        const QDateTime then = Clock::FromText(Q(last.AsString()));
        if (last && then.isValid() && Clock::AgeMs(then) < PlaceInLineIntervalMs)
            continue;
        RequestUserDownloadsPlaceInLine(userItem.AsString());
        userItem.Connect(
            d.GetType(LastPlaceInLineRequestTime)->GetItem(Clock::NowText().toStdString()));
    }
}

void TransferQueueManager::OnUploadDeniedNotification(std::string user, std::string file,
                                                      std::string reason)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    TransferLog(
        1,
        QString("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(Q(user), Q(file), Q(reason)),
        userItem);
    ItemPtr download = FindDownloadByPath(user, file);
    if (!download) {
        TransferLog(2, "Download not found.", userItem);
        return;
    }
    TransferLog(2, "Download found, marking as denied.", userItem);
    download.Connect(d.GetType(DenialReason)->GetItem(reason));
    SetDownloadEntryStatus(download, Download::Denied);
}

void TransferQueueManager::OnUploadFailedNotification(std::string user, std::string file)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    TransferLog(1,
                QString("Received peer notification from %1 that upload of %2 failed")
                    .arg(Q(user), Q(file)),
                userItem);
    ItemPtr download = FindDownloadByPath(user, file);
    if (!download) {
        TransferLog(2, "Download not found.", userItem);
        return;
    }
    TransferLog(2, "Download found!", userItem);
    QueueDownloadIfUserOnline(download);
}

qint64 TransferQueueManager::GetDownloadPosition(ItemPtr download) const
{
    if (const qint64* position = CounterOf(download[WritePosition]))
        return *position;
    if (StatusOf(download) == Download::Complete)
        return download[FileSize].AsInt64();
    return QFileInfo(FileSystemPath(GetDownloadTargetPath(download, false))).size();
}

void TransferQueueManager::RemoveDownload(ItemPtr download)
{
    RemoveRuntimeItems(download, DownloadThread, DownloadSocket, DownloadFile, WritePosition);
    download.Remove();
}

// ---------------------------------------------------------------------------
// Folder layout

QString TransferQueueManager::FileSystemPath(const QString& path)
{
    QString local = path;
    return local.replace('\\', '/');
}

QString TransferQueueManager::DownloadRoot() const
{
    return Q(Settings::Get("download_folder")).replace('/', '\\');
}

// The remote folders a download recreates, outermost first, each made safe
// to use as one local folder name.
QStringList TransferQueueManager::LocalSubfolders(ItemPtr download) const
{
    const QString relative = GetDownloadRelativeDownloadFolder(download);
    return relative.isEmpty() ? QStringList() : relative.split('\\');
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr download, bool complete) const
{
    QString folder = DownloadRoot() + (complete ? "\\complete" : "\\downloading");
    for (const QString& sub : LocalSubfolders(download))
        folder += "\\" + sub;
    return folder;
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr download, bool complete) const
{
    return GetDownloadTargetFolder(download, complete) + "\\" +
           SafeLocalComponent(Q(download[FileName].AsString()));
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr download) const
{
    return SafeRelativeFolder(Q(download[RemoteFolder].AsString()),
                              std::max(0, download[SubfolderSaveLevel].AsInt()));
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr download) const
{
    return QFileInfo::exists(FileSystemPath(GetDownloadTargetPath(download, true)));
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr download)
{
    ItemPtr folder = download[RemoteFolder];
    for (Item* other : folder.GetItems(DownloadEntry))
        if (StatusOf(other) != Download::Complete)
            return;
    QDir dir(FileSystemPath(GetDownloadTargetFolder(download, false)));
    const int levels = LocalSubfolders(download).size();
    // Only empty folders go, innermost first, and never the downloading
    // folder itself.
    for (int n = 0; n < levels; ++n) {
        const QString name = dir.dirName();
        if (!dir.cdUp() || !dir.rmdir(name))
            return;
    }
}
