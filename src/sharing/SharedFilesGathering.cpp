#include "sharing/SharedFilesGathering.h"

#include <algorithm>
#include <climits>

#include "peers/PeerMessages.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

using namespace SharingTypes;

SharedFilesGathering::SharedFilesGathering(const ItemSet& visibleRoots)
    : m_rootType(d.GetType(SharedFolder)), m_folderType(d.GetType(SharedFileFolder)),
      m_fileType(d.GetType(SharedFile)), m_nameType(d.GetType(SharedFileName))
{
    // Every directory under the roots, once even when it lies under several.
    std::vector<Item*> folders;
    for (Item* root : visibleRoots) {
        m_rootPaths.push_back(root->AsString());
        if (const ItemSet* under = root->Partners(m_folderType))
            folders.insert(folders.end(), under->begin(), under->end());
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    m_folders.reserve(folders.size());
    for (Item* folder : folders)
        m_folders.push_back(
            {SharedFileRecord::ToSharedPath(folder->AsString()), folder->AsString()});
    std::sort(m_folders.begin(), m_folders.end());

    // Two local paths may read the same to a peer; the listing holds each
    // shared path once, with the files of both.
    std::size_t distinct = 0;
    for (std::size_t n = 0; n < m_folders.size(); ++n)
        if (n == 0 || m_folders[n].sharedPath != m_folders[n - 1].sharedPath)
            ++distinct;
    m_pieces.emplace_back();
    m_failed = !m_pieces.back().Write(static_cast<unsigned int>(distinct));
}

bool SharedFilesGathering::Continue(const QDeadlineTimer& deadline)
{
    if (m_pieces.back().GetBufferLength() > 0)
        m_pieces.emplace_back();
    while (m_next < m_folders.size() && !m_failed) {
        WriteNextFolder();
        if (deadline.hasExpired())
            break;
    }
    if (m_next < m_folders.size() && !m_failed)
        return false;
    // The attribute table goes out empty: our attribute codes are fixed.
    if (!m_failed && m_next == m_folders.size()) {
        m_failed = !m_pieces.back().Write(AttributeTranslationTable{});
        ++m_next;
    }
    return true;
}

void SharedFilesGathering::WriteNextFolder()
{
    const std::string& sharedPath = m_folders[m_next].sharedPath;
    std::set<FileInfo> files;
    for (; m_next < m_folders.size() && m_folders[m_next].sharedPath == sharedPath; ++m_next)
        AddFiles(m_folders[m_next].localPath, files);
    MemStream& body = m_pieces.back();
    m_failed = !body.Write(sharedPath) || !body.Write(files);
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

MemStream SharedFilesGathering::JoinedBody() const
{
    std::size_t length = 0;
    for (const MemStream& piece : m_pieces)
        length += static_cast<std::size_t>(piece.GetBufferLength());
    MemStream body;
    // One more than the length: a buffer written exactly full would double.
    if (length > 0 && length < INT_MAX)
        body.EnsureBufferCapacity(static_cast<int>(length + 1));
    for (const MemStream& piece : m_pieces)
        if (!body.WriteBuffer(piece.GetBuffer(),
                              static_cast<unsigned long>(piece.GetBufferLength())))
            return MemStream();
    return body;
}

QByteArray SharedFilesGathering::Body() const
{
    if (m_failed)
        return QByteArray();
    const MemStream body = JoinedBody();
    return QByteArray(body.GetBuffer(), body.GetBufferLength());
}

QByteArray SharedFilesGathering::Pack()
{
    if (m_failed)
        return QByteArray();
    MemStream message;
    if (!PeerMessages::SharedFileList::WritePacked(message, JoinedBody()))
        return QByteArray();
    return QByteArray(message.GetBuffer(), message.GetBufferLength());
}
