#include "SimpleChatForm.h"

#include <QLineEdit>
#include <QTextEdit>
#include <QVBoxLayout>

#include "base/Settings.h"
#include "base/TextUtils.h"
#include "server/Server.h"

SimpleChatForm::SimpleChatForm(const std::string& user, QWidget* parent)
    : QWidget(parent), m_user(user), m_view(new QTextEdit(this)), m_entry(new QLineEdit(this))
{
    m_view->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(m_entry);
    setFocusProxy(m_entry);
    connect(m_entry, &QLineEdit::returnPressed, this, &SimpleChatForm::OnEnter);
}

void SimpleChatForm::AddLine(const std::string& sender, const std::string& text)
{
    m_view->append(ConvertLinks("[<font color=\"blue\">" +
                                EscapeHTML(QString::fromStdString(sender)) + "</font>] " +
                                EscapeHTML(QString::fromStdString(text))));
}

void SimpleChatForm::AddChat(const std::string& text)
{
    AddLine(m_user, text);
}

void SimpleChatForm::Focus()
{
    m_entry->setFocus();
}

QString SimpleChatForm::Transcript() const
{
    return m_view->toPlainText();
}

void SimpleChatForm::OnEnter()
{
    const QString text = m_entry->text();
    if (text.isEmpty())
        return;
    AddLine(Settings::Get("username"), text.toStdString());
    gp_server->SendPrivateChat(m_user, text.toStdString());
    m_entry->clear();
}
