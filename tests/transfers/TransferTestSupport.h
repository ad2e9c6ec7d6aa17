#pragma once

#include <memory>

#include <QTemporaryDir>

#include "../sharing/SharingTestSupport.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

// The bytes a peer receives next are exactly these.
#define QCOMPARE_NEXT(peer, bytes)                                                                 \
    do {                                                                                           \
        const QByteArray expected_ = (bytes);                                                      \
        QCOMPARE(ReadAtLeast(peer, expected_.size()), expected_);                                  \
    } while (false)

// The client as far as transfers need it: logged in to a scripted server,
// its peer messenger listening, our shares, and the transfer manager. Types
// live as long as the process, so one client serves every test of an
// executable and Clear empties the queues between tests.
class TransferClient : public PeerHelpers
{
public:
    TransferClient()
    {
        if (!sharing.peers->LogIn())
            qFatal("TransferClient: cannot log in");
        manager = std::make_unique<TransferQueueManager>();
    }
    ~TransferClient()
    {
        manager.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void Clear()
    {
        using namespace TransferTypes;
        for (Item* download : ItemsOf(DownloadEntry))
            manager->RemoveDownload(download);
        for (Item* upload : ItemsOf(UploadEntry))
            manager->RemoveUpload(upload);
        d.GetType(CompleteDownload)->RemoveAllItems();
        d.GetType(ServerTypes::IsOnline)->RemoveAllItems();
        d.GetType(ServerTypes::IsPrivileged)->RemoveAllItems();
        d.GetType(LastPlaceInLineRequestTime)->RemoveAllItems();
        SharingClient::Clear();
        Settings::Set("download_folder", downloads.path().toStdString());
        Settings::Set("upload_slots", 1);
        Settings::Set("transfer_req_counter", 1);
        Settings::Set("upload_speed_limit", 0);
        Settings::SetYes("upload_speed_limit_enabled", false);
        Clock::SetOffsetForTesting(0);
    }

    PeerSession& Peers() { return *sharing.peers; }
    // A messaging connection from `user`, who is online; null when it fails.
    std::unique_ptr<QTcpSocket> OnlinePeer(const char* user)
    {
        auto socket = Peers().ConnectMessagingPeer(user);
        Online(user);
        return socket;
    }

    static ItemPtr Online(const char* name)
    {
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name);
        if (!user.IsConnected(ServerTypes::IsOnline))
            user.NewItem(ServerTypes::IsOnline);
        return user;
    }
    // A file of `size` bytes in a public root that exists on disk; the
    // peers' name for it has "\" separators.
    ItemPtr SharedFile(const QString& name, qint64 size)
    {
        const std::string root = shares.path().toStdString();
        QFile file(shares.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("TransferClient: cannot write a shared file");
        file.write(Content(size));
        return ShareIndex::File(ShareIndex::Folder(ShareIndex::PublicRoot(root), root),
                                name.toStdString(), size);
    }
    QByteArray SharedPath(const QString& name) const
    {
        return QDir::toNativeSeparators(shares.filePath(name)).replace('/', '\\').toUtf8();
    }
    // Writes `content` to `path` below the download folder, making folders.
    bool WriteDownloaded(const QString& path, const QByteArray& content = {})
    {
        QDir().mkpath(QFileInfo(downloads.filePath(path)).path());
        QFile file(downloads.filePath(path));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    static QByteArray Content(qint64 size)
    {
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        return bytes;
    }

    static std::string Status(ItemPtr entry)
    {
        using namespace TransferTypes;
        return entry[entry.IsConnected(DownloadEntryStatus) ? DownloadEntryStatus
                                                            : UploadEntryStatus]
            .AsString();
    }
    // Each upload's user and status in serving order, "user:status".
    static QStringList UploadQueue()
    {
        using namespace TransferTypes;
        QStringList queue;
        for (Item* upload : ItemsOf(UploadEntry).SortNumericBy(EffectiveUploadOrder, true))
            queue << QString::fromStdString(ItemPtr(upload)[ServerTypes::User].AsString() + ":" +
                                            Status(upload));
        return queue;
    }

    SharingClient sharing;
    std::unique_ptr<TransferQueueManager> manager;
    QTemporaryDir downloads;
    QTemporaryDir shares;
};

// Frames another peer receives from us, written from the message tables.
inline QByteArray FileFrame(std::uint32_t code, const QByteArray& file)
{
    return PeerHelpers::PeerFrame(Body(code).String(file));
}
inline QByteArray TransferRequestFrame(std::uint32_t token, const QByteArray& file, quint64 size)
{
    return PeerHelpers::PeerFrame(Body(40)
                                      .UInt32(1)
                                      .UInt32(token)
                                      .String(file)
                                      .UInt32(std::uint32_t(size))
                                      .UInt32(std::uint32_t(size >> 32)));
}
inline QByteArray TransferResponseFrame(std::uint32_t token, const QByteArray& reason = {})
{
    ByteBuilder body = Body(41).UInt32(token).Byte(reason.isEmpty() ? 1 : 0);
    if (!reason.isEmpty())
        body.String(reason);
    return PeerHelpers::PeerFrame(body);
}
inline QByteArray UploadDeniedFrame(const QByteArray& file, const QByteArray& reason)
{
    return PeerHelpers::PeerFrame(Body(50).String(file).String(reason));
}
