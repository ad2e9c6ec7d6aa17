#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <QHostAddress>
#include <QObject>

#include "LabAccounts.h"
#include "LabMessageQueue.h"
#include "LabRooms.h"
#include "LabSearchMode.h"

class LabSession;
class MemStream;
class QTcpServer;

// A complete server for the network's server protocol, for tests, demos and
// development on one machine. It accepts any number of clients, creates an
// account at a user's first login and keeps every piece of state in memory:
// accounts, who is online and whom they watch, rooms, queued private
// messages. Each client's input is checked on its own; a client that sends
// something unreadable is disconnected and nobody else notices.
class LabServer : public QObject
{
    Q_OBJECT

public:
    // What the server tells every client after login.
    static constexpr unsigned int WishListPeriod = 720;
    static constexpr int ParentMinSpeed = 1;
    static constexpr int ParentSpeedConnectionRatio = 50;
    // How much a --privileged user gets.
    static constexpr std::int64_t GrantedPrivileges = 30 * 24 * 3600;

    // Flat: every search goes to every other client. Tree: clients are
    // proposed parents and searches go to the roots of the tree only.
    enum class SearchMode
    {
        Flat,
        Tree
    };

    explicit LabServer(SearchMode mode = SearchMode::Flat, QObject* parent = nullptr);
    ~LabServer() override;

    bool Listen(const QHostAddress& address, quint16 port);
    quint16 Port() const;
    QString ErrorString() const;

    void GrantPrivileges(const std::string& user);
    // The user is reported as away, not online, whenever logged in.
    void MarkAway(const std::string& user);

private slots:
    void OnNewConnection();
    void OnMessage(LabSession* session, std::uint32_t code, MemStream& body, bool& accepted);
    void OnSessionClosed(LabSession* session);

private:
    using Handler = bool (LabServer::*)(LabSession&, MemStream&);
    static const std::map<std::uint32_t, Handler>& Handlers();

    // Login and logout.
    bool OnLogin(LabSession& session, MemStream& body);
    void RefuseLogin(LabSession& session, const char* reason);
    void AcceptLogin(LabSession& session, const std::string& digest);
    void SendWelcome(LabSession& session);
    void DeliverQueuedMessages(LabSession& session);
    void LogOut(LabSession& session);
    LabSession* OnlineSession(const std::string& user) const;

    // Status of other users.
    bool OnAddUser(LabSession& session, MemStream& body);
    bool OnUntrackUser(LabSession& session, MemStream& body);
    bool OnGetUserStatus(LabSession& session, MemStream& body);
    void PushStatus(const std::string& user);
    int StatusOf(const std::string& user) const;
    bool IsPrivileged(const std::string& user) const;

    // Rooms.
    bool OnEnterRoom(LabSession& session, MemStream& body);
    bool OnLeaveRoom(LabSession& session, MemStream& body);
    bool OnRoomChat(LabSession& session, MemStream& body);
    bool OnGetRoomList(LabSession& session, MemStream& body);
    void SendRoomEntered(LabSession& session, const std::string& room);
    void AnnounceJoin(const std::string& room, const std::string& user);
    void LeaveRoom(const std::string& room, LabSession& session);
    void SendToRoom(const std::string& room, const MemStream& body, const std::string& except);

    // Private messages.
    bool OnPrivateChat(LabSession& session, MemStream& body);
    bool OnAcknowledgePrivateChat(LabSession& session, MemStream& body);
    void Deliver(LabSession& session, const LabMessageQueue::Message& message, bool isNew);

    // Privileges and statistics.
    bool OnGetOwnPrivilegesStatus(LabSession& session, MemStream& body);
    bool OnSharedFilesFolders(LabSession& session, MemStream& body);
    bool OnUploadSpeed(LabSession& session, MemStream& body);
    bool OnGetUserStats(LabSession& session, MemStream& body);

    // Addresses and brokered connections.
    bool OnSetWaitPort(LabSession& session, MemStream& body);
    bool OnGetUserAddress(LabSession& session, MemStream& body);
    bool OnIndirectConnectionRequest(LabSession& session, MemStream& body);
    bool OnCantConnectToPeer(LabSession& session, MemStream& body);

    // Searches and the distributed tree.
    bool OnFileSearch(LabSession& session, MemStream& body);
    bool OnWishListSearch(LabSession& session, MemStream& body);
    bool OnDNetHasParent(LabSession& session, MemStream& body);

    // Messages of the distributed tree the lab server has no use for; they
    // are checked like any other input and otherwise ignored.
    template <class Message> bool OnIgnoredMessage(LabSession& session, MemStream& body);

    static std::int64_t Now();

    QTcpServer* m_server;
    std::map<std::string, LabSession*> m_online;
    std::set<std::string> m_away;
    LabAccounts m_accounts;
    LabRooms m_rooms;
    LabMessageQueue m_messages;
    std::unique_ptr<LabSearchMode> m_search;
};
