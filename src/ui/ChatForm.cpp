#include "ui/ChatForm.h"

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

#include "base/Settings.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/ChatSchema.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/EventToolBar.h"
#include "ui/UserMenuOptions.h"

ChatForm::ChatForm(std::string user, QWidget* parent)
    : QWidget(parent), m_user(std::move(user)), m_view(new ChatView(this)),
      m_entry(new QLineEdit(this))
{
    ChatSchema::DeclareSchema();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    layout->addWidget(m_entry);
    setFocusProxy(m_entry);
    connect(m_entry, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &ChatForm::OnViewContextMenu);
}

ChatForm::~ChatForm()
{
    ItemPtr user = d.GetType(ServerTypes::User)->HasItem(m_user);
    ItemPtr widget = user[ChatTypes::UserChatWidget];
    if (widget && ObjectFromItem<ChatForm>(widget) == this)
        widget.Remove();
}

void ChatForm::AddChat(const std::string& text)
{
    m_view->AddLine(
        ChatView::ChatLine(QString::fromStdString(m_user), QString::fromStdString(text)));
    // Someone reading this very conversation needs no reminder of it.
    if (eventToolBar && !(isVisible() && window()->isActiveWindow()))
        eventToolBar->AddEvent(QString::fromStdString(m_user), ChatIcon, this);
}

void ChatForm::OnEnter()
{
    const QString text = m_entry->text();
    if (text.isEmpty())
        return;
    m_view->AddLine(ChatView::ChatLine(QString::fromStdString(Settings::Get("username")), text));
    if (gp_server)
        gp_server->SendPrivateChat(m_user, text.toStdString());
    m_entry->clear();
}

void ChatForm::Focus()
{
    m_entry->setFocus();
}

void ChatForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(this);
}

void ChatForm::OnViewContextMenu(const QPoint& position)
{
    // The menu is the view's child and goes with it if the tab is closed
    // meanwhile.
    QPointer<QMenu> menu = m_view->createStandardContextMenu(position);
    new UserMenuOptions(menu, m_user, menu);
    menu->exec(m_view->viewport()->mapToGlobal(position));
    delete menu;
}
