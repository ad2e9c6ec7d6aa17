#pragma once

#include <cctype>
#include <memory>
#include <string>

#include <QtEndian>

#include "../peers/PeerTestSupport.h"
#include "dnet/DNetManager.h"
#include "search/SearchTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"

// The client as far as sharing needs it. The sharing manager declares its
// types when made and types live as long as the process, so one client
// serves every test of an executable and Clear empties the shares.
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
    ~SharingClient()
    {
        manager.reset();
        dnet.reset();
        peers.reset();
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

    std::unique_ptr<PeerSession> peers;
    std::unique_ptr<DNetManager> dnet;
    std::unique_ptr<SharedFoldersManager> manager;
};

// Builds the index the way a scan leaves it, without the scanner: roots and
// their visibility, folders, files with name, size and the lower-case words
// of their path; and the wire pieces the expected bytes are made of.
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
    // A user on our user list, in the group.
    static void ListedUser(const std::string& name, const std::string& group)
    {
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name);
        user.NewItem(ServerTypes::InUserList)
            .Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(group));
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
    // The body of the next whole peer frame, leaving later frames unread.
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
