#pragma once

#include <string>
#include <vector>

#include <QMainWindow>
#include <QTabWidget>

#include "app/StartUp.h"
#include "app/StartUpHost.h"
#include "ui/ActionSetToolBar.h"
#include "ui/ChatHost.h"
#include "ui/EventToolBar.h"

// A bare window around the chat forms: the real start-up, the action and
// event tool bars and a tab widget, standing in for the main window. It
// records the chats the forms ask it to open.
class ChatTestHost : public QMainWindow, public StartUpHost, public ChatHost
{
public:
    ChatTestHost() : m_startUp(this), m_tabs(new QTabWidget(this))
    {
        chatHost = this;
        setCentralWidget(m_tabs);
    }
    ~ChatTestHost() override
    {
        chatHost = nullptr;
        m_startUp.Shutdown();
    }

    // The tool bars read settings, so they come once the store is set up.
    void Init()
    {
        m_startUp.Init();
        m_actions = new ActionSetToolBar(this);
        m_events = new EventToolBar(this);
        addToolBar(m_actions);
        addToolBar(m_events);
    }
    void SnapshotLoadFailed(const char*, const char*) override {}
    void OpenChatForm(const std::string& user) override { openedChats.push_back(user); }

    QTabWidget* Tabs() const { return m_tabs; }
    EventToolBar* Events() const { return m_events; }

    std::vector<std::string> openedChats;

private:
    StartUp m_startUp;
    QTabWidget* m_tabs;
    ActionSetToolBar* m_actions = nullptr;
    EventToolBar* m_events = nullptr;
};
