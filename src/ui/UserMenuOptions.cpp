#include "ui/UserMenuOptions.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTabWidget>

#include "peers/PeerMessenger.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "ui/ChatHost.h"
#include "ui/UserGroupsDialog.h"

using namespace ServerTypes;

ChatHost* chatHost = nullptr;

namespace {

// The share view's open tab of a user's listing, when there is one.
QWidget* OpenListingTab(ItemPtr user)
{
    if (!user || !d.HasType("user_share_tab"))
        return nullptr;
    ItemPtr tab = user[SharingTypes::UserShare]["user_share_tab"];
    return tab ? ObjectFromItem<QWidget>(tab) : nullptr;
}

QWidget* MenuParentWidget(QObject* object)
{
    for (; object; object = object->parent()) {
        if (auto* widget = qobject_cast<QWidget*>(object))
            return widget->window();
    }
    return QApplication::activeWindow();
}

} // namespace

UserMenuOptions::UserMenuOptions(QMenu* menu, std::string user, QObject* parent)
    : QObject(parent), m_user(std::move(user))
{
    const std::string name = m_user;
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    const qsizetype firstEntry = menu->actions().size();

    menu->addAction("Message user", this, [name] {
        if (chatHost)
            chatHost->OpenChatForm(name);
    });

    ItemPtr userItem = d.GetType(User)->HasItem(name);
    if (userItem && userItem.IsConnected(InUserList)) {
        QWidget* dialogParent = MenuParentWidget(menu);
        menu->addAction("Set user's groups", this,
                        [name, dialogParent] { OpenUserGroups(name, dialogParent); });
        menu->addAction("Remove user from list", this, [name] { RemoveUserFromList(name); });
    } else {
        QWidget* dialogParent = MenuParentWidget(menu);
        menu->addAction("Add user to list", this, [name, dialogParent] {
            AddUserToList(name);
            OpenUserGroups(name, dialogParent);
        });
    }

    menu->addAction("Browse user's files", this, [name] { BrowseUser(name); });

    menu->addSeparator();
    if (userItem && userItem.IsConnected(SharingTypes::Unshared))
        menu->addAction("Re-share files with user", this, [name] { ReshareUser(name); });
    else
        menu->addAction("Unshare files from user", this, [name] { UnshareUser(name); });

    // Whoever inspects the menu later can tell whom an entry is about.
    const QList<QAction*> entries = menu->actions();
    for (qsizetype i = firstEntry; i < entries.size(); ++i)
        entries[i]->setData(QString::fromStdString(name));
}

void UserMenuOptions::UnshareUser(const std::string& user)
{
    // Besides flagging the user, the transfer manager refuses the uploads
    // already queued for them.
    transferQueueManager->UnshareUser(user);
}

void UserMenuOptions::ReshareUser(const std::string& user)
{
    transferQueueManager->ReshareUser(user);
}

void UserMenuOptions::BrowseUser(const std::string& user)
{
    if (QWidget* tab = OpenListingTab(d.GetType(User)->HasItem(user))) {
        // Every tab widget on the way up shows the page holding the listing,
        // the window's own pages too. A page sits in its tab widget's stack.
        for (QWidget* page = tab; page->parentWidget(); page = page->parentWidget())
            if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
                if (tabs->indexOf(page) >= 0)
                    tabs->setCurrentWidget(page);
        return;
    }
    if (peerMessenger)
        peerMessenger->GetUserSharedFiles(user);
}

void UserMenuOptions::AddUserToList(const std::string& user)
{
    ItemPtr userItem = d.GetType(User)->GetItem(user);
    if (!userItem.IsConnected(InUserList))
        userItem.NewItem(InUserList);
}

void UserMenuOptions::RemoveUserFromList(const std::string& user)
{
    if (ItemPtr userItem = d.GetType(User)->HasItem(user))
        userItem.Disconnect(InUserList);
}

void UserMenuOptions::OpenUserGroups(const std::string& user, QWidget* parent)
{
    auto* dialog = new UserGroupsDialog(user, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
