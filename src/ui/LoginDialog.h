#pragma once

#include <QDialog>

class QLineEdit;

// Asks for the user name and password used to log in to the server. Shown
// at start when no user name is stored, and later from the options.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    // `firstStart` explains that a name is needed before the client can
    // connect at all.
    explicit LoginDialog(bool firstStart, QWidget* parent = nullptr);

    QString Username() const;
    QString Password() const;

public slots:
    void accept() override;

private slots:
    void UpdateOkButton();

private:
    QLineEdit* m_username;
    QLineEdit* m_password;
    class QPushButton* m_ok;
};
