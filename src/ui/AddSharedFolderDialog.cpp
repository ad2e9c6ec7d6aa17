#include "AddSharedFolderDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "store/Data.h"

AddSharedFolderDialog::AddSharedFolderDialog(QWidget* parent)
    : QDialog(parent), m_path(new QLineEdit(this)),
      m_everyone(new QCheckBox("Folder accessible to everyone", this)),
      m_userList(new QCheckBox("Folder accessible to all user list users", this))
{
    setWindowTitle("Share Folder");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CreatePathRow());
    layout->addWidget(m_everyone);
    layout->addWidget(m_userList);
    layout->addWidget(new QLabel("Folder accessible to specific user list groups:", this));
    AddGroupBoxes(layout);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AddSharedFolderDialog::reject);
    layout->addWidget(buttons);
}

QWidget* AddSharedFolderDialog::CreatePathRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browse = new QPushButton("Browse...", row);
    connect(browse, &QPushButton::clicked, this, &AddSharedFolderDialog::Browse);
    m_path->setMinimumWidth(320);
    layout->addWidget(new QLabel("Folder:", row));
    layout->addWidget(m_path, 1);
    layout->addWidget(browse);
    return row;
}

void AddSharedFolderDialog::AddGroupBoxes(QVBoxLayout* layout)
{
    std::vector<std::string> names;
    for (Item* group : g(ServerTypes::UserListGroup))
        names.push_back(group->AsString());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        // A group name is data, not a label with a shortcut: keep its '&'.
        QString text = QString::fromStdString(name);
        auto* box = new QCheckBox(text.replace('&', "&&"), this);
        m_groups.emplace_back(box, name);
        layout->addWidget(box);
    }
}

QString AddSharedFolderDialog::Path() const
{
    return m_path->text().trimmed();
}

void AddSharedFolderDialog::Browse()
{
    const QString folder = QFileDialog::getExistingDirectory(this, "Select Folder to Share", Path(),
                                                             QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        m_path->setText(QDir::toNativeSeparators(folder));
}

void AddSharedFolderDialog::accept()
{
    if (Path().isEmpty())
        return;
    ShareFolder();
    QDialog::accept();
}

void AddSharedFolderDialog::ShareFolder()
{
    std::vector<std::string> groups;
    for (const auto& [box, name] : m_groups)
        if (box->isChecked())
            groups.push_back(name);
    sharedFoldersManager->ShareFolder(Path().toUtf8().toStdString(), m_everyone->isChecked(),
                                      m_userList->isChecked(), groups);
}
