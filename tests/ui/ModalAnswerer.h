#pragma once

#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include "ui/LoginDialog.h"

// Every dialog of the window is modal and runs a loop of its own, so the
// tests answer them from a timer, as the user would: a message box is
// remembered ("title: text") and confirmed, any other dialog goes to the
// next step of the script, and a login dialog with no step left is filled
// in with `user` and `password` — or refused when `user` is empty, which
// keeps the client offline.
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
