#include "NodeTransfers.h"

#include <QDir>

#include "NodeCommand.h"
#include "NodeOutput.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

namespace {

using namespace TransferTypes;

constexpr qint64 ProgressIntervalMs = 1000;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string S(const QString& text)
{
    return text.toStdString();
}

QString N(qint64 n)
{
    return QString::number(n);
}

// USER, FOLDER and FILE of a download, as the commands take them.
QStringList DownloadFields(ItemPtr download)
{
    return {Q(download[ServerTypes::User].AsString()), Q(download[RemoteFolder].AsString()),
            Q(download[FileName].AsString())};
}

QString ReasonOf(ItemPtr download)
{
    if (download[DownloadEntryStatus].AsString() != Download::Denied)
        return QString();
    return Q(download[DenialReason].AsString());
}

QString UploadSize(ItemPtr upload)
{
    return Q(upload[SharingTypes::SharedFile][SharingTypes::SharedFileSize].AsString());
}

} // namespace

NodeTransfers::NodeTransfers(QObject* parent) : QObject(parent) {}

void NodeTransfers::ManagersCreated()
{
    connect(transferQueueManager, &TransferQueueManager::DownloadStatusChanged, this,
            &NodeTransfers::OnDownloadStatusChanged);
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
            &NodeTransfers::OnDownloadProgressed);
    connect(transferQueueManager, &TransferQueueManager::DownloadPlaceInLineChanged, this,
            &NodeTransfers::OnPlaceInLineChanged);
    connect(transferQueueManager, &TransferQueueManager::UploadStatusChanged, this,
            &NodeTransfers::OnUploadStatusChanged);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this,
            &NodeTransfers::OnUploadProgressed);
}

void NodeTransfers::Download(const QString& fields)
{
    const QStringList f = fields.split('\t');
    bool sizeOk = false, levelOk = true;
    const qint64 size = f.value(3).toLongLong(&sizeOk);
    const int level = f.size() > 4 ? f[4].toInt(&levelOk) : 0;
    if (f.size() < 4 || f.size() > 5 || f[0].isEmpty() || f[2].isEmpty() || !sizeOk || size < 0 ||
        !levelOk || level < 0) {
        NodeOutput::Print({"error", "download " + fields});
        return;
    }
    transferQueueManager->AddDownload(S(f[0]), S(f[2]), S(f[1]), size, level);
}

void NodeTransfers::RemoveDownload(const QString& fields)
{
    const QStringList f = fields.split('\t');
    ItemPtr download = f.size() == 3
                           ? transferQueueManager->GetDownloadEntry(S(f[0]), S(f[2]), S(f[1]))
                           : ItemPtr();
    if (!download) {
        NodeOutput::Print({"error", "no download " + fields});
        return;
    }
    m_progressClocks.erase(download);
    m_speeds.erase(download);
    transferQueueManager->RemoveDownload(download);
}

void NodeTransfers::ListDownloads()
{
    for (Item* entry : g(DownloadEntry).SortNumericBy(DownloadOrder, true)) {
        ItemPtr download(entry);
        NodeOutput::Print(QStringList{"download-entry", Q(download[DownloadEntryStatus].AsString())}
                          << DownloadFields(download) << ReasonOf(download)
                          << N(transferQueueManager->GetDownloadPosition(download))
                          << Q(download[FileSize].AsString()));
    }
    NodeOutput::Print({"end"});
}

void NodeTransfers::ListUploads()
{
    for (Item* entry : g(UploadEntry).SortNumericBy(EffectiveUploadOrder, true)) {
        ItemPtr upload(entry);
        NodeOutput::Print({"upload-entry", Q(upload[UploadEntryStatus].AsString()),
                           Q(upload[ServerTypes::User].AsString()),
                           Q(upload[FilenameAsRequested].AsString()),
                           N(transferQueueManager->GetUploadPosition(upload)), UploadSize(upload)});
    }
    NodeOutput::Print({"end"});
}

