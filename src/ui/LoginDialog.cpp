#include "LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Settings.h"

namespace {
// Names the server accepts: not empty and not over 30 bytes.
constexpr int MaxUsernameLength = 30;
} // namespace

LoginDialog::LoginDialog(bool firstStart, QWidget* parent)
    : QDialog(parent), m_username(new QLineEdit(this)), m_password(new QLineEdit(this))
{
    setWindowTitle("Login Settings");
    m_username->setMaxLength(MaxUsernameLength);
    m_username->setText(QString::fromStdString(Settings::Get("username")));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setText(QString::fromStdString(Settings::Get("password")));

    auto* form = new QFormLayout;
    form->addRow("User name:", m_username);
    form->addRow("Password:", m_password);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &LoginDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LoginDialog::reject);
    connect(m_username, &QLineEdit::textChanged, this, &LoginDialog::UpdateOkButton);
    connect(m_password, &QLineEdit::textChanged, this, &LoginDialog::UpdateOkButton);

    auto* layout = new QVBoxLayout(this);
    if (firstStart) {
        auto* intro = new QLabel("Choose the user name and password you log in with. A new "
                                 "name is registered the first time you use it.",
                                 this);
        intro->setWordWrap(true);
        layout->addWidget(intro);
    }
    layout->addLayout(form);
    layout->addWidget(buttons);
    UpdateOkButton();
}

QString LoginDialog::Username() const
{
    return m_username->text().trimmed();
}

QString LoginDialog::Password() const
{
    return m_password->text().trimmed();
}

void LoginDialog::UpdateOkButton()
{
    m_ok->setEnabled(!Username().isEmpty() && !Password().isEmpty());
}

void LoginDialog::accept()
{
    // Blanks around either are typing slips, and the server needs both.
    if (Username().isEmpty() || Password().isEmpty())
        return;
    Settings::Set("username", Username().toStdString());
    Settings::Set("password", Password().toStdString());
    QDialog::accept();
}
