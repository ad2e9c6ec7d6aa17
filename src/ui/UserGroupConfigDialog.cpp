#include "ui/UserGroupConfigDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include "server/ServerTypes.h"
#include "store/Data.h"

using namespace ServerTypes;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* parent)
    : QDialog(parent), m_groups(new QListWidget(this)), m_priority(new QSpinBox(this))
{
    setWindowTitle("Configure User Groups");
    m_groups->setSortingEnabled(true);
    m_priority->setRange(0, MaxPriority);
    m_priority->setEnabled(false);
    auto* help = new QLabel(PriorityHelp, this);
    help->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* form = new QFormLayout;
    form->addRow("Download Priority", m_priority);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_groups);
    layout->addLayout(form);
    layout->addWidget(help);
    layout->addWidget(buttons);

    for (Item* group : d.GetType(UserListGroup)->GetItems())
        OnGroupAdded(group);
    AddItemAddedHandler(this, UserListGroup, &UserGroupConfigDialog::OnGroupAdded);
    AddItemRemovedHandler(this, UserListGroup, &UserGroupConfigDialog::OnGroupRemoved);

    connect(m_groups, &QListWidget::itemSelectionChanged, this,
            &UserGroupConfigDialog::OnGroupSelected);
    connect(m_priority, &QSpinBox::valueChanged, this,
            &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    RemoveDataHandlers();
}

void UserGroupConfigDialog::OnGroupAdded(Item* group)
{
    m_groups->addItem(QString::fromStdString(group->AsString()));
}

void UserGroupConfigDialog::OnGroupRemoved(Item* group)
{
    const QString name = QString::fromStdString(group->AsString());
    for (QListWidgetItem* row : m_groups->findItems(name, Qt::MatchExactly))
        delete row;
}

void UserGroupConfigDialog::OnGroupSelected()
{
    QListWidgetItem* row = m_groups->currentItem();
    ItemPtr group = row ? d.GetType(UserListGroup)->HasItem(row->text().toStdString()) : ItemPtr();
    m_priority->setEnabled(bool(group));
    const QSignalBlocker quiet(m_priority);
    m_priority->setValue(group ? group[GroupDownloadPriority].AsInt() : 0);
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int value)
{
    QListWidgetItem* row = m_groups->currentItem();
    ItemPtr group = row ? d.GetType(UserListGroup)->HasItem(row->text().toStdString()) : ItemPtr();
    if (!group)
        return;
    if (group.IsConnected(GroupDownloadPriority))
        group.Disconnect(GroupDownloadPriority);
    if (value > 0)
        group.Connect(d.GetType(GroupDownloadPriority)->GetItem(value));
}
