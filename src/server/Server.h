#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include <QAbstractSocket>
#include <QObject>

#include "server/TCPAddress.h"
#include "store/DataLoadedEventHandler.h"
#include "streams/FrameReader.h"
#include "streams/MemStream.h"
#include "streams/UserStats.h"

class PortForwarder;
class QTcpSocket;

// The one connection to the central server: connecting and logging in,
// framing, reassembling and dispatching messages, reconnecting after a lost
// connection, and every request the other managers send to the server. What
// the server tells us lands in the store or leaves as a signal.
class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum State
    {
        StateDisconnected = 0,
        // The socket is connecting, or the login is sent and unanswered.
        StateConnecting = 1,
        StateLoggedIn = 2
    };

    // A frame longer than this is not a server message but a broken stream.
    static constexpr std::uint32_t MaxBodyLength = 16 * 1024 * 1024;
    // Used when there are no login settings at all at the time of login.
    static constexpr const char* DefaultUsername = "QuorvaleQT";
    static constexpr const char* DefaultPassword = "DefaultLoginSecret";
    // Reported through ConnectionFailed when the connection breaks before login.
    static constexpr const char* SocketErrorReason = "socket error";
    // A private message containing this asks us to refresh our privileges.
    static constexpr const char* PrivilegesHint = "privileges";

    Server();
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Declares the base schema of users and rooms. Once per process, before
    // the snapshot is loaded and before any Server exists.
    static void CreateData();

    void DataLoaded() override;

    // Only from the disconnected state, and only with a user name set.
    void Connect();
    // Only while logged in; a user's decision, so no reconnection follows.
    void Disconnect();
    // Frames and writes one body that starts with its code. Dropped silently
    // unless logged in, or, with evenIfNotLoggedIn, at least connecting.
    void SendMessage(MemStream& body, bool evenIfNotLoggedIn = false);

    bool IsConnected() const { return m_state == StateLoggedIn; }
    bool IsAbruptlyDisconnected() const { return m_abruptlyDisconnected; }
    State GetState() const { return m_state; }

    // Requests. Each sends only while logged in.
    void SetWaitPort(unsigned int port, unsigned int obfuscatedPort);
    // Skipped while an address request for the user is outstanding.
    void GetUserAddress(const std::string& user);
    // Asks for status reports of the user; TrackUser also remembers that we
    // did, so the request is repeated after every login.
    void AddUser(const std::string& user);
    void TrackUser(const std::string& user);
    void UntrackUser(const std::string& user);
    void GetUserStatus(const std::string& user);
    void SendRoomChat(const std::string& room, const std::string& text);
    void EnterRoom(const std::string& room);
    void LeaveRoom(const std::string& room);
    // Returns the token the peer will echo when it connects to us.
    unsigned int SendIndirectConnectionRequest(const std::string& user, const std::string& type);
    void SendPrivateChat(const std::string& user, const std::string& text);
    // Returns the token the results will carry.
    unsigned int FileSearch(const std::string& text, bool wishList);
    void SendFilesFolders(unsigned int folders, unsigned int files);
    void GetUserStats(const std::string& user);
    void GetRoomList();
    void SendDNetHasParent(bool hasParent);
    void GetOwnPrivilegesStatus();
    void SendDNetCanParent(bool canParent);
    void SendUploadSpeed(unsigned int speed);
    void SendDNetLevel(unsigned int level);
    void SendDNetGroupLeader(const std::string& user);
    void SendChildDepth(bool value);
    void SendCantConnectToPeer(unsigned int token, const std::string& user);

public slots:
    // Every half minute: reconnects after a connection lost once logged in.
    void AttemptReconnect();
    // Every hour: renews the port mappings while logged in.
    void RenewPortMapping();

signals:
    void Connecting();
    void Connected();
    void Disconnected();
    void ConnectionFailed(std::string reason);

    void PrivateChat(std::string user, std::string text, qint64 time, bool flag);
    void RoomChat(std::string room, std::string user, std::string text);
    void AddUserResponse(std::string user, bool exists);
    void ReceivedUserStats(std::string user, UserStats stats);
    void ReceivedOwnPrivilegesStatus(int timeLeft);
    void SearchRequested(unsigned int token, std::string text, bool wishList);
    void WishListWait(unsigned int interval);
    void IndirectPeerConnectionFailure(unsigned int token);

    // For the distributed network manager; connect directly, the arguments
    // are references into the message being handled.
    void DNetPossibleParents(std::list<std::pair<std::string, TCPAddress>>& parents);
    void DNetMessage(MemStream& body);
    void DNetParentMinSpeed(int speed);
    void DNetParentSpeedConnectionRatio(int ratio);
    void DNetDeliveryReport(int value);
    void DNetReset();

private slots:
    void OnConnected();
    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnSocketClosed();

private:
    template <class Message> void Send(const Message& message);

    void OnConnectedToServer();
    void OnDisconnected();
    // "listening_port" and, when not 0, "obfuscated_listening_port".
    void MapListeningPorts();
    void EnterAutojoinRooms();
    void RepeatForgottenRequests();

    void HandleMessage(unsigned int code, MemStream& body);
    void HandleLoginReply(MemStream& body);
    void HandleUserAddress(MemStream& body);
    void HandleAddUserReply(MemStream& body);
    void HandleUserStatus(MemStream& body);
    void HandleRoomChat(MemStream& body);
    void HandleRoomEntered(MemStream& body);
    void HandleRoomLeft(MemStream& body);
    void HandleUserJoinedRoom(MemStream& body);
    void HandleUserLeftRoom(MemStream& body);
    void HandlePeerConnectionRequest(MemStream& body);
    void HandlePrivateChat(MemStream& body);
    void HandleUserStats(MemStream& body);
    void HandleRoomList(MemStream& body);
    void HandlePrivilegedUsers(MemStream& body);
    void HandleOwnPrivilegesStatus(MemStream& body);
    void HandlePossibleParents(MemStream& body);
    template <class Message, class Signal> void EmitValue(MemStream& body, Signal signal);

    State m_state = StateDisconnected;
    QTcpSocket* m_socket;
    std::unique_ptr<PortForwarder> m_portForwarder;
    FrameReader m_reader;
    unsigned int m_nextSearchToken = 1;
    unsigned int m_nextIndirectToken = 1;
    // Autojoin rooms are entered after the first login of the run only.
    bool m_firstLogin = true;
    // The next socket close is the one Disconnect asked for.
    bool m_disconnectRequested = false;
    // The connection was lost after a login: the half-minute tick reconnects.
    bool m_abruptlyDisconnected = false;
};

extern Server* gp_server;
