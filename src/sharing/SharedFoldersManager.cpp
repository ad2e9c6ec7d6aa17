#include "sharing/SharedFoldersManager.h"

#include <QDir>
#include <QMetaMethod>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/PathUtils.h"
#include "base/Settings.h"
#include "dnet/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/ListingCompressor.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SearchResponder.h"
#include "sharing/SearchTokenizer.h"
#include "sharing/ShareListing.h"
#include "sharing/ShareScanner.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharedFilesGathering.h"
#include "sharing/SharingSchema.h"
#include "sharing/SharingTypes.h"
#include "sharing/UserShareStore.h"
#include "store/Data.h"
#include "store/DataSaver.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace {

using namespace SharingTypes;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// The user's item, never created by asking.
ItemPtr ExistingUser(const std::string& user)
{
    return d.GetType(ServerTypes::User)->HasItem(user);
}

// The user-list groups of a listed user; empty for everybody else.
ItemSet GroupsOf(ItemPtr user)
{
    ItemPtr listed = user ? user[ServerTypes::InUserList] : ItemPtr();
    return listed ? listed.GetItems(ServerTypes::UserListGroup) : ItemSet();
}

// Whether one root admits the user: public roots admit everybody, user-list
// roots and group roots only users on our list.
bool RootAdmits(ItemPtr root, ItemPtr user, const ItemSet& groups)
{
    if (root.IsConnected(SharedPublic))
        return true;
    if (!user || !user.IsConnected(ServerTypes::InUserList))
        return false;
    if (root.IsConnected(SharedUserlist))
        return true;
    for (Item* group : groups)
        if (root.IsConnected(group))
            return true;
    return false;
}

bool IsUnshared(ItemPtr user)
{
    return user && user.IsConnected(Unshared);
}

void LogSharedFilesRequest(const std::string& user)
{
    Log(LogCategory::Shared, 1, QString("Shared file list requested by user %1").arg(Text(user)));
}

} // namespace

SharedFoldersManager::SharedFoldersManager()
{
    sharedFoldersManager = this;
    SharingSchema::DeclareSchema(*dataSaver);
    m_lowerNameType = d.GetType(SharedFileLowercaseName);
    AddItemAddedHandler(this, SharedFileName, &SharedFoldersManager::OnFileNameAdded);
    AddItemAddedHandler(this, SharedFileFolder, &SharedFoldersManager::OnFolderAdded);

    m_scanner = new ShareScanner(*this);
    connect(m_scanner, &ShareScanner::Progress, this, &SharedFoldersManager::RescanProgress);
    connect(m_scanner, &ShareScanner::Finished, this, &SharedFoldersManager::SharedFilesRescanned);
    connect(m_scanner, &ShareScanner::Idle, this, &SharedFoldersManager::ScanningFinished);
    connect(m_scanner, &ShareScanner::Idle, this, &SharedFoldersManager::OnScanningFinished);

    m_listingCompressor = new ListingCompressor([this](const std::string& user) {
        return std::make_unique<SharedFilesGathering>(GetUserSharedFolders(user));
    });
    connect(m_listingCompressor, &ListingCompressor::ListingReady, this,
            &SharedFoldersManager::OnSharedFilesListReady);

    m_mp3Scanner = new MP3Scanner();
    m_mp3Scanner->moveToThread(&m_mp3Thread);
    connect(&m_mp3Thread, &QThread::finished, m_mp3Scanner, &QObject::deleteLater);
    connect(m_mp3Scanner, &MP3Scanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned,
            Qt::QueuedConnection);
    m_mp3Thread.start(QThread::InheritPriority);

    connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
    connect(gp_server, &Server::ReceivedUserStats, this,
            &SharedFoldersManager::OnReceivedUserStats);
    connect(peerMessenger, &PeerMessenger::SharedFileListRequested, this,
            &SharedFoldersManager::OnSharedFileListRequested);
    connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
            &SharedFoldersManager::OnFilesInFoldersRequested);
    connect(peerMessenger, &PeerMessenger::UserShare, this, &SharedFoldersManager::OnUserShare,
            Qt::DirectConnection);
    connect(dnetManager, &DNetManager::DNetSearchRequest, this,
            &SharedFoldersManager::OnDNetSearchRequest);
}

