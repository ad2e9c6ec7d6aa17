// Negotiation in TransferQueueManager: turning queued transfers into running
// ones over file connections, the transfer threads' reports, completion and
// the timeouts of the early phases.

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/PathUtils.h"
#include "peers/PeerMessenger.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/DownloadThread.h"
#include "transfers/TransferLogging.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "transfers/UploadThread.h"

using namespace TransferLogging;
using namespace TransferTypes;

namespace {

// Requesting and connecting uploads are given up after this long.
constexpr qint64 EarlyPhaseTimeoutMs = 30000;
// Smaller uploads say little about the line's speed.
constexpr qint64 SpeedReportMinimumSize = 1048576;

// The entry a runtime object belongs to, found by the object's item.
ItemPtr EntryOf(const char* objectType, QObject* object, const char* entryType)
{
    ItemPtr item = object ? ExistingItem(objectType, ObjectValue(object).Text()) : ItemPtr();
    return item ? item[entryType] : ItemPtr();
}

// A socket may still have the peer messenger as parent; a socket that moves
// to a transfer thread must have none.
void DetachSocket(QTcpSocket* socket)
{
    socket->disconnect();
    socket->setParent(nullptr);
}

bool IsEarlyUploadPhase(const std::string& status)
{
    return status == Upload::Requesting || status == Upload::Connecting ||
           status == Upload::WaitingForOffset;
}

} // namespace

// ---------------------------------------------------------------------------
// Downloads

void TransferQueueManager::OnFileTransferRequest(std::string user, int direction, unsigned int req,
                                                 std::string file, qint64)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    if (direction == 0) {
        TransferLog(1,
                    QString("Received download request from %1 for file %2, currently not "
                            "processing")
                        .arg(Q(user), Q(file)),
                    userItem);
        return;
    }
    TransferLog(1,
                QString("Received upload request from %1 for file %2, req %3")
                    .arg(Q(user), Q(file))
                    .arg(req),
                userItem);
    ItemPtr download = FindDownloadByPath(user, file);
    if (!download) {
        TransferLog(2, "Denied, Cancelled", userItem);
        peerMessenger->DenyTransferRequest(user, req, Reason::Cancelled);
        return;
    }
    if (download[DownloadEntryStatus].AsString() == Download::Complete) {
        TransferLog(2, "Denied, Complete", userItem);
        peerMessenger->DenyTransferRequest(user, req, Reason::Complete);
        return;
    }
    download.Connect(d.GetType(RemoteTransferReq)->GetItem(req));
    if (download[DownloadEntryStatus].AsString() == Download::Downloading) {
        TransferLog(2, "Transfer is already downloading, cancelling...", userItem);
        SetDownloadEntryStatus(download, Download::Aborted);
    }
    peerMessenger->AcceptTransferRequest(user, req, false, 0);
    TransferLog(2, "Accepted", userItem);
}

void TransferQueueManager::OnFileConnection(std::string user, QTcpSocket* socket, unsigned int req)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    TransferLog(1, QString("File connection created by user %1 for req %2").arg(Q(user)).arg(req),
                userItem);
    ItemPtr reqItem = ExistingItem(RemoteTransferReq, std::to_string(req));
    ItemPtr download = reqItem && userItem
                           ? ItemPtr(reqItem.GetItems(DownloadEntry).Connected(userItem).first())
                           : ItemPtr();
    if (!download) {
        ReleaseSocket(socket);
        TransferLog(2, "Download not found, aborting", userItem);
        return;
    }
    // A second connection for the same offer would write into the file the
    // running transfer is writing; the running one keeps it.
    if (download[DownloadEntryStatus].AsString() == Download::Downloading) {
        ReleaseSocket(socket);
        TransferLog(2, "Download already running, closing the new connection", userItem);
        return;
    }
    DetachSocket(socket);
    const QString folder = FileSystemPath(GetDownloadTargetFolder(download, false));
    QDir().mkpath(folder);
    auto* file = new QFile(FileSystemPath(GetDownloadTargetPath(download, false)));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetDownloadEntryStatus(download, Download::LocalError);
        delete file;
        ReleaseSocket(socket);
        TransferLog(2, "Could not open file, aborting", userItem);
        return;
    }
    // The peer sends what we lack: a partial file from an earlier attempt
    // is resumed from its end.
    const qint64 offset = file->size();
    uchar bytes[8];
    qToLittleEndian<quint64>(static_cast<quint64>(offset), bytes);
    socket->write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    socket->flush();

    download.Connect(d.GetType(DownloadSocket)->GetItem(ObjectValue(socket)));
    download.Connect(d.GetType(DownloadFile)->GetItem(ObjectValue(file)));
    SetDownloadEntryStatus(download, Download::Downloading);
    AttachProgressValues(download, WritePosition, offset);

    auto* thread = new ::DownloadThread(socket, file, download[FileSize].AsInt64(), offset);
    socket->moveToThread(thread);
    download.Connect(d.GetType(TransferTypes::DownloadThread)->GetItem(ObjectValue(thread)));
    connect(thread, &::DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(thread, &::DownloadThread::DownloadProgress, this,
            &TransferQueueManager::OnDownloadProgress);
    connect(thread, &::DownloadThread::DownloadComplete, this,
            &TransferQueueManager::OnDownloadComplete);
    thread->start(QThread::InheritPriority);
    TransferLog(2, "Downloading", userItem);
}

