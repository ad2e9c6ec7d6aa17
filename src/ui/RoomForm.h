#pragma once

#include <string>

#include <QWidget>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class ChatView;
class Item;
class QLineEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

// One chat room we are in: the conversation, the entry line and the member
// list. The members follow the store (users connected to the room with
// their speed, file count and country); the form re-enters its room after
// every reconnection and deletes itself when we leave the room.
class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    static constexpr const char* AutojoinOnText = "Auto-Join Room [on]";
    static constexpr const char* AutojoinOffText = "Auto-Join Room [off]";

    RoomForm(std::string room, QWidget* parent = nullptr);
    ~RoomForm() override;

    // Registers the form with the action tool bar and the window geometry.
    void Init();

    const std::string& Room() const { return m_room; }
    ChatView* View() const { return m_view; }
    QLineEdit* Entry() const { return m_entry; }
    QTreeWidget* Members() const { return m_members; }
    // The text of the autojoin button as the room's flag stands.
    QString AutojoinText() const;

    void AddStatusMessage(const std::string& text);

public slots:
    void OnRoomChat(std::string room, std::string user, std::string text);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();

private slots:
    void OnMembersContextMenu(const QPoint& position);

private:
    void RegisterStoreHandlers();
    void OnMemberAdded(Item* user);
    void OnMemberRemoved(Item* user);
    void OnAutojoinChanged(Item* room);
    void OnLeftRoom(Item* room);
    void AddMember(ItemPtr user);
    void UpdateAutojoinText();
    QTreeWidgetItem* FindMember(const QString& name) const;

    std::string m_room;
    ItemPtr m_roomItem;
    ChatView* m_view;
    QLineEdit* m_entry;
    QTreeWidget* m_members;
    QSplitter* m_splitter;
};
