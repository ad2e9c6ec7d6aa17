#pragma once

#include <memory>
#include <string>
#include <utility>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include "../app/StartUpTestHost.h"
#include "app/StartUp.h"
#include "server/ServerTypes.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

// The whole program started headless, as the window starts it, with a
// folder on disk to share from. Start once per test executable (types live
// as long as the process); Reset between tests. The MP3 scanner is stopped
// so the empty files written here never come back with attributes.
class ShareFixture
{
public:
    // How a root is shared, as the add-share dialog sets it.
    enum class Visibility
    {
        Public,
        UserList,
        Group,
        PublicAndGroup,
        Private
    };

    void Start()
    {
        m_startUp = std::make_unique<StartUp>(&m_host);
        m_startUp->Init();
        sharedFoldersManager->GetMP3Scanner()->Quit();
        sharedFoldersManager->WaitForRescan();
    }
    void Stop() { m_startUp.reset(); }

    // Unshares everything, drops what hung from it and empties the disk.
    void Reset()
    {
        sharedFoldersManager->WaitForRescan();
        d.GetType(SharingTypes::SharedFolder)->RemoveAllItems();
        d.RemoveDisconnectedItems();
        QDir(Disk()).removeRecursively();
        QDir().mkpath(Disk());
    }

    // An absolute path below the test's folder on disk.
    QString Disk(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? m_disk.path() + "/disk" : m_disk.path() + "/disk/" + relative;
    }
    std::string Path(const QString& relative = QString()) const
    {
        return Disk(relative).toStdString();
    }
    // Writes a file of `size` zero bytes, making its folders.
    void Write(const QString& relative, qint64 size = 0) const
    {
        QDir().mkpath(QFileInfo(Disk(relative)).path());
        QFile file(Disk(relative));
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
            qFatal("cannot write %s", qPrintable(Disk(relative)));
    }

    // Shares a folder the way the dialog does; waits until its scan is done.
    ItemPtr Share(const QString& relative, Visibility visibility = Visibility::Public,
                  const char* group = "friends") const
    {
        const bool grouped =
            visibility == Visibility::Group || visibility == Visibility::PublicAndGroup;
        ItemPtr root = sharedFoldersManager->ShareFolder(
            Path(relative),
            visibility == Visibility::Public || visibility == Visibility::PublicAndGroup,
            visibility == Visibility::UserList,
            grouped ? std::vector<std::string>{group} : std::vector<std::string>());
        sharedFoldersManager->WaitForRescan();
        return root;
    }

    // Rescans and returns what SharedFilesRescanned reported.
    static std::pair<int, int> Rescan()
    {
        QSignalSpy done(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned);
        sharedFoldersManager->RescanShares();
        sharedFoldersManager->WaitForRescan();
        if (done.isEmpty())
            return {-1, -1};
        return {done.last().at(0).toInt(), done.last().at(1).toInt()};
    }

    ItemPtr File(const QString& relative) const
    {
        return sharedFoldersManager->GetSharedFileItem(Path(relative));
    }
    static QStringList Tokens(ItemPtr file)
    {
        QStringList tokens;
        if (file)
            for (Item* token : file.GetItems(SharingTypes::SearchToken))
                tokens << QString::fromStdString(token->AsString());
        tokens.sort();
        return tokens;
    }
    static int CountOf(const char* typeName)
    {
        return static_cast<int>(d.GetType(typeName)->ItemCount());
    }

    // A user the server told us about; `listed` puts them on our user list,
    // `group` in one of its groups.
    static ItemPtr User(const std::string& name, bool listed, const char* group = nullptr)
    {
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name);
        if (listed) {
            ItemPtr entry = user.NewItem(ServerTypes::InUserList);
            if (group)
                entry.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem(group));
        }
        return user;
    }

private:
    StartUpTestHost m_host;
    std::unique_ptr<StartUp> m_startUp;
    QTemporaryDir m_disk;
};
