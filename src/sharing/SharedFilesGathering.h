#pragma once

#include <set>
#include <string>
#include <vector>

#include "sharing/FileInfo.h"
#include "sharing/ListingGathering.h"
#include "store/ItemSet.h"
#include "streams/MemStream.h"

class Item;
class Type;

// Gathers the whole-share listing of the given visible roots straight into
// the message body, folder by folder in shared-path order.
//
// Between slices the store may change, so nothing here holds an item: the
// folders are kept by path and looked up again when their turn comes. A
// folder that has gone meanwhile, or left every visible root, is listed
// without files; the folder count written first stays true.
class SharedFilesGathering : public ListingGathering
{
public:
    explicit SharedFilesGathering(const ItemSet& visibleRoots);

    bool Continue(const QDeadlineTimer& deadline) override;
    QByteArray Pack() override;
    // The uncompressed body, once Continue has returned true; empty when it
    // could not be written.
    QByteArray Body() const;

private:
    struct Folder
    {
        std::string sharedPath;
        std::string localPath;
        bool operator<(const Folder& o) const
        {
            return sharedPath != o.sharedPath ? sharedPath < o.sharedPath : localPath < o.localPath;
        }
    };

    // Writes the folders from m_next that share one shared path.
    void WriteNextFolder();
    void AddFiles(const std::string& localPath, std::set<FileInfo>& files) const;
    bool IsVisible(Item* folder) const;
    // The pieces joined; once Continue has returned true.
    MemStream JoinedBody() const;

    std::vector<std::string> m_rootPaths;
    std::vector<Folder> m_folders;
    std::size_t m_next = 0;
    // The body in pieces, one per slice: a single growing buffer would, at
    // a few tens of megabytes, copy itself whole inside one slice.
    std::vector<MemStream> m_pieces;
    bool m_failed = false;
    Type* m_rootType;
    Type* m_folderType;
    Type* m_fileType;
    Type* m_nameType;
};
