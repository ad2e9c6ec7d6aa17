#pragma once

#include <string>

#include <QWidget>

class ChatView;
class QLineEdit;

// A private conversation with one user. Lines from the user arrive through
// AddChat (the main window routes every private message here) and raise an
// event in the event tool bar until the form is shown.
class ChatForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr const char* ChatIcon = ":/icons/chat_icon";

    ChatForm(std::string user, QWidget* parent = nullptr);
    ~ChatForm() override;

    const std::string& User() const { return m_user; }
    ChatView* View() const { return m_view; }
    QLineEdit* Entry() const { return m_entry; }

    void AddChat(const std::string& text);
    void Focus();

public slots:
    void OnEnter();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnViewContextMenu(const QPoint& position);

private:
    std::string m_user;
    ChatView* m_view;
    QLineEdit* m_entry;
};
