#include "ui/UserListForm.h"

#include <algorithm>
#include <vector>

#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddUserDialog.h"
#include "ui/ChatSchema.h"
#include "ui/ChatTypes.h"
#include "ui/SizeManager.h"
#include "ui/UserGroupConfigDialog.h"
#include "ui/UserMenuOptions.h"

using namespace ServerTypes;
using namespace ChatTypes;

namespace {

QTreeWidget* NewList(const QStringList& headers, QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setSortingEnabled(true);
    list->sortByColumn(0, Qt::AscendingOrder);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return list;
}

void OpenDialog(QDialog* dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

} // namespace

UserListForm::UserListForm(QWidget* parent)
    : QWidget(parent), m_users(NewList({"User", "Status", "Groups"}, this)),
      m_unshared(NewList({"User"}, this))
{
    m_users->setObjectName("user_list");
    m_unshared->setObjectName("unshared_list");
    m_users->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_users, &QWidget::customContextMenuRequested, this, &UserListForm::OnUsersContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("User list", this));
    layout->addWidget(m_users, 3);
    layout->addWidget(new QLabel("Users files are not shared with", this));
    layout->addWidget(m_unshared, 1);
}

UserListForm::~UserListForm()
{
    RemoveDataHandlers();
    // The window builds the form before the store is set up.
    for (const char* nodeType : {UserListNode, UnsharedListNode})
        if (Type* type = d.HasType(nodeType))
            type->GetItems().Remove();
}

void UserListForm::Init()
{
    ChatSchema::DeclareSchema();
    for (Item* membership : d.GetType(InUserList)->GetItems()) {
        if (ItemPtr user = ItemPtr(membership)[User])
            OnUserAddedToList(user);
    }
    for (Item* flag : d.GetType(SharingTypes::Unshared)->GetItems()) {
        for (Item* user : ItemPtr(flag).GetItems(User))
            OnUserUnshared(user);
    }
    RegisterStoreHandlers();
    RegisterActions();
    if (sizeManager)
        sizeManager->RegisterTreeWidget("user_list", m_users);
}

void UserListForm::RegisterStoreHandlers()
{
    using Handler = void (UserListForm::*)(Item*);
    const auto watch = [this](const char* type, PathNodeRelation trigger, Handler handler) {
        auto* user = new PathNode(&d, User);
        new PathNode(user, type, trigger);
        d.AddPathEventHandler(user, MakeHandler(this, handler));
    };
    watch(InUserList, PathTriggerOnConnect, &UserListForm::OnUserAddedToList);
    watch(InUserList, PathTriggerOnDisconnect, &UserListForm::OnUserRemovedFromList);
    watch(SharingTypes::Unshared, PathTriggerOnConnect, &UserListForm::OnUserUnshared);
    watch(SharingTypes::Unshared, PathTriggerOnDisconnect, &UserListForm::OnUserReshared);

    // Status and groups matter only for users on the list.
    const auto watchListed = [this](const char* type, PathNodeRelation trigger, Handler handler) {
        auto* user = new PathNode(&d, User);
        new PathNode(user, type, trigger);
        new PathNode(user, InUserList, PathConnected);
        d.AddPathEventHandler(user, MakeHandler(this, handler));
    };
    watchListed(IsOnline, PathTriggerOnConnect, &UserListForm::OnUserOnline);
    watchListed(IsOnline, PathTriggerOnDisconnect, &UserListForm::OnUserOffline);
    for (auto [trigger, handler] :
         {std::pair{PathTriggerOnConnect, &UserListForm::OnUserGroupAdded},
          std::pair{PathTriggerOnDisconnect, &UserListForm::OnUserGroupRemoved}}) {
        auto* user = new PathNode(&d, User);
        auto* membership = new PathNode(user, InUserList, PathConnected);
        new PathNode(membership, UserListGroup, trigger);
        d.AddPathEventHandler(user, MakeHandler(this, handler));
    }
}

void UserListForm::RegisterActions()
{
    if (!actionBar)
        return;
    actionBar->AddSetAction("user_list", "manual_add_user", "Add User", ":/icons/add_user_icon",
                            false);
    actionBar->AddSetAction("user_list", "configure_user_groups", "Configure User Groups",
                            ":/icons/user_list_icon", false);
    for (QTreeWidget* list : {m_users, m_unshared}) {
        actionBar->RegisterWidget(list, "user_list");
        actionBar->AddWidgetColumnKey(list, "user", NameColumn);
    }
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &UserListForm::OnActionBarTriggered);
}

