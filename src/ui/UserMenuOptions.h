#pragma once

#include <string>

#include <QObject>

class QMenu;

// The user entries of a context menu, offered wherever a user name is shown
// (room members, chats, shares, search results, transfers): message, list
// membership and groups, browsing, and whether we share with the user.
// Lives as long as its parent, normally the menu.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* menu, std::string user, QObject* parent);

    // Stop or resume sharing with a user: the one place the transfer queue
    // is told, so that uploads already promised are refused as well.
    static void UnshareUser(const std::string& user);
    static void ReshareUser(const std::string& user);
    // Brings an open listing of the user forward, or asks the user for it.
    static void BrowseUser(const std::string& user);
    // A user joins the list at once, without asking the server.
    static void AddUserToList(const std::string& user);
    static void RemoveUserFromList(const std::string& user);
    // Opens the dialog that puts the user into groups.
    static void OpenUserGroups(const std::string& user, QWidget* parent);

private:
    std::string m_user;
};