ItemPtr TransferQueueManager::DownloadOfSender() const
{
    return EntryOf(TransferTypes::DownloadThread, sender(), DownloadEntry);
}

void TransferQueueManager::OnDownloadProgress(qint64 position, int bytesPerSecond)
{
    ItemPtr download = DownloadOfSender();
    if (!download)
        return;
    RecordProgress(download, WritePosition, position, bytesPerSecond);
    ObjectFromItem<::DownloadThread>(download[TransferTypes::DownloadThread])->ProgressHandled();
    emit DownloadProgressed(download);
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr download = DownloadOfSender();
    if (!download)
        return;
    ObjectFromItem<::DownloadThread>(download[TransferTypes::DownloadThread])->wait();
    if (auto* file = ObjectFromItem<QFile>(download[DownloadFile]))
        file->close();
    const QString folder = GetDownloadTargetFolder(download, true);
    QDir().mkpath(FileSystemPath(folder));
    // A failed rename leaves the file where it is; the download counts as
    // complete either way.
    QFile::rename(FileSystemPath(GetDownloadTargetPath(download, false)),
                  FileSystemPath(GetDownloadTargetPath(download, true)));
    SetDownloadEntryStatus(download, Download::Complete);
    RemoveDownloadDownloadingFolderIfAppropriate(download);
    RecordCompleteDownload(download);
}

void TransferQueueManager::RecordCompleteDownload(ItemPtr download)
{
    ItemPtr user = download[ServerTypes::User];
    const std::string folder = GetDownloadTargetFolder(download, true).toStdString();
    ItemPtr folderItem = d.GetType(CompleteDownloadFolder)->GetItem(folder);
    ItemPtr nameItem = d.GetType(CompleteDownloadFilename)->GetItem(download[FileName].AsString());
    if (!user.GetItems(CompleteDownload).Connected(folderItem).Connected(nameItem).empty())
        return;
    ItemPtr record = d.GetType(CompleteDownload)->NewItem();
    record.Connect(user);
    record.Connect(folderItem);
    record.Connect(nameItem);
    record.Connect(d.GetType(CompleteDownloadRelativeFolder)
                       ->GetItem(GetDownloadRelativeDownloadFolder(download).toStdString()));
    record.Connect(d.GetType(CompleteDownloadFileSize)->GetItem(download[FileSize].AsString()));
    record.Connect(
        d.GetType(CompleteDownloadCompletionTime)->GetItem(Clock::NowText().toStdString()));
    if (ItemPtr search = download[SearchTypes::SearchRequestText])
        record.Connect(search);
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::OnDownloadError()
{
    if (ItemPtr download = DownloadOfSender())
        SetDownloadEntryStatus(download, Download::Aborted);
}

// ---------------------------------------------------------------------------
// Uploads

void TransferQueueManager::OnFileTransferResponse(std::string user, unsigned int req, bool accepted,
                                                  bool, qint64, std::string denialReason)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    TransferLog(1,
                QString("Received file transfer response from user %1 for req %2, transfer %3")
                    .arg(Q(user))
                    .arg(req)
                    .arg(accepted ? "accepted" : "not accepted"),
                userItem);
    ItemPtr reqItem = ExistingItem(TransferReq, std::to_string(req));
    if (reqItem && reqItem[DownloadEntry]) {
        TransferLog(2, "Found download, not processing", userItem);
        return;
    }
    if (!reqItem) {
        TransferLog(2, "req not found", userItem);
        return;
    }
    ItemPtr upload = reqItem[UploadEntry];
    if (!upload) {
        TransferLog(2, "Neither upload or download attached to req, weird", userItem);
        return;
    }
    TransferLog(2, "Found upload", userItem);
    if (!accepted) {
        TransferLog(2, "Upload was not accepted, marking denied", userItem);
        upload.Connect(d.GetType(DenialReason)->GetItem(denialReason));
        SetUploadEntryStatus(upload, Upload::Denied);
        StartNewUploads();
        return;
    }
    const std::string status = upload[UploadEntryStatus].AsString();
    if (status != Upload::Requesting) {
        TransferLog(2,
                    QString("Upload no longer in requesting phase, instead status is %1. Not "
                            "processing.")
                        .arg(Q(status)),
                    userItem);
        return;
    }
    ItemPtr uploadUser = upload[ServerTypes::User];
    if (uploadUser.AsString() != user) {
        TransferLog(2,
                    QString("Upload user %1 not the same as user who opened the connection, not "
                            "doing anything")
                        .arg(Q(uploadUser.AsString())),
                    userItem);
        return;
    }
    ItemPtr shared = upload[SharingTypes::SharedFile];
    auto* file = new QFile(Q(shared[SharingTypes::SharedFileFolder].AsString() + "/" +
                             shared[SharingTypes::SharedFileName].AsString()));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        TransferLog(2,
                    "File could not be opened, marking local error and sending denial message. "
                    "Shouldn't we have done this before we requested the transfer?",
                    userItem);
        peerMessenger->DenyUpload(user, upload[FilenameAsRequested].AsString(), Reason::ReadError);
        SetUploadEntryStatus(upload, Upload::LocalError);
        StartNewUploads();
        return;
    }
    TransferLog(2, "Requesting file connection to user", userItem);
    peerMessenger->RequestFileConnectionToUser(user);
    upload.Connect(d.GetType(UploadFile)->GetItem(ObjectValue(file)));
    SetUploadEntryStatus(upload, Upload::Connecting);
}

