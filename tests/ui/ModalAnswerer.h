#pragma once

#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include "ui/LoginDialog.h"

// The window's dialogs are modal and run loops of their own, so a timer
// answers them: a message box is remembered ("title: text") and confirmed,
// another dialog goes to the script's next step, and a login dialog with no
// step left gets `user` and `password`, or is refused when `user` is empty.
class ModalAnswerer : public QTimer
{
public:
    explicit ModalAnswerer(QString user = {}, QString password = {})
        : m_user(std::move(user)), m_password(std::move(password))
    {
        connect(this, &QTimer::timeout, [this] { Answer(); });
        start(10);
    }

    QStringList boxes;
    QList<std::function<void(QDialog*)>> script;
    int logins = 0;

private:
    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->windowTitle() + ": " + box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && !script.isEmpty()) {
            script.takeFirst()(dialog);
        } else if (auto* login = qobject_cast<LoginDialog*>(modal)) {
            const auto fields = login->findChildren<QLineEdit*>();
            if (m_user.isEmpty() || fields.size() != 2)
                return login->reject();
            ++logins;
            fields[0]->setText(m_user);
            fields[1]->setText(m_password);
            login->accept();
        }
    }

    const QString m_user;
    const QString m_password;
};
