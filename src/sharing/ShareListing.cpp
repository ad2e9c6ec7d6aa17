#include "sharing/ShareListing.h"

#include "peers/PeerMessages.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

namespace ShareListing {

namespace {

using namespace SharingTypes;

// Every directory under the roots, once even when it lies under several.
ItemSet FoldersUnder(const ItemSet& roots)
{
    ItemSet folders;
    for (Item* root : roots)
        folders.Add(ItemPtr(root).GetItems(SharedFileFolder));
    return folders;
}

// The visible directory with exactly this local path, or null.
ItemPtr VisibleFolder(const ItemSet& roots, const std::string& localPath)
{
    ItemPtr folder = d.GetType(SharedFileFolder)->HasItem(localPath);
    if (!folder)
        return ItemPtr();
    for (Item* root : folder.GetItems(SharedFolder))
        if (roots.contains(root))
            return folder;
    return ItemPtr();
}

MemStream Written(const auto& message)
{
    MemStream out;
    message.Write(out);
    return out;
}

QByteArray Bytes(const MemStream& stream)
{
    return {stream.GetBuffer(), stream.GetBufferLength()};
}

PeerMessages::SharedFileList ListingOf(const ItemSet& visibleRoots)
{
    PeerMessages::SharedFileList list;
    for (Item* item : FoldersUnder(visibleRoots)) {
        ItemPtr folder(item);
        // Directories without files are listed too, so that a browser can
        // still hang their subfolders under them.
        std::set<FileInfo>& files = list.m_share[SharedFileRecord::ToSharedPath(folder.AsString())];
        for (Item* file : folder.GetItems(SharedFile))
            files.insert(SharedFileRecord::Make(file, ItemPtr(file)[SharedFileName].AsString()));
    }
    return list;
}

} // namespace

MemStream SharedFilesMessage(const ItemSet& visibleRoots)
{
    return Written(ListingOf(visibleRoots));
}

QByteArray SharedFilesBody(const ItemSet& visibleRoots)
{
    MemStream body;
    return ListingOf(visibleRoots).WriteBody(body) ? Bytes(body) : QByteArray();
}

QByteArray PackSharedFiles(const QByteArray& body)
{
    // Even an empty share has its folder count; no body means none could be
    // written.
    if (body.isEmpty())
        return QByteArray();
    MemStream unpacked;
    unpacked.WriteBuffer(body.constData(), static_cast<unsigned long>(body.size()));
    MemStream message;
    return PeerMessages::SharedFileList::WritePacked(message, unpacked) ? Bytes(message)
                                                                        : QByteArray();
}

MemStream FolderContentsMessage(const ItemSet& visibleRoots, unsigned int token,
                                const std::string& folder)
{
    PeerMessages::SharedFilesInFolder reply{.m_token = token, .m_folder = folder};
    // A folder the user may not see is answered like one we do not have:
    // the folder with no files, which tells the asker nothing.
    SharedFolderInfo& contents = reply.m_contents[folder];
    if (ItemPtr found = VisibleFolder(visibleRoots, SharedFileRecord::ToLocalPath(folder))) {
        for (Item* item : found.GetItems(SharedFile)) {
            ItemPtr file(item);
            FileInfo info;
            info.m_name = file[SharedFileName].AsString();
            info.m_size = file[SharedFileSize].AsInt64();
            contents.m_files.insert(std::move(info));
        }
    }
    return Written(reply);
}

} // namespace ShareListing
