#pragma once

#include <string>

#include <QDialog>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Item;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

// Puts one user into user-list groups: every group with a check box that
// connects or disconnects the user's list membership and the group, and a
// field to create a new group. Groups created anywhere appear at once.
class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    UserGroupsDialog(std::string user, QWidget* parent = nullptr);
    ~UserGroupsDialog() override;

    QListWidget* Groups() const { return m_groups; }
    QLineEdit* NewGroupName() const { return m_newGroup; }

public slots:
    void OnNewGroupButtonClicked();

private slots:
    void OnGroupChanged(QListWidgetItem* row);

private:
    void OnGroupAdded(Item* group);
    void OnGroupRemoved(Item* group);
    void AddGroupRow(ItemPtr group);
    ItemPtr Membership() const;

    std::string m_user;
    QListWidget* m_groups;
    QLineEdit* m_newGroup;
};