void NodeTransfers::SetSlots(const QString& count)
{
    bool ok = false;
    const int n = count.toInt(&ok);
    if (!ok || n < 1 || n > 99) {
        NodeOutput::Print({"error", "slots " + count});
        return;
    }
    transferQueueManager->SetUploadSlots(n);
}

void NodeTransfers::SetUploadLimit(const NodeCommand& command)
{
    bool ok = false;
    const int limit = command.arguments[0].toInt(&ok);
    const QString onOff = command.arguments[1];
    if (!ok || (onOff != "on" && onOff != "off")) {
        NodeOutput::Print({"error", "upload-limit " + command.arguments.join(' ')});
        return;
    }
    transferQueueManager->SetUploadSpeedLimit(limit);
    transferQueueManager->EnableUploadSpeedLimit(onOff == "on");
}

void NodeTransfers::SetDownloadFolder(const QString& path)
{
    Settings::Set("download_folder",
                  S(QDir::cleanPath(QDir::current().absoluteFilePath(path.trimmed()))));
}

void NodeTransfers::UnshareUser(const QString& user)
{
    transferQueueManager->UnshareUser(S(user));
}

void NodeTransfers::ReshareUser(const QString& user)
{
    transferQueueManager->ReshareUser(S(user));
}

bool NodeTransfers::ProgressDue(Item* entry)
{
    QElapsedTimer& clock = m_progressClocks[entry];
    if (clock.isValid() && clock.elapsed() < ProgressIntervalMs)
        return false;
    clock.start();
    return true;
}

void NodeTransfers::PrintDownloadProgress(ItemPtr download, qint64 position)
{
    NodeOutput::Print(QStringList{"download-progress"} << DownloadFields(download) << N(position)
                                                       << Q(download[FileSize].AsString())
                                                       << N(m_speeds[download]));
}

void NodeTransfers::OnDownloadStatusChanged(ItemPtr download)
{
    const std::string status = download[DownloadEntryStatus].AsString();
    // The last chunks of a transfer fall inside the once-a-second limit; the
    // end is always reported.
    if (status == Download::Complete && m_progressClocks.count(download))
        PrintDownloadProgress(download, download[FileSize].AsInt64());
    if (status != Download::Downloading) {
        m_progressClocks.erase(download);
        m_speeds.erase(download);
    }
    NodeOutput::Print(QStringList{"download", Q(status)} << DownloadFields(download)
                                                         << ReasonOf(download));
}

void NodeTransfers::OnDownloadProgressed(ItemPtr download)
{
    m_speeds[download] = transferQueueManager->GetTransferSpeed(download);
    if (ProgressDue(download))
        PrintDownloadProgress(download, transferQueueManager->GetDownloadPosition(download));
}

void NodeTransfers::OnPlaceInLineChanged(ItemPtr download)
{
    NodeOutput::Print(QStringList{"place-in-line"} << DownloadFields(download)
                                                   << Q(download[PlaceInLine].AsString()));
}

void NodeTransfers::OnUploadStatusChanged(ItemPtr upload)
{
    const std::string status = upload[UploadEntryStatus].AsString();
    if (status != Upload::Uploading)
        m_progressClocks.erase(upload);
    NodeOutput::Print({"upload", Q(status), Q(upload[ServerTypes::User].AsString()),
                       Q(upload[FilenameAsRequested].AsString())});
}

void NodeTransfers::OnUploadProgressed(ItemPtr upload)
{
    if (!ProgressDue(upload))
        return;
    NodeOutput::Print({"upload-progress", Q(upload[ServerTypes::User].AsString()),
                       Q(upload[FilenameAsRequested].AsString()),
                       N(transferQueueManager->GetUploadPosition(upload)), UploadSize(upload),
                       N(transferQueueManager->GetTransferSpeed(upload))});
}