SharedFoldersManager::~SharedFoldersManager()
{
    m_mp3Scanner->Quit();
    m_mp3Thread.quit();
    m_mp3Thread.wait();
    RemoveDataHandlers();
    delete m_listingCompressor;
    delete m_scanner;
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::Init()
{
    AddItemAddedHandler(this, SharedFolder, &SharedFoldersManager::OnSharedFolderAdded);
    RescanShares();
}

void SharedFoldersManager::RescanShares()
{
    m_scanner->RescanAll();
}

bool SharedFoldersManager::IsRescanning() const
{
    return m_scanner->IsBusy();
}

void SharedFoldersManager::WaitForRescan()
{
    m_scanner->Wait();
}

void SharedFoldersManager::OnSharedFolderAdded(Item* root)
{
    AddSharedFiles(root->AsString(), root->AsString());
}

void SharedFoldersManager::AddSharedFiles(const std::string& directory, const std::string& rootPath)
{
    m_scanner->ScanFolder(directory, rootPath);
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    ShareScanner::Tokenize(file);
}

bool SharedFoldersManager::IsSearchTokenSeparator(unsigned char c)
{
    return SearchTokenizer::IsSeparator(c);
}

void SharedFoldersManager::OnFileNameAdded(Item* name)
{
    name->Connect(m_lowerNameType->GetItem(GetAbsoluteFileName(name->AsString())));
}

void SharedFoldersManager::OnFolderAdded(Item* folder)
{
    folder->Connect(
        d.GetType(SharedFileFolderLowercaseName)->GetItem(GetAbsoluteFileName(folder->AsString())));
}

std::string SharedFoldersManager::RootPath(const std::string& path)
{
    // The scanner joins names to the root's path, so "/music/" and "/music"
    // must be one root.
    return QDir(QString::fromStdString(path)).absolutePath().toStdString();
}

ItemPtr SharedFoldersManager::ShareFolder(const std::string& path, bool everyone, bool userList,
                                          const std::vector<std::string>& groups)
{
    ItemPtr root = d.GetType(SharedFolder)->GetItem(RootPath(path));
    for (const char* previous : {ServerTypes::UserListGroup, SharedPublic, SharedUserlist})
        root.Disconnect(previous);
    for (const std::string& group : groups)
        root.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(group));
    if (everyone)
        root.Connect(d.GetType(SharedPublic)->GetGlobalNullItem());
    else if (userList)
        root.Connect(d.GetType(SharedUserlist)->GetGlobalNullItem());
    return root;
}

int SharedFoldersManager::UnshareFolders(const std::vector<std::string>& paths)
{
    int unshared = 0;
    for (const std::string& path : paths)
        if (ItemPtr root = d.GetType(SharedFolder)->HasItem(RootPath(path))) {
            root.Remove();
            ++unshared;
        }
    // The folders and files below the roots go with the garbage they leave.
    if (unshared > 0)
        d.RemoveDisconnectedItems();
    return unshared;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, const std::string& user)
{
    ItemPtr userItem = ExistingUser(user);
    ItemPtr folder = file ? file[SharedFileFolder] : ItemPtr();
    if (!folder || IsUnshared(userItem))
        return false;
    const ItemSet groups = GroupsOf(userItem);
    for (Item* root : folder.GetItems(SharedFolder))
        if (RootAdmits(root, userItem, groups))
            return true;
    return false;
}

ItemSet SharedFoldersManager::GetUserSharedFolders(const std::string& user)
{
    ItemSet roots;
    ItemPtr userItem = ExistingUser(user);
    if (IsUnshared(userItem))
        return roots;
    const ItemSet groups = GroupsOf(userItem);
    for (Item* root : d.GetType(SharedFolder)->GetItems())
        if (RootAdmits(root, userItem, groups))
            roots.insert(root);
    return roots;
}

ItemPtr SharedFoldersManager::GetSharedFileItem(const std::string& path)
{
    return FindSharedFile(path, [](ItemPtr) { return true; });
}

ItemPtr SharedFoldersManager::GetSharedFileForUser(const std::string& user,
                                                   const std::string& sharedPath)
{
    // Only files the index holds can ever be named, so no request reaches a
    // path of its own making. Of those, a file is handed out only while a
    // root still holds its directory and admits the user; a directory whose
    // root went away stays in the store until garbage collection. Folders
    // that differ only in case share one lower-case form, so the first
    // match may be hidden from this user while another is not.
    return FindSharedFile(SharedFileRecord::ToLocalPath(sharedPath), [&](ItemPtr file) {
        return file[SharedFileFolder].IsConnected(SharedFolder) && IsFileSharedWithUser(file, user);
    });
}

