#pragma once

#include <string>

// What the chat and user list forms need from the window that hosts them.
// The main window implements it and sets `chatHost`; forms do nothing for
// these requests while no host is set (a form under test on its own).
class ChatHost
{
public:
    virtual ~ChatHost() = default;

    // Opens the private chat with the user, or brings its tab forward, and
    // gives it the focus.
    virtual void OpenChatForm(const std::string& user) = 0;
};

extern ChatHost* chatHost;
