#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/SlicedSort.h"
#include "sharing/FileInfo.h"
#include "sharing/ListingGathering.h"
#include "store/ItemSet.h"
#include "streams/BackgroundDeflater.h"
#include "streams/MemStream.h"

class Item;
class Type;

// Gathers the whole-share listing of the given visible roots straight into
// the message, folder by folder in shared-path order. The body is handed to
// a compression thread in pieces as it is written: the uncompressed body of
// a million files is several times the message and is never held whole, and
// the event loop only reads the store. A slice that finds the compression
// too far behind waits for it, until its deadline at most.
//
// Between slices the store may change, so nothing here holds an item: the
// folders are kept by path and looked up again when their turn comes. A
// folder that has gone meanwhile, or left every visible root, is listed
// without files; the folder count written first stays true. The first slices
// only collect the folders' paths and the next ones put them in shared-path
// order, so that no slice of a share of fifty thousand folders is long.
class SharedFilesGathering : public ListingGathering
{
public:
    explicit SharedFilesGathering(const ItemSet& visibleRoots);

    bool Continue(const QDeadlineTimer& deadline) override;
    // The message, once Continue has returned true; empty when it could not
    // be written. The compressed body moves into it, so it is made once.
    QByteArray Pack() override;
    // The same message, written into an empty stream in place of Pack, for
    // a caller that wants a stream: converting Pack's result would hold the
    // listing twice. False, with nothing written, when it could not be made.
    bool PackInto(MemStream& out);

private:
    // Local paths in the order a peer sees them: by shared path, the local
    // spelling settling a tie. Comparing in place spares a converted copy
    // of every path.
    struct SharedPathLess
    {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    enum class Stage
    {
        Collect,
        Sort,
        Write
    };

    static constexpr std::size_t CollectBatch = 256;

    bool Collect(const QDeadlineTimer& deadline);
    void WriteFolderCount();
    static bool SameShared(const std::string& a, const std::string& b);
    // Writes the folders from m_next that share one shared path.
    void WriteNextFolder();
    void AddFiles(const std::string& localPath, std::set<FileInfo>& files) const;
    bool IsVisible(Item* folder) const;
    // Hands what m_part holds to the compression and empties it; only once
    // it holds a piece worth a hand-over, unless `all`.
    void Compress(bool all);
    bool Finish();
    // The message's length once finished, or 0 when there is none or it
    // would pass what a buffer of `limit` bytes holds.
    std::size_t PackedSize(std::size_t limit);
    // Writes the message into `destination`, which holds PackedSize() bytes.
    void PackTo(char* destination);

    std::vector<std::string> m_rootPaths;
    std::size_t m_rootIndex = 0;        // the root being collected
    std::uintptr_t m_lastFolder = 0;    // the address its walk resumes after
    std::vector<std::string> m_folders; // local paths
    Stage m_stage = Stage::Collect;
    std::unique_ptr<SlicedSort<std::string, SharedPathLess>> m_sort;
    std::size_t m_next = 0;
    BackgroundDeflater m_deflater;
    // The part of the body not yet handed over.
    MemStream m_part;
    bool m_failed = false;
    bool m_finished = false;
    Type* m_rootType;
    Type* m_folderType;
    Type* m_fileType;
    Type* m_nameType;
};