void TransferQueueManager::OnFileConnectionAccepted(std::string user, QTcpSocket* socket)
{
    ItemPtr userItem = ExistingItem(ServerTypes::User, user);
    ItemPtr upload = userItem ? ItemPtr(userItem.GetItems(UploadEntry)
                                            .Connected(UploadEntryStatus, Upload::Connecting)
                                            .first())
                              : ItemPtr();
    if (!upload) {
        ReleaseSocket(socket);
        return;
    }
    DetachSocket(socket);
    upload.Connect(d.GetType(UploadSocket)->GetItem(ObjectValue(socket)));
    SetUploadEntryStatus(upload, Upload::Uploading);
    AttachProgressValues(upload, ReadPosition, 0);

    auto* file = ObjectFromItem<QFile>(upload[UploadFile]);
    auto* thread = new ::UploadThread(socket, file, upload[TransferReq].AsUInt(), &m_speedLimits);
    socket->moveToThread(thread);
    upload.Connect(d.GetType(TransferTypes::UploadThread)->GetItem(ObjectValue(thread)));
    connect(thread, &::UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(thread, &::UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(thread, &::UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    thread->start(QThread::InheritPriority);
}

ItemPtr TransferQueueManager::UploadOfSender() const
{
    return EntryOf(TransferTypes::UploadThread, sender(), UploadEntry);
}

void TransferQueueManager::OnUploadProgress(qint64 position, int bytesPerSecond)
{
    ItemPtr upload = UploadOfSender();
    if (!upload)
        return;
    RecordProgress(upload, ReadPosition, position, bytesPerSecond);
    ObjectFromItem<::UploadThread>(upload[TransferTypes::UploadThread])->ProgressHandled();
    emit UploadProgressed(upload);
}

void TransferQueueManager::OnUploadComplete()
{
    ItemPtr upload = UploadOfSender();
    if (!upload)
        return;
    const qint64 speed = GetTransferSpeed(upload);
    ItemPtr user = upload[ServerTypes::User];
    TransferLog(1, QString("Recording upload speed of %1").arg(speed), user);
    const qint64 size = upload[SharingTypes::SharedFile][SharingTypes::SharedFileSize].AsInt64();
    if (size > SpeedReportMinimumSize && speed > 0 && gp_server)
        gp_server->SendUploadSpeed(static_cast<unsigned int>(speed));
    SetUploadEntryStatus(upload, Upload::Complete);
    StartNewUploads();
}

void TransferQueueManager::OnUploadError()
{
    if (ItemPtr upload = UploadOfSender()) {
        SetUploadEntryStatus(upload, Upload::Aborted);
        StartNewUploads();
    }
}

void TransferQueueManager::TimeOutEarlyUploads()
{
    bool aborted = false;
    for (Item* entry : g(UploadEntry)) {
        ItemPtr upload(entry);
        const std::string status = upload[UploadEntryStatus].AsString();
        if (!IsEarlyUploadPhase(status))
            continue;
        const QDateTime since = Clock::FromText(Q(upload[LastStatusChangeTime].AsString()));
        if (since.isValid() && Clock::AgeMs(since) < EarlyPhaseTimeoutMs)
            continue;
        ItemPtr user = upload[ServerTypes::User];
        TransferLog(
            1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(Q(upload[SharingTypes::SharedFile][SharingTypes::SharedFileName].AsString()),
                     Q(user.AsString()), Q(status)),
            user);
        SetUploadEntryStatus(upload, Upload::Aborted);
        aborted = true;
    }
    if (aborted)
        StartNewUploads();
}

void TransferQueueManager::EveryHalfMinute()
{
    TimeOutEarlyUploads();
    RefreshPlacesInLine();
}