ItemPtr SharedFoldersManager::FindSharedFile(const std::string& path,
                                             const std::function<bool(ItemPtr)>& accept)
{
    const std::string normalised = GetAbsoluteFileName(path);
    ItemPtr lowerFolder = d.GetType(SharedFileFolderLowercaseName)->HasItem(GetFolder(normalised));
    ItemPtr lowerName = d.GetType(SharedFileLowercaseName)->HasItem(GetFileName(normalised));
    if (!lowerFolder || !lowerName)
        return ItemPtr();
    const ItemSet folders = lowerFolder.GetItems(SharedFileFolder);
    for (Item* name : lowerName.GetItems(SharedFileName))
        for (Item* folder : folders)
            if (ItemPtr file = d.GetItem(name, folder, SharedFile); file && accept(file))
                return file;
    return ItemPtr();
}

void SharedFoldersManager::OnConnectedToServer()
{
    SendShareSize();
    gp_server->GetUserStats(Settings::Get("username"));
}

void SharedFoldersManager::OnScanningFinished()
{
    // The server hands our counts to everyone who meets us in a room; a
    // share added while online would otherwise show as empty until the
    // next login.
    if (gp_server->IsConnected())
        SendShareSize();
}

void SharedFoldersManager::SendShareSize()
{
    gp_server->SendFilesFolders(d.GetType(SharedFileFolder)->ItemCount(),
                                d.GetType(SharedFile)->ItemCount());
}

void SharedFoldersManager::OnReceivedUserStats(std::string user, UserStats stats)
{
    if (user == Settings::Get("username"))
        Settings::Set("upload_speed", stats.m_averageSpeed);
}

void SharedFoldersManager::RequestMP3Scans(std::vector<std::string>&& paths)
{
    // Nobody but tests and tools listens; a path is only made into text
    // for them when they do.
    if (isSignalConnected(QMetaMethod::fromSignal(&SharedFoldersManager::MP3ScanRequired)))
        for (const std::string& path : paths)
            emit MP3ScanRequired(QString::fromStdString(path));
    m_mp3Scanner->Enqueue(std::move(paths));
}

void SharedFoldersManager::OnMP3Scanned(QString path, int version, QString channelMode,
                                        int frequencyIndex, bool vbr, int bitrate)
{
    using namespace SearchTypes;
    Log(LogCategory::MP3Scanning, 1, QString("Scanned %1").arg(path));
    ItemPtr file = GetSharedFileItem(path.toStdString());
    if (!file)
        return;
    file.Connect(d.GetType(MpegVersion)->GetItem(version));
    file.Connect(d.GetType(ChannelMode)->GetItem(channelMode.toStdString()));
    file.Connect(d.GetType(AudioFrequency)->GetItem(frequencyIndex));
    file.Connect(d.GetType(BitrateMode)->GetItem(vbr ? "vbr" : "cbr"));
    file.Connect(d.GetType(Bitrate)->GetItem(bitrate));
    file.Connect(d.GetType(IsScanned)->GetGlobalNullItem());
}

void SharedFoldersManager::OnDNetSearchRequest(std::string user, quint32 token, std::string text)
{
    ProcessSearch(user, token, text);
}

void SharedFoldersManager::ProcessSearch(const std::string& user, unsigned int token,
                                         const std::string& text)
{
    // Our own searches come back down the tree like anybody's.
    if (user == Settings::Get("username"))
        return;
    MemStream reply;
    if (!SearchResponder::BuildReply(*this, user, token, text, reply))
        return;
    Log(LogCategory::Search, 1,
        QString("Sending search results to user %1 for search string %2")
            .arg(Text(user), Text(text)));
    peerMessenger->SendMessage(user, reply);
}

MemStream SharedFoldersManager::GetSharedFilesMessage(const std::string& user)
{
    LogSharedFilesRequest(user);
    return ShareListing::SharedFilesMessage(GetUserSharedFolders(user));
}

void SharedFoldersManager::OnSharedFileListRequested(std::string user)
{
    LogSharedFilesRequest(user);
    // A peer asking again while its listing is being prepared gets that
    // listing, which is as new as the one a second pass would make.
    m_listingCompressor->Request(user);
}

void SharedFoldersManager::OnSharedFilesListReady(std::string user, QByteArray message)
{
    if (message.isEmpty())
        return;
    MemStream stream;
    stream.WriteBuffer(message.constData(), static_cast<unsigned long>(message.size()));
    peerMessenger->SendMessage(user, stream);
}

void SharedFoldersManager::OnFilesInFoldersRequested(std::string user, quint32 token,
                                                     std::string folder)
{
    MemStream reply =
        ShareListing::FolderContentsMessage(GetUserSharedFolders(user), token, folder);
    peerMessenger->SendMessage(user, reply);
}

void SharedFoldersManager::OnUserShare(std::string user, FileInfoMap& share,
                                       AttributeTranslationTable&)
{
    Log(LogCategory::Shared, 1, QString("Received shared file list from user %1").arg(Text(user)));
    UserShareStore::Store(user, share);
}
