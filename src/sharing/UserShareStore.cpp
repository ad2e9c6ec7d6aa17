#include "sharing/UserShareStore.h"

#include <map>

#include "base/PathUtils.h"
#include "server/ServerTypes.h"
#include "sharing/AttributeItems.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

namespace UserShareStore {

namespace {

using namespace SharingTypes;

// Takes the user's earlier listing out of the store: its folders with their
// files and link items, then the listing itself. Names and sizes may be
// shared with other listings and are left to garbage collection.
void RemoveShare(ItemPtr share)
{
    ItemSet owned;
    for (Item* item : share.GetItems(UserShareFolder)) {
        ItemPtr folder(item);
        owned.Add(folder.GetItems(UserShareFile));
        owned.Add(folder.GetItems(UserShareFolderParent));
        owned.Add(folder.GetItems(UserShareFolderChild));
        owned.insert(folder);
    }
    owned.insert(share);
    d.RemoveItems(owned);
}

void Link(ItemPtr parent, ItemPtr folder)
{
    ItemPtr up = folder.NewItem(UserShareFolderParent);
    ItemPtr down = parent.NewItem(UserShareFolderChild);
    up.Connect(down);
}

void AddFile(ItemPtr folder, const FileInfo& info)
{
    ItemPtr file = folder.NewItem(UserShareFile);
    file.Connect(d.GetType(UserShareFileName)->GetItem(info.m_name));
    file.Connect(d.GetType(UserShareFileSize)->GetItem(info.m_size));
    AttributeItems::Connect(file, info.m_attributes);
}

} // namespace

void Store(const std::string& user, const FileInfoMap& share)
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->GetItem(user);
    if (ItemPtr old = userItem[UserShare])
        RemoveShare(old);
    ItemPtr listing = d.GetType(UserShare)->NewItem();
    listing.Connect(userItem);

    // The map is ordered by path, so a folder's parent, being a prefix of
    // it, has always been added before the folder itself.
    std::map<std::string, ItemPtr> folders;
    for (const auto& [path, files] : share) {
        ItemPtr folder = listing.NewItem(UserShareFolder);
        folder.Connect(d.GetType(UserShareFolderName)->GetItem(path));
        const auto parent = folders.find(GetParentFolder(path));
        if (parent != folders.end())
            Link(parent->second, folder);
        folders.emplace(path, folder);
        // An entry its sender cut short with a zero marker is kept as the
        // empty file it reads as: the folder really had an entry there, and
        // the browser shows the row rather than pretend the folder is shorter.
        for (const FileInfo& info : files)
            AddFile(folder, info);
    }
    listing.Connect(d.GetType(UserShareLoaded)->GetGlobalNullItem());
}

void Remove(const std::string& user)
{
    if (ItemPtr userItem = d.GetType(ServerTypes::User)->HasItem(user))
        if (ItemPtr share = userItem[UserShare])
            RemoveShare(share);
}

} // namespace UserShareStore
