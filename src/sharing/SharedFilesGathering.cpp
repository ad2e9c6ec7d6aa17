#include "sharing/SharedFilesGathering.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <QtEndian>

#include "peers/PeerMessages.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

using namespace SharingTypes;

namespace {

// The message code in front of the compressed body.
constexpr int CodeSize = 4;

char AsShared(char c)
{
    return c == '/' ? '\\' : c;
}

} // namespace

bool SharedFilesGathering::SharedPathLess::operator()(const std::string& a,
                                                      const std::string& b) const
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t n = 0; n < common; ++n) {
        const auto x = static_cast<unsigned char>(AsShared(a[n]));
        const auto y = static_cast<unsigned char>(AsShared(b[n]));
        if (x != y)
            return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

SharedFilesGathering::SharedFilesGathering(const ItemSet& visibleRoots)
    : m_rootType(d.GetType(SharedFolder)), m_folderType(d.GetType(SharedFileFolder)),
      m_fileType(d.GetType(SharedFile)), m_nameType(d.GetType(SharedFileName))
{
    for (Item* root : visibleRoots)
        m_rootPaths.push_back(root->AsString());
}

bool SharedFilesGathering::Continue(const QDeadlineTimer& deadline)
{
    if (m_stage == Stage::Collect) {
        if (!Collect(deadline))
            return false;
        m_sort = std::make_unique<SlicedSort<std::string, SharedPathLess>>(m_folders);
        m_stage = Stage::Sort;
        if (deadline.hasExpired())
            return false;
    }
    if (m_stage == Stage::Sort) {
        if (!m_sort->Continue(deadline))
            return false;
        m_sort.reset();
        WriteFolderCount();
        m_stage = Stage::Write;
        if (deadline.hasExpired() && !m_folders.empty())
            return false;
    }
    while (m_next < m_folders.size() && !m_failed && m_deflater.WaitForRoom(deadline)) {
        WriteNextFolder();
        if (deadline.hasExpired())
            break;
    }
    if (m_next < m_folders.size() && !m_failed)
        return false;
    // The attribute table goes out empty: our attribute codes are fixed.
    if (!m_failed && m_next == m_folders.size()) {
        m_failed = !m_part.Write(AttributeTranslationTable{});
        Compress(true);
        ++m_next;
    }
    return true;
}

// The paths of the directories under the visible roots, a slice at a time;
// true when done. No item is held in between: the walk through a root's
// folders resumes after the last address copied, so a folder removed
// meanwhile is simply not met, and one added behind that point is left out
// like any folder shared after the request. Roots gone since the request
// have nothing to add.
bool SharedFilesGathering::Collect(const QDeadlineTimer& deadline)
{
    for (; m_rootIndex < m_rootPaths.size(); ++m_rootIndex, m_lastFolder = 0) {
        Item* root = m_rootType->HasItem(m_rootPaths[m_rootIndex]).Get();
        const ItemSet* under = root ? root->Partners(m_folderType) : nullptr;
        if (!under)
            continue;
        std::size_t copied = 0;
        for (Item* folder : *under) {
            const auto address = reinterpret_cast<std::uintptr_t>(folder);
            if (address <= m_lastFolder)
                continue;
            m_folders.push_back(folder->AsString());
            m_lastFolder = address;
            if (++copied % CollectBatch == 0 && deadline.hasExpired())
                return false;
        }
    }
    return true;
}

// Two local paths may read the same to a peer; the listing holds each
// shared path once, with the files of both.
void SharedFilesGathering::WriteFolderCount()
{
    // A folder under several roots was collected once for each.
    m_folders.erase(std::unique(m_folders.begin(), m_folders.end()), m_folders.end());
    std::size_t distinct = 0;
    for (std::size_t n = 0; n < m_folders.size(); ++n)
        if (n == 0 || !SameShared(m_folders[n], m_folders[n - 1]))
            ++distinct;
    m_failed = m_failed || !m_part.Write(static_cast<unsigned int>(distinct));
}

void SharedFilesGathering::Compress(bool all)
{
    // A hand-over costs a lock and a wake-up; folders go in batches.
    constexpr int Piece = 64 * 1024;
    if (m_part.GetBufferLength() == 0 || (!all && m_part.GetBufferLength() < Piece))
        return;
    m_failed = m_failed ||
               !m_deflater.Write(std::string(m_part.GetBuffer(),
                                             static_cast<std::size_t>(m_part.GetBufferLength())));
    m_part.Reset();
}

// Waits for the compression to end the stream; on the thread that packs.
bool SharedFilesGathering::Finish()
{
    if (!m_finished) {
        m_finished = true;
        m_failed = !m_deflater.Finish() || m_failed;
    }
    return !m_failed;
}

bool SharedFilesGathering::SameShared(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsShared(x) == AsShared(y);
           });
}

void SharedFilesGathering::WriteNextFolder()
{
    const std::string& first = m_folders[m_next];
    std::set<FileInfo> files;
    std::size_t end = m_next;
    for (; end < m_folders.size() && SameShared(m_folders[end], first); ++end)
        AddFiles(m_folders[end], files);
    m_failed = !m_part.Write(SharedFileRecord::ToSharedPath(first)) || !m_part.Write(files);
    Compress(false);
    m_next = end;
}

void SharedFilesGathering::AddFiles(const std::string& localPath, std::set<FileInfo>& files) const
{
    Item* folder = m_folderType->HasItem(localPath);
    if (!folder || !IsVisible(folder))
        return;
    if (const ItemSet* inFolder = folder->Partners(m_fileType))
        for (Item* file : *inFolder) {
            const Item* name = file->HasItem(m_nameType);
            files.insert(SharedFileRecord::Make(file, name ? name->AsString() : std::string()));
        }
}

bool SharedFilesGathering::IsVisible(Item* folder) const
{
    if (const ItemSet* roots = folder->Partners(m_rootType))
        for (Item* root : *roots)
            if (std::find(m_rootPaths.begin(), m_rootPaths.end(), root->AsString()) !=
                m_rootPaths.end())
                return true;
    return false;
}

// The compressed body goes straight from its chunks into the message, so
// that it is held twice over only a chunk at a time.
QByteArray SharedFilesGathering::Pack()
{
    const std::size_t size = PackedSize(INT_MAX);
    if (size == 0)
        return QByteArray();
    QByteArray message(static_cast<qsizetype>(size), Qt::Uninitialized);
    PackTo(message.data());
    return message;
}

bool SharedFilesGathering::PackInto(MemStream& out)
{
    // A stream's positions are ints, and it keeps a byte spare.
    const std::size_t size = PackedSize(INT_MAX - 1);
    if (size == 0)
        return false;
    out.EnsureBufferCapacity(static_cast<int>(size));
    PackTo(out.GetWriteBuffer());
    out.AdvanceWriteIndex(static_cast<int>(size));
    return true;
}

std::size_t SharedFilesGathering::PackedSize(std::size_t limit)
{
    if (!Finish() || m_deflater.Size() >= limit - CodeSize)
        return 0;
    return CodeSize + m_deflater.Size();
}

void SharedFilesGathering::PackTo(char* destination)
{
    qToLittleEndian<quint32>(PeerMessages::SharedFileList::Code, destination);
    m_deflater.MoveTo(destination + CodeSize);
}
