#include "sharing/ShareListing.h"

#include "peers/PeerMessages.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharedFilesGathering.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

namespace ShareListing {

namespace {

using namespace SharingTypes;

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

} // namespace

MemStream SharedFilesMessage(const ItemSet& visibleRoots)
{
    SharedFilesGathering gathering(visibleRoots);
    gathering.Continue(QDeadlineTimer(QDeadlineTimer::Forever));
    MemStream out;
    gathering.PackInto(out);
    return out;
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
