#pragma once

#include <list>
#include <string>
#include <utility>

#include <QByteArray>
#include <QObject>

#include "server/TCPAddress.h"
#include "store/DataHandler.h"

class ItemPtr;
class MemStream;
class OutputStream;
class QTcpSocket;
struct ConnectionInfo;

// Our place in the distributed search tree. Searches of other users do not
// come from the server but down a tree of clients: we take one parent among
// the candidates the server proposes (the first that actually delivers a
// search), pass everything it sends on to our children byte for byte, hand
// every readable search to the sharing side, accept children, and keep the
// server told where we stand (has a parent, level, group leader, depth below
// us, whether we can take children).
//
// The peer messenger does the handshakes and hands over the established
// sockets; from then on this manager owns them. Their state lives in the
// store ("dnet_child", "dnet_parent_candidate", the "dnet_global" variables),
// found again by the socket's address when a socket signals.
class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    DNetManager();
    ~DNetManager() override;
    DNetManager(const DNetManager&) = delete;
    DNetManager& operator=(const DNetManager&) = delete;

    // Decides whether we can take children and tells the server when that
    // changes. Nothing is decided before the server has sent both parent
    // figures and our own "upload_speed" is known.
    void DetermineCanParent();
    // Our depth is one more than the deepest child's report, 0 without
    // reports. When it changes the server hears whether it is 0, and our
    // parent hears the depth itself, as it also does when it adopts us.
    void DetermineChildDepth();
    bool CanParent() const { return m_canParent; }

public slots:
    void OnDNetParentMinSpeed(int speed);
    void OnDNetParentSpeedConnectionRatio(int ratio);
    void OnDNetPossibleParents(std::list<std::pair<std::string, TCPAddress>>& parents);
    // A message the server embedded, positioned on its one-byte code; handled
    // as if our parent had sent it.
    void OnDNetMessage(MemStream& body);
    void OnDNetDeliveryReport(int value);
    void OnDNetReset();
    void OnConnected();
    // A "D" connection we asked for is up: a parent candidate.
    void OnDNetConnectionAccepted(std::string user, QTcpSocket* socket);
    // Someone opened a "D" connection to us: a child.
    void OnDNetConnectionRequested(std::string user, QTcpSocket* socket);

signals:
    void DNetSearchRequest(std::string user, quint32 token, std::string text);

private:
    // Who sent a message from above.
    enum class Sender
    {
        Server,
        Parent,
        Candidate,
        // A socket that is neither: a leftover candidate after adoption.
        Stranger
    };
    enum class FrameResult
    {
        None,
        Complete,
        Oversized
    };

    void DeclareSchema();
    void ConnectToServer();
    void ConnectToPeerMessenger();
    void RequestParentConnection(const std::string& user);
    void OnReceivedOwnUploadSpeed(ConnectionInfo& info);

    // Parent and candidate sockets.
    void OnSocketReadyToRead(QTcpSocket* socket);
    // Reads every complete frame of a socket and hands each to `handle`;
    // an oversized frame closes the socket with `close`.
    void ReadFrames(QTcpSocket* socket, const char* tooLong,
                    bool (DNetManager::*handle)(QTcpSocket*, MemStream&),
                    void (DNetManager::*close)(QTcpSocket*));
    void OnSocketClosed(QTcpSocket* socket);
    // False when the socket was given up while handling the message.
    bool HandleMessage(QTcpSocket* socket, MemStream& body);
    Sender Classify(QTcpSocket* socket) const;
    bool HandleLevel(ItemPtr candidate, MemStream& body);
    bool HandleGroupLeader(ItemPtr candidate, MemStream& body, const QByteArray& raw);
    bool HandleSearch(QTcpSocket* socket, Sender sender, MemStream& body, const QByteArray& raw);
    void AdoptParent(QTcpSocket* socket);
    // Null while we have no parent.
    QTcpSocket* ParentSocket() const;
    void UpdateLevel(int level);
    void UpdateGroupLeader(const std::string& leader, const QByteArray& raw);

    // Child sockets.
    void OnChildSocketReadyToRead(QTcpSocket* socket);
    void OnChildSocketClosed(QTcpSocket* socket);
    bool HandleChildMessage(QTcpSocket* socket, MemStream& body);
    void RemoveChild(ItemPtr child);

    // Sockets in general.
    void TakeSocket(QTcpSocket* socket, bool child);
    static FrameResult NextFrame(QTcpSocket* socket, MemStream& body);
    static void WriteFrame(QTcpSocket* socket, const QByteArray& body);
    template <class Message> static QByteArray Body(const Message& message);
    void SendMessageToChildren(const QByteArray& body);
    void DiscardSocket(QTcpSocket* socket);

    // Reports to the server; quiet without a server.
    void SendHasParent(bool hasParent);
    void SendLevel(int level);
    void SendGroupLeader(const std::string& leader);

    // -1 while the server has not told us.
    int m_parentMinSpeed = -1;
    int m_parentSpeedConnectionRatio = -1;
    bool m_canParent = false;
};

extern DNetManager* dnetManager;
