#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QVBoxLayout;

// Adds a shared root: the folder and who may see it, everybody, everybody
// on the user list, or the members of chosen user-list groups. Creating the
// root starts its scan.
class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddSharedFolderDialog(QWidget* parent = nullptr);

    QString Path() const;

public slots:
    // Does nothing while no folder is chosen, so the dialog stays open.
    void accept() override;

private slots:
    void Browse();

private:
    QWidget* CreatePathRow();
    void AddGroupBoxes(QVBoxLayout* layout);
    void ShareFolder();

    QLineEdit* m_path;
    QCheckBox* m_everyone;
    QCheckBox* m_userList;
    // One box per user-list group, with the group's name as stored.
    std::vector<std::pair<QCheckBox*, std::string>> m_groups;
};
