#include "ui/AddUserDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"

using namespace ServerTypes;

AddUserDialog::AddUserDialog(QWidget* parent)
    : QDialog(parent), m_name(new QLineEdit(this)), m_add(new QPushButton("Add User", this)),
      m_status(new QLabel(this))
{
    setWindowTitle("Add User");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_add, QDialogButtonBox::ActionRole);
    auto* form = new QFormLayout;
    form->addRow("User name", m_name);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addWidget(buttons);

    connect(m_add, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    connect(m_name, &QLineEdit::returnPressed, this, &AddUserDialog::OnAddUserClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

QString AddUserDialog::Status() const
{
    return m_status->text();
}

void AddUserDialog::OnAddUserClicked()
{
    if (!m_pending.empty())
        return;
    const std::string name = m_name->text().trimmed().toStdString();
    if (name.empty()) {
        m_status->setText("User name must not be empty.");
        return;
    }
    if (!gp_server || !gp_server->IsConnected()) {
        m_status->setText("Must be online to add a user to your list.");
        return;
    }
    ItemPtr user = d.GetType(User)->HasItem(name);
    if (user && user.IsConnected(InUserList)) {
        m_status->setText("User already in list.");
        return;
    }
    m_status->setText("Adding user...");
    SetWaiting(true);
    m_pending = name;
    gp_server->AddUser(name);
}

void AddUserDialog::OnAddUserResponse(std::string user, bool exists)
{
    if (m_pending.empty() || user != m_pending)
        return;
    SetWaiting(false);
    m_pending.clear();
    if (!exists) {
        m_status->setText("User name does not exist.");
        return;
    }
    ItemPtr userItem = d.GetType(User)->GetItem(user);
    if (!userItem.IsConnected(InUserList))
        userItem.NewItem(InUserList);
    m_status->setText("User added to list.");
}

void AddUserDialog::SetWaiting(bool waiting)
{
    m_name->setReadOnly(waiting);
    m_add->setEnabled(!waiting);
}
