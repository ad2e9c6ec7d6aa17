#pragma once

#include <cctype>
#include <memory>
#include <string>
#include <utility>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "../app/StartUpTestHost.h"
#include "../peers/PeerTestSupport.h"
#include "app/StartUp.h"
#include "dnet/DNetManager.h"
#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

// The whole program started headless with a folder on disk to share from;
// Start once per executable, Reset between tests. The MP3 scanner is stopped
// so the empty files written here never come back with attributes.
class ShareFixture
{
public:
    void Start()
    {
        m_startUp = std::make_unique<StartUp>(&m_host);
        m_startUp->Init();
        sharedFoldersManager->GetMP3Scanner()->Quit();
        sharedFoldersManager->WaitForRescan();
    }
    void Stop() { m_startUp.reset(); }

    void Reset()
    {
        sharedFoldersManager->WaitForRescan();
        d.GetType(SharingTypes::SharedFolder)->RemoveAllItems();
        d.RemoveDisconnectedItems();
        QDir(Disk()).removeRecursively();
        QDir().mkpath(Disk());
    }

    QString Disk(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? m_disk.path() + "/disk" : m_disk.path() + "/disk/" + relative;
    }
    std::string Path(const QString& relative = QString()) const
    {
        return Disk(relative).toStdString();
    }
    void Write(const QString& relative, qint64 size = 0) const
    {
        QDir().mkpath(QFileInfo(Disk(relative)).path());
        QFile file(Disk(relative));
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
            qFatal("cannot write %s", qPrintable(Disk(relative)));
    }

    // Shares a folder the way the dialog does and waits for its scan.
    ItemPtr Share(const QString& relative, bool everyone = true, bool userList = false,
                  const std::vector<std::string>& groups = {}) const
    {
        ItemPtr root =
            sharedFoldersManager->ShareFolder(Path(relative), everyone, userList, groups);
        sharedFoldersManager->WaitForRescan();
        return root;
    }

    // What SharedFilesRescanned reported.
    static std::pair<int, int> Rescan()
    {
        QSignalSpy done(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned);
        sharedFoldersManager->RescanShares();
        sharedFoldersManager->WaitForRescan();
        if (done.isEmpty())
            return {-1, -1};
        return {done.last().at(0).toInt(), done.last().at(1).toInt()};
    }

    ItemPtr File(const QString& relative) const
    {
        return sharedFoldersManager->GetSharedFileItem(Path(relative));
    }
    static QStringList Tokens(ItemPtr file)
    {
        QStringList tokens;
        if (file)
            for (Item* token : file.GetItems(SharingTypes::SearchToken))
                tokens << QString::fromStdString(token->AsString());
        tokens.sort();
        return tokens;
    }
    static int CountOf(const char* typeName)
    {
        return static_cast<int>(d.GetType(typeName)->ItemCount());
    }

private:
    StartUpTestHost m_host;
    std::unique_ptr<StartUp> m_startUp;
    QTemporaryDir m_disk;
};

// The client as far as sharing needs it: one per executable, as types live
// as long as the process; Clear empties the shares.
class SharingClient
{
public:
    SharingClient()
    {
        DeclareServerSchemas();
        peers = std::make_unique<PeerSession>();
        dnet = std::make_unique<DNetManager>();
        manager = std::make_unique<SharedFoldersManager>();
    }

    static void Clear()
    {
        using namespace SharingTypes;
        for (const char* type : {SharedFolder, SharedFile, SharedFileFolder, SearchToken, Unshared,
                                 UserShare, UserShareFolder, UserShareFile, UserShareFolderParent,
                                 UserShareFolderChild, ServerTypes::InUserList})
            d.GetType(type)->RemoveAllItems();
        Settings::Set("username", "alice");
        Settings::Set("upload_speed", "");
    }

    // Declared in the order they are made; they go in reverse.
    std::unique_ptr<PeerSession> peers;
    std::unique_ptr<DNetManager> dnet;
    std::unique_ptr<SharedFoldersManager> manager;
};

// The index as a scan leaves it, built without the scanner, and the wire
// pieces the expected bytes are made of.
class ShareIndex
{
public:
    static ItemPtr PublicRoot(const std::string& path)
    {
        ItemPtr root = d.GetType(SharingTypes::SharedFolder)->GetItem(path);
        root.Connect(d.GetType(SharingTypes::SharedPublic)->GetGlobalNullItem());
        return root;
    }
    static ItemPtr GroupRoot(const std::string& path, const std::string& group)
    {
        ItemPtr root = d.GetType(SharingTypes::SharedFolder)->GetItem(path);
        root.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(group));
        return root;
    }
    static ItemPtr Folder(ItemPtr root, const std::string& path)
    {
        return root.Connect(d.GetType(SharingTypes::SharedFileFolder)->GetItem(path));
    }
    static ItemPtr File(ItemPtr folder, const std::string& name, long long size)
    {
        using namespace SharingTypes;
        ItemPtr file = folder.NewItem(SharedFile);
        file.Connect(d.GetType(SharedFileName)->GetItem(name));
        file.Connect(d.GetType(SharedFileSize)->GetItem(size));
        std::string word;
        for (char c : folder.AsString() + "/" + name + "/") {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            } else if (!word.empty()) {
                file.Connect(d.GetType(SearchToken)->GetItem(word));
                word.clear();
            }
        }
        return file;
    }
    static void Scanned(ItemPtr file, int bitrate, const char* mode)
    {
        file.Connect(d.GetType(SearchTypes::Bitrate)->GetItem(bitrate));
        file.Connect(d.GetType(SearchTypes::BitrateMode)->GetItem(mode));
    }
    static ItemPtr ListedUser(const std::string& name, const char* group = nullptr)
    {
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name);
        ItemPtr entry = user.NewItem(ServerTypes::InUserList);
        if (group)
            entry.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(group));
        return user;
    }

    static QByteArray Bytes(const MemStream& stream)
    {
        return {stream.GetBuffer(), stream.GetBufferLength()};
    }
    // The code, then the bytes as zlib compresses them at level 9 (without
    // the length qCompress puts first).
    static QByteArray Compressed(std::uint32_t code, const QByteArray& raw)
    {
        return ByteBuilder().UInt32(code).Raw(qCompress(raw, 9).mid(4));
    }
    // One file record: marker 1, name, u64 size, extension, attribute pairs.
    static QByteArray
    Record(const QByteArray& name, std::uint64_t size, const QByteArray& extension = "",
           std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> attributes = {})
    {
        ByteBuilder bytes;
        bytes.Byte(1).String(name).UInt32(std::uint32_t(size)).UInt32(std::uint32_t(size >> 32));
        bytes.String(extension).UInt32(static_cast<std::uint32_t>(attributes.size()));
        for (const auto& [code, value] : attributes)
            bytes.UInt32(code).UInt32(value);
        return bytes;
    }
    // The body of the next whole peer frame.
    static QByteArray ReadFrame(QTcpSocket& socket)
    {
        const auto take = [&socket](qint64 count) {
            return QTest::qWaitFor([&] { return socket.bytesAvailable() >= count; })
                       ? socket.read(count)
                       : QByteArray();
        };
        const QByteArray head = take(4);
        return head.size() == 4 ? take(qFromLittleEndian<quint32>(head.constData())) : QByteArray();
    }
};
