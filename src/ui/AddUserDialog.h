#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Adds a user to the list after the server has confirmed that the name
// exists. While the answer is outstanding the name cannot be edited.
class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* parent = nullptr);

    QLineEdit* Name() const { return m_name; }
    QPushButton* AddButton() const { return m_add; }
    QString Status() const;

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(std::string user, bool exists);

private:
    void SetWaiting(bool waiting);

    QLineEdit* m_name;
    QPushButton* m_add;
    QLabel* m_status;
    std::string m_pending;
};
