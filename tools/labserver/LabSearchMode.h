#pragma once

#include <map>
#include <string>

#include "server/ServerMessages.h"

class LabSession;

// How the lab server spreads its clients' searches. The server tells the
// mode who logs in and out and what the clients say about their place in the
// distributed tree; the mode decides who gets each search (and, in a tree,
// whom to propose as whose parent).
class LabSearchMode
{
public:
    // The logged-in sessions by user name.
    using Online = std::map<std::string, LabSession*>;

    virtual ~LabSearchMode() = default;

    virtual void Relay(const LabSession& searcher, unsigned int token, const std::string& text,
                       const Online& online) = 0;

    // After the session joined `online`, or after it left it.
    virtual void LoggedIn(LabSession&, const Online&) {}
    virtual void LoggedOut(LabSession&, const Online&) {}
    // The session announced its listening ports.
    virtual void PortsAnnounced(LabSession&, const Online&) {}
    // The session reported whether it has a parent in the tree.
    virtual void HasParent(LabSession&, bool, const Online&) {}

protected:
    // A search wrapped as the server hands it into the tree.
    static ServerMessages::FromServer::DNetMessage
    EmbeddedSearch(const std::string& user, unsigned int token, const std::string& text);
};
