#pragma once

#include <string>

#include <QWidget>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Item;
class QTreeWidget;
class QTreeWidgetItem;

// The user list page: every user on our list with whether they are online
// and their groups, and below it the users we share nothing with. Both
// lists follow the store, so a loaded snapshot, the add-user dialog and the
// user menu all show up here without telling the form.
class UserListForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    enum UserColumn
    {
        NameColumn = 0,
        OnlineColumn = 1,
        GroupsColumn = 2
    };

    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    // Lists what the store holds already, watches it from then on and
    // registers the lists with the action tool bar. Needs the base schema.
    void Init();

    QTreeWidget* Users() const { return m_users; }
    QTreeWidget* Unshared() const { return m_unshared; }
    // A user's groups in ascending byte order, joined by ", ".
    static QString GroupsText(ItemPtr user);

public slots:
    void OnActionBarTriggered(const std::string& action);

private slots:
    void OnUsersContextMenu(const QPoint& position);

private:
    void RegisterStoreHandlers();
    void RegisterActions();
    void OnUserAddedToList(Item* user);
    void OnUserRemovedFromList(Item* user);
    void OnUserOnline(Item* user);
    void OnUserOffline(Item* user);
    void OnUserUnshared(Item* user);
    void OnUserReshared(Item* user);
    void OnUserGroupAdded(Item* user);
    void OnUserGroupRemoved(Item* user);
    void UpdateUserGroupsDisplay(const std::string& user);
    static QTreeWidgetItem* Row(ItemPtr user, const char* nodeType);
    void SetOnline(ItemPtr user, bool online);

    QTreeWidget* m_users;
    QTreeWidget* m_unshared;
};
