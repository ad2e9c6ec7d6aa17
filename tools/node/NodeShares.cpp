#include "NodeShares.h"

#include <algorithm>
#include <string>
#include <vector>

#include <QDir>
#include <QFileInfo>

#include "NodeOutput.h"
#include "peers/PeerMessenger.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/ConnectionInfo.h"
#include "store/Data.h"

namespace {

using namespace SharingTypes;

// A scan that runs longer than this reports how far it got, once per
// interval; shorter ones only report their end.
constexpr qint64 ProgressIntervalMs = 1000;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string S(const QString& text)
{
    return text.toStdString();
}

// Paths are kept absolute and without "." or ".." parts, the way a folder
// chooser would hand them over.
QString AbsolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// The listing of a user once it has arrived completely; null otherwise.
ItemPtr LoadedShareOf(const QString& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->HasItem(S(user));
    ItemPtr share = userItem ? userItem[UserShare] : ItemPtr();
    return share && share.IsConnected(UserShareLoaded) ? share : ItemPtr();
}

std::size_t FileCount(ItemPtr share)
{
    std::size_t files = 0;
    for (Item* folder : share.GetItems(UserShareFolder))
        files += ItemPtr(folder).GetItems(UserShareFile).size();
    return files;
}

// The group a "group:NAME" word names; empty for any other word.
QString GroupOf(const QString& word)
{
    const QString prefix = "group:";
    return word.startsWith(prefix) ? word.mid(prefix.size()) : QString();
}

bool IsVisibility(const QString& word)
{
    return word == "public" || word == "userlist" || !GroupOf(word).isEmpty();
}

} // namespace

NodeShares::NodeShares(QObject* parent) : QObject(parent) {}

NodeShares::~NodeShares()
{
    RemoveDataHandlers();
}

void NodeShares::ManagersCreated()
{
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &NodeShares::OnRescanned);
    connect(sharedFoldersManager, &SharedFoldersManager::RescanProgress, this,
            &NodeShares::OnRescanProgress);
    connect(sharedFoldersManager->GetMP3Scanner(), &MP3Scanner::MP3Scanned, this,
            &NodeShares::OnMP3Scanned, Qt::QueuedConnection);
    AddPairConnectionHandler(this, UserShare, UserShareLoaded, &NodeShares::OnShareLoaded);
}

void NodeShares::Share(const QString& pathAndVisibility)
{
    const int space = pathAndVisibility.lastIndexOf(' ');
    const QString visibility = pathAndVisibility.mid(space + 1);
    const QString path = AbsolutePath(pathAndVisibility.left(space).trimmed());
    if (space < 0) {
        NodeOutput::Print({"error", "share " + pathAndVisibility});
        return;
    }
    if (!IsVisibility(visibility)) {
        NodeOutput::Print({"error", "bad visibility " + visibility});
        return;
    }
    if (!QFileInfo(path).isDir()) {
        NodeOutput::Print({"error", "no such folder " + path});
        return;
    }
    // A new root starts its scan as soon as it exists. Sharing a root again
    // replaces who may see it.
    m_progressClock.invalidate();
    const QString group = GroupOf(visibility);
    sharedFoldersManager->ShareFolder(S(path), visibility == "public", visibility == "userlist",
                                      group.isEmpty() ? std::vector<std::string>()
                                                      : std::vector<std::string>{S(group)});
    NodeOutput::Print({"shared", path, visibility});
}

void NodeShares::Unshare(const QString& path)
{
    const QString absolute = AbsolutePath(path);
    if (sharedFoldersManager->UnshareFolders({S(absolute)}) == 0)
        NodeOutput::Print({"error", "not shared " + absolute});
    else
        NodeOutput::Print({"unshared", absolute});
}

void NodeShares::Rescan()
{
    m_progressClock.invalidate();
    sharedFoldersManager->RescanShares();
}

void NodeShares::AddUser(const QString& userAndGroup)
{
    const QStringList words = userAndGroup.split(' ', Qt::SkipEmptyParts);
    if (words.size() > 2) {
        NodeOutput::Print({"error", "adduser " + userAndGroup});
        return;
    }
    ItemPtr user = d.GetType(ServerTypes::User)->GetItem(S(words[0]));
    ItemPtr listed = user[ServerTypes::InUserList];
    if (!listed)
        listed = user.NewItem(ServerTypes::InUserList);
    if (words.size() == 2)
        listed.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(S(words[1])));
}

void NodeShares::Browse(const QString& user)
{
    peerMessenger->GetUserSharedFiles(S(user));
}

void NodeShares::List(const QString& user, const QString& folder)
{
    ItemPtr share = LoadedShareOf(user);
    if (!share) {
        NodeOutput::Print({"error", "no listing of " + user});
        return;
    }
    ItemPtr name = d.GetType(UserShareFolderName)->HasItem(S(folder));
    ItemPtr folderItem = name ? d.GetItem(share, name, UserShareFolder) : ItemPtr();
    if (!folderItem) {
        NodeOutput::Print({"error", "no folder " + folder + " in the listing of " + user});
        return;
    }
    std::vector<std::pair<std::string, ItemPtr>> files;
    for (Item* file : folderItem.GetItems(UserShareFile))
        files.emplace_back(ItemPtr(file)[UserShareFileName].AsString(), file);
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [fileName, file] : files)
        NodeOutput::Print({"share-file", user, folder, Q(fileName),
                           Q(file[UserShareFileSize].AsString()),
                           Q(FileItemDisplay::GetFileItemDisplayString(file))});
}

void NodeShares::OnRescanned(int added, int removed)
{
    m_progressClock.invalidate();
    NodeOutput::Print({"rescanned", QString::number(added), QString::number(removed)});
}

void NodeShares::OnRescanProgress(int folders, int files)
{
    if (!m_progressClock.isValid()) {
        m_progressClock.start();
        return;
    }
    if (m_progressClock.elapsed() < ProgressIntervalMs)
        return;
    m_progressClock.restart();
    NodeOutput::Print({"rescan-progress", QString::number(folders), QString::number(files)});
}

void NodeShares::OnMP3Scanned(QString path, int, QString, int, bool vbr, int bitrate)
{
    // Written the way results and listings show a file's bitrate.
    NodeOutput::Print(
        {"mp3-scanned", path, QString("%1 %2").arg(bitrate).arg(vbr ? "VBR" : "CBR")});
}

void NodeShares::OnShareLoaded(ConnectionInfo& info)
{
    ItemPtr share(info.item);
    NodeOutput::Print({"share-loaded", Q(share[ServerTypes::User].AsString()),
                       QString::number(share.GetItems(UserShareFolder).size()),
                       QString::number(FileCount(share))});
}
