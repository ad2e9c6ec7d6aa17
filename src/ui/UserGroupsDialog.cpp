#include "ui/UserGroupsDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/ServerTypes.h"
#include "store/Data.h"

using namespace ServerTypes;

UserGroupsDialog::UserGroupsDialog(std::string user, QWidget* parent)
    : QDialog(parent), m_user(std::move(user)), m_groups(new QListWidget(this)),
      m_newGroup(new QLineEdit(this))
{
    setWindowTitle("Groups of " + QString::fromStdString(m_user));
    m_groups->setSortingEnabled(true);
    auto* create = new QPushButton("Create New Group", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* newRow = new QHBoxLayout;
    newRow->addWidget(m_newGroup);
    newRow->addWidget(create);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_groups);
    layout->addLayout(newRow);
    layout->addWidget(buttons);

    for (Item* group : d.GetType(UserListGroup)->GetItems())
        AddGroupRow(group);
    AddItemAddedHandler(this, UserListGroup, &UserGroupsDialog::OnGroupAdded);
    AddItemRemovedHandler(this, UserListGroup, &UserGroupsDialog::OnGroupRemoved);

    connect(m_groups, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupChanged);
    connect(create, &QPushButton::clicked, this, &UserGroupsDialog::OnNewGroupButtonClicked);
    connect(m_newGroup, &QLineEdit::returnPressed, this,
            &UserGroupsDialog::OnNewGroupButtonClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    create->setAutoDefault(false);
}

UserGroupsDialog::~UserGroupsDialog()
{
    RemoveDataHandlers();
}

ItemPtr UserGroupsDialog::Membership() const
{
    ItemPtr user = d.GetType(User)->HasItem(m_user);
    return user[InUserList];
}

void UserGroupsDialog::AddGroupRow(ItemPtr group)
{
    auto* row = new QListWidgetItem(QString::fromStdString(group.AsString()));
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    ItemPtr membership = Membership();
    const bool member = membership && membership.IsConnected(group);
    row->setCheckState(member ? Qt::Checked : Qt::Unchecked);
    const QSignalBlocker quiet(m_groups);
    m_groups->addItem(row);
}

void UserGroupsDialog::OnGroupAdded(Item* group)
{
    AddGroupRow(group);
}

void UserGroupsDialog::OnGroupRemoved(Item* group)
{
    const QString name = QString::fromStdString(group->AsString());
    for (QListWidgetItem* row : m_groups->findItems(name, Qt::MatchExactly))
        delete row;
}

void UserGroupsDialog::OnGroupChanged(QListWidgetItem* row)
{
    ItemPtr group = d.GetType(UserListGroup)->HasItem(row->text().toStdString());
    ItemPtr membership = Membership();
    if (!group || !membership)
        return;
    if (row->checkState() == Qt::Checked)
        membership.Connect(group);
    else if (membership.IsConnected(group))
        membership.Disconnect(group);
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const std::string name = m_newGroup->text().trimmed().toStdString();
    m_newGroup->clear();
    if (!name.empty())
        d.GetType(UserListGroup)->GetItem(name);
}