QTreeWidgetItem* UserListForm::Row(ItemPtr user, const char* nodeType)
{
    ItemPtr node = user[nodeType];
    return node ? ObjectFromItem<QTreeWidgetItem>(node) : nullptr;
}

QString UserListForm::GroupsText(ItemPtr user)
{
    ItemPtr membership = user[InUserList];
    if (!membership)
        return QString();
    std::vector<std::string> names;
    for (Item* group : membership.GetItems(UserListGroup))
        names.push_back(group->AsString());
    std::sort(names.begin(), names.end());
    QStringList parts;
    for (const std::string& name : names)
        parts << QString::fromStdString(name);
    return parts.join(", ");
}

void UserListForm::OnUserAddedToList(Item* userItem)
{
    ItemPtr user = userItem;
    if (Row(user, UserListNode))
        return;
    auto* row = new QTreeWidgetItem(m_users, {QString::fromStdString(user.AsString())});
    user.Connect(d.GetType(UserListNode)->GetItem(ObjectValue(row)));
    SetOnline(user, user.IsConnected(IsOnline));
    // The server reports the status of watched users only.
    if (gp_server)
        gp_server->TrackUser(user.AsString());
    UpdateUserGroupsDisplay(user.AsString());
}

void UserListForm::OnUserRemovedFromList(Item* userItem)
{
    ItemPtr user = userItem;
    if (ItemPtr node = user[UserListNode]) {
        delete ObjectFromItem<QTreeWidgetItem>(node);
        node.Remove();
    }
}

void UserListForm::SetOnline(ItemPtr user, bool online)
{
    if (QTreeWidgetItem* row = Row(user, UserListNode))
        row->setText(OnlineColumn, online ? "Online" : "");
}

void UserListForm::OnUserOnline(Item* user)
{
    SetOnline(user, true);
}

void UserListForm::OnUserOffline(Item* user)
{
    SetOnline(user, false);
}

void UserListForm::OnUserGroupAdded(Item* user)
{
    UpdateUserGroupsDisplay(user->AsString());
}

void UserListForm::OnUserGroupRemoved(Item* user)
{
    UpdateUserGroupsDisplay(user->AsString());
}

void UserListForm::UpdateUserGroupsDisplay(const std::string& name)
{
    ItemPtr user = d.GetType(User)->HasItem(name);
    if (QTreeWidgetItem* row = user ? Row(user, UserListNode) : nullptr)
        row->setText(GroupsColumn, GroupsText(user));
}

void UserListForm::OnUserUnshared(Item* userItem)
{
    ItemPtr user = userItem;
    if (Row(user, UnsharedListNode))
        return;
    auto* row = new QTreeWidgetItem(m_unshared, {QString::fromStdString(user.AsString())});
    user.Connect(d.GetType(UnsharedListNode)->GetItem(ObjectValue(row)));
}

void UserListForm::OnUserReshared(Item* userItem)
{
    ItemPtr user = userItem;
    if (ItemPtr node = user[UnsharedListNode]) {
        delete ObjectFromItem<QTreeWidgetItem>(node);
        node.Remove();
    }
}

void UserListForm::OnActionBarTriggered(const std::string& action)
{
    if (action == "manual_add_user") {
        OpenDialog(new AddUserDialog(this));
    } else if (action == "configure_user_groups") {
        OpenDialog(new UserGroupConfigDialog(this));
    } else if (action == "remove_user") {
        std::vector<std::string> names;
        for (QTreeWidgetItem* row : m_users->selectedItems())
            names.push_back(row->text(NameColumn).toStdString());
        for (const std::string& name : names)
            UserMenuOptions::RemoveUserFromList(name);
    } else if (action == "user_groups" && actionBar) {
        const std::string user = actionBar->GetKey("user").toStdString();
        if (!user.empty())
            UserMenuOptions::OpenUserGroups(user, this);
    }
}

void UserListForm::OnUsersContextMenu(const QPoint& position)
{
    QTreeWidgetItem* row = m_users->itemAt(position);
    if (!row)
        return;
    QMenu menu(this);
    new UserMenuOptions(&menu, row->text(NameColumn).toStdString(), &menu);
    menu.exec(m_users->viewport()->mapToGlobal(position));
}
