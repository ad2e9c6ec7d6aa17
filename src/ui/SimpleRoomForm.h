#pragma once

#include <string>

#include <QWidget>

#include "store/DataHandler.h"

class QLineEdit;
class QTextEdit;
struct ConnectionInfo;

// One chat room: what is said there and a line to say something. It stands
// in the room tab until the full room form takes its place (see
// ChatForms.h). It goes away by itself once we are no longer in the room.
class SimpleRoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    SimpleRoomForm(const std::string& room, QWidget* parent);

    // Registers with the action tool bar.
    void Init();
    QString Transcript() const;

private slots:
    void OnRoomChat(const std::string& room, const std::string& user, const std::string& text);
    void OnEnterPressed();

private:
    void OnLeftRoom(ConnectionInfo& info);

    std::string m_room;
    QTextEdit* m_view;
    QLineEdit* m_entry;
};
