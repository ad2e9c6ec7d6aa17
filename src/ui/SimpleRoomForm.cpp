#include "SimpleRoomForm.h"

#include <QLineEdit>
#include <QTextEdit>
#include <QVBoxLayout>

#include "base/TextUtils.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"

SimpleRoomForm::SimpleRoomForm(const std::string& room, QWidget* parent)
    : QWidget(parent), m_room(room), m_view(new QTextEdit(this)), m_entry(new QLineEdit(this))
{
    m_view->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(m_entry);
    setFocusProxy(m_entry);
    connect(m_entry, &QLineEdit::returnPressed, this, &SimpleRoomForm::OnEnterPressed);
    connect(gp_server, &Server::RoomChat, this, &SimpleRoomForm::OnRoomChat);
    AddPairDisconnectionHandler(this, ServerTypes::InRoom, ServerTypes::Room,
                                &SimpleRoomForm::OnLeftRoom);
}

void SimpleRoomForm::Init()
{
    actionBar->RegisterWidget(this, "room");
    actionBar->AddWidgetKey(this, "room", QString::fromStdString(m_room));
}

QString SimpleRoomForm::Transcript() const
{
    return m_view->toPlainText();
}

void SimpleRoomForm::OnRoomChat(const std::string& room, const std::string& user,
                                const std::string& text)
{
    if (room != m_room)
        return;
    m_view->append(ConvertLinks("[<font color=\"blue\">" +
                                EscapeHTML(QString::fromStdString(user)) + "</font>] " +
                                EscapeHTML(QString::fromStdString(text))));
}

void SimpleRoomForm::OnEnterPressed()
{
    const QString text = m_entry->text();
    if (text.isEmpty())
        return;
    gp_server->SendRoomChat(m_room, text.toStdString());
    m_entry->clear();
}

void SimpleRoomForm::OnLeftRoom(ConnectionInfo& info)
{
    if (info.other->AsString() != m_room)
        return;
    RemoveDataHandlers();
    deleteLater();
}
