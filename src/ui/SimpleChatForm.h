#pragma once

#include <string>

#include <QWidget>

class QLineEdit;
class QTextEdit;

// A private conversation with one user: what was said, and a line to say
// more. It stands in the chat tab until the full chat form takes its place
// (see ChatForms.h).
class SimpleChatForm : public QWidget
{
    Q_OBJECT

public:
    SimpleChatForm(const std::string& user, QWidget* parent);

    // A message from the form's user.
    void AddChat(const std::string& text);
    void Focus();
    QString Transcript() const;

private slots:
    void OnEnter();

private:
    void AddLine(const std::string& sender, const std::string& text);

    std::string m_user;
    QTextEdit* m_view;
    QLineEdit* m_entry;
};
