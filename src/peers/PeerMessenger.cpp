#include "peers/PeerMessenger.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

#include <QHostAddress>
#include <QIODevice>
#include <QMetaType>
#include <QTcpSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "base/Clock.h"
#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/Settings.h"
#include "base/SettingsTypes.h"
#include "base/TimerManager.h"
#include "peers/PeerMessages.h"
#include "peers/PeerSchema.h"
#include "peers/PeerTypes.h"
#include "peers/SearchResultIntake.h"
#include "search/SearchSchema.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ObjectValue.h"
#include "streams/FrameReader.h"
#include "streams/WireFormat.h"

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

namespace {

using namespace PeerTypes;

// Messages waiting for a messaging connection to their user. Not saved: a
// queued message is worth five minutes at most.
constexpr const char* UnsentMessage = "unsent_message";
constexpr const char* SendOrder = "send_order";

constexpr const char* GettingAddress = "getting_address";
constexpr const char* Connecting = "connecting";

constexpr qint64 AttemptLifetimeMs = 60 * 1000;
constexpr qint64 IdleConnectionLifetimeMs = 2 * 60 * 1000;
constexpr qint64 UnsentMessageLifetimeMs = 5 * 60 * 1000;
// A peer that connects sends its first frame at once; one that has not
// after a minute is not going to, or is dripping it in to hold a socket.
constexpr qint64 FirstFrameLifetimeMs = 60 * 1000;
constexpr int ListenBacklog = 1024;
// Work a crowd of connections brings arrives all at once: a burst of
// attempts fills both backlogs, and a thousand connections hanging up
// together are a thousand sockets to delete. Each loop turn takes on a
// bounded share, so that timers and the server connection keep their pace.
constexpr int MaxAcceptsPerTurn = 100;
constexpr int MaxDeletionsPerTurn = 100;

constexpr int LengthSize = 4;
constexpr int FileTokenSize = 4;

void PeerLog(int level, const QString& text, ItemPtr item = ItemPtr())
{
    Log(LogCategory::PeerMessenger, level, text, item);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

ItemPtr User(const std::string& name)
{
    return d.GetType(ServerTypes::User)->GetItem(name);
}

ItemPtr ConnectionType(const std::string& type)
{
    return d.GetType(PeerConnectionType)->GetItem(type);
}

ItemPtr SocketItem(const char* typeName, QTcpSocket* socket)
{
    return d.GetType(typeName)->HasItem(ObjectValue(socket));
}

ItemPtr NewSocketItem(const char* typeName, QTcpSocket* socket)
{
    Type* type = d.GetType(typeName);
    const Value value = ObjectValue(socket);
    if (ItemPtr existing = type->HasItem(value))
        return existing;
    return type->NewItem(value);
}

// Replaces the item's one value of the type.
void SetValue(ItemPtr item, const char* typeName, const Value& value)
{
    item.Connect(d.GetType(typeName)->GetItem(value));
}

void SetCreationTime(ItemPtr item, const char* typeName)
{
    SetValue(item, typeName, Clock::NowText().toStdString());
}

qint64 AgeOf(ItemPtr item, const char* timeType)
{
    return Clock::AgeMs(Clock::FromText(Text(item[timeType].AsString())));
}

// The items of a type whose stored time is at least `lifetimeMs` old, taken
// before any of them is acted on: ending one may remove others.
std::vector<ItemPtr> Expired(const char* typeName, const char* timeType, qint64 lifetimeMs)
{
    std::vector<ItemPtr> expired;
    for (Item* item : d.GetType(typeName)->GetItems())
        if (AgeOf(item, timeType) >= lifetimeMs)
            expired.emplace_back(item);
    return expired;
}

void DeclareQueueSchema()
{
    Type* unsent = d.NewType(UnsentMessage, true, false, true);
    Type* order = d.NewType(SendOrder, false, false, true);
    unsent->RelateToType(d.GetType(ServerTypes::User), MANY, ONE, false);
    unsent->RelateToType(order, MANY, ONE, false);
    unsent->RelateToType(d.GetType(SendTime), MANY, ONE, false);
}

// The vocabularies are declared once per process; a messenger created again
// (tests do) finds them in place.
void DeclareSchemas()
{
    if (!d.HasType(PeerSocket))
        PeerSchema::DeclareSchema();
    if (!d.HasType(UnsentMessage))
        DeclareQueueSchema();
    if (!d.HasType(SearchTypes::SearchRequest))
        SearchSchema::DeclareSchema();
}

void DisconnectFrom(QTcpSocket* socket, QObject* receiver)
{
    QObject::disconnect(socket, nullptr, receiver, nullptr);
}

QHostAddress AddressOf(ItemPtr user)
{
    return QHostAddress(static_cast<quint32>(user[UserAddress].AsUInt()));
}

// Runs a step that emits to other managers or changes the store on behalf of
// a socket signal: a store misuse behind it must not unwind through the
// event loop. What was done stays done.
template <class F> void Guarded(F&& step)
{
    try {
        step();
    } catch (...) {
        DiscardCurrentStoreException();
    }
}

bool IsType(const std::string& type, const char* wanted)
{
    return type == wanted;
}

// The kernel grows a process's descriptor table by doubling, and in a
// process with threads every growth waits until each core has passed a
// quiescent point: a tenth of a second or more on a busy machine, spent on
// the event loop by whichever accept needed the room. Growing the table once
// at start-up to the planned size spares a flood of connections those
// waits; the table is kernel memory of a few tens of kilobytes.
void ReserveDescriptorTable(rlim_t size)
{
    const int any = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (any < 0)
        return;
    const int last = ::fcntl(any, F_DUPFD_CLOEXEC, static_cast<int>(size - 1));
    if (last >= 0)
        ::close(last);
    ::close(any);
}

// Every connection is a file descriptor, and the soft limit programs start
// with (often 1024) is far below what a busy peer holds; the hard limit is
// ours to take without privileges.
void RaiseOpenFileLimit(rlim_t planned)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    ReserveDescriptorTable(std::min(limit.rlim_cur, planned));
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < planned)
        PeerLog(1, QStringLiteral("The open file limit is %1, below the %2 connections and files "
                                  "this program may hold; connections beyond it will fail.")
                       .arg(limit.rlim_cur)
                       .arg(planned));
}

} // namespace

PeerMessenger::PeerMessenger()
{
    peerMessenger = this;
    g_peerMessengerDeleted = false;
    qRegisterMetaType<std::string>("std::string");
    DeclareSchemas();
    RaiseOpenFileLimit(PlannedOpenFiles);

    // Peers answering a search arrive in hundreds at once; a short backlog
    // would drop their connections and leave them to retry seconds later.
    m_server.setListenBacklogSize(ListenBacklog);
    m_obfuscatedServer.setListenBacklogSize(ListenBacklog);
    connect(&m_server, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection);
    connect(&m_obfuscatedServer, &QTcpServer::newConnection, this,
            &PeerMessenger::OnNewObfuscatedConnection);
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this,
                &PeerMessenger::OnIndirectPeerConnectionFailure);
    }
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
                &PeerMessenger::EveryHalfMinute);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    RegisterStoreHandlers();
}

PeerMessenger::~PeerMessenger()
{
    g_peerMessengerDeleted = true;
    RemoveDataHandlers();
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    m_server.close();
    m_obfuscatedServer.close();

    // The sockets still recorded are ours alone; handed-over ones are not
    // recorded any more. Their records go too, so no item is left standing
    // for a freed object.
    std::set<QTcpSocket*> sockets;
    for (const auto& record : m_records)
        sockets.insert(record.first);
    for (const char* typeName : {UninitializedSocket, PeerSocket, PeerConnectionRequestSocket,
                                 ConnectToPeerRequestSocket}) {
        for (Item* item : d.GetType(typeName)->GetItems()) {
            sockets.insert(ObjectFromItem<QTcpSocket>(item));
            item->Remove();
        }
    }
    m_records.clear();
    for (const QPointer<QTcpSocket>& socket : m_discarded)
        if (socket)
            sockets.insert(socket.data());
    m_discarded.clear();
    for (QTcpSocket* socket : sockets) {
        DisconnectFrom(socket, this);
        socket->abort();
        delete socket;
    }
    d.GetType(LastActivityTime)->GetItems().Remove();
    d.GetType(UnsentMessage)->GetItems().Remove();
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::RegisterStoreHandlers()
{
    AddItemAddedHandler(this, PeerSocket, &PeerMessenger::OnPeerSocketItemAdded);
    AddItemRemovedHandler(this, PeerSocket, &PeerMessenger::OnPeerSocketItemRemoved);

    // A brokered request is answered once its user's whole address is known.
    auto* request = new PathNode(&d, PeerConnectionRequest);
    new PathNode(request, PeerConnectionRequestId, PathConnectedTrigger);
    new PathNode(request, PeerConnectionType, PathConnectedTrigger);
    auto* requestUser = new PathNode(request, ServerTypes::User, PathConnectedTrigger);
    for (const char* part : {UserAddress, UserPort, UserObfuscatedPort})
        new PathNode(requestUser, part, PathConnectedTrigger);
    d.AddPathEventHandler(request, MakeHandler(this, &PeerMessenger::OnPeerConnectionRequest));

    auto* user = new PathNode(&d, ServerTypes::User);
    for (const char* part : {UserAddress, UserPort, UserObfuscatedPort})
        new PathNode(user, part, PathConnectedTrigger);
    d.AddPathEventHandler(user, MakeHandler(this, &PeerMessenger::OnUserAddress));
}

// ---------------------------------------------------------------------------
// Listening

void PeerMessenger::DataLoaded()
{
    if (Settings::Get("listening_port").empty())
        Settings::Set("listening_port", DefaultListeningPort);
    if (Settings::Get("obfuscated_listening_port").empty())
        Settings::Set("obfuscated_listening_port", DefaultObfuscatedListeningPort);
    // A port change chosen while running takes effect now, at the next load.
    if (ItemPtr newPort = d.GetType(SettingsTypes::Global)->HasItem("new_listening_port")) {
        const std::string port = Settings::Get("new_listening_port");
        if (!port.empty()) {
            Settings::Set("listening_port", port);
            newPort.Remove();
        }
    }
    Listen();
}

bool PeerMessenger::Listen()
{
    const bool plain = ListenOn(m_server, "listening_port");
    const bool obfuscated = ListenOn(m_obfuscatedServer, "obfuscated_listening_port");
    return plain && obfuscated;
}

bool PeerMessenger::ListenOn(QTcpServer& server, const char* portSetting)
{
    server.close();
    const long long port = Settings::GetInt(portSetting, 0);
    if (port < 0 || port > 65535)
        return false;
    if (!server.listen(QHostAddress::AnyIPv4, static_cast<quint16>(port)))
        return false;
    if (port == 0)
        Settings::Set(portSetting, static_cast<unsigned int>(server.serverPort()));
    return true;
}

void PeerMessenger::OnConnectedToServer()
{
    gp_server->SetWaitPort(
        static_cast<unsigned int>(Settings::GetInt("listening_port", 0)),
        static_cast<unsigned int>(Settings::GetInt("obfuscated_listening_port", 0)));
}

void PeerMessenger::OnNewConnection()
{
    AcceptPending(m_server, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptPending(m_obfuscatedServer, true);
}

// Connections beyond this turn's share wait in the listening socket, which
// stops taking more from the system until we come back for them.
void PeerMessenger::AcceptPending(QTcpServer& server, bool obfuscated)
{
    Type* unidentified = d.GetType(UninitializedSocket);
    while (m_acceptsThisTurn < MaxAcceptsPerTurn) {
        QTcpSocket* socket = server.nextPendingConnection();
        if (!socket)
            return;
        if (m_acceptsThisTurn++ == 0)
            QTimer::singleShot(0, this, &PeerMessenger::ResumeAccepting);
        if (unidentified->ItemCount() >= MaxUnidentifiedConnections) {
            // Nothing refers to it yet and no signal of its own is running.
            socket->abort();
            delete socket;
            continue;
        }
        // The socket may end up with another manager; the listening socket
        // must not take it along when it goes.
        socket->setParent(nullptr);
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        ConnectInput(socket);
        ItemPtr item = NewSocketItem(UninitializedSocket, socket);
        SetCreationTime(item, SocketCreationTime);
        if (obfuscated)
            item.NewItem(IsObfuscated);
    }
}

void PeerMessenger::ResumeAccepting()
{
    m_acceptsThisTurn = 0;
    AcceptPending(m_server, false);
    AcceptPending(m_obfuscatedServer, true);
}

// Closed at once, so no signal of it reaches anyone; deleted a turn's share
// at a time.
void PeerMessenger::Discard(QTcpSocket* socket)
{
    socket->close();
    m_discarded.emplace_back(socket);
    if (m_discarded.size() == 1)
        QTimer::singleShot(0, this, &PeerMessenger::DeleteDiscarded);
}

void PeerMessenger::DeleteDiscarded()
{
    for (int n = 0; n < MaxDeletionsPerTurn && !m_discarded.empty(); ++n) {
        if (QTcpSocket* socket = m_discarded.front())
            socket->deleteLater();
        m_discarded.pop_front();
    }
    if (!m_discarded.empty())
        QTimer::singleShot(0, this, &PeerMessenger::DeleteDiscarded);
}

// The socket travels with each connection rather than being looked up with
// sender(), which walks every connection made to us: with thousands of
// sockets that made each signal cost as much as all of them together.
// Whatever the socket was connected to before (its attempt's slots) goes.
void PeerMessenger::ConnectInput(QTcpSocket* socket)
{
    DisconnectFrom(socket, this);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnSocketReadyToRead(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { DisposeOfSocket(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { DisposeOfSocket(socket); });
}

// ---------------------------------------------------------------------------
// Reaching a user

void PeerMessenger::ConnectToUser(const std::string& user, const char* type)
{
    ItemPtr userItem = User(user);
    ItemPtr typeItem = ConnectionType(type);
    PeerLog(
        1, QStringLiteral("Attempting peer connection of type %1 to user %2").arg(type, Text(user)),
        userItem);
    if (d.GetItem(userItem, typeItem, ConnectToPeerRequest)) {
        PeerLog(2,
                QStringLiteral("Connection attempt to same user of same type already in "
                               "progress, not re-attempting."),
                userItem);
        return;
    }
    ItemPtr request = d.GetType(ConnectToPeerRequest)->NewItem();
    request.Connect(userItem);
    request.Connect(typeItem);

    // The server asks the peer to connect to us while we try to reach it;
    // the first way to complete wins.
    PeerLog(2, QStringLiteral("Also sending indirect connection request."), userItem);
    const unsigned int token = gp_server->SendIndirectConnectionRequest(user, type);
    ItemPtr indirect = d.GetType(IndirectConnectToPeerRequest)->GetItem(token);
    SetCreationTime(indirect, SendTime);
    indirect.Connect(userItem);
    indirect.Connect(typeItem);
    request.Connect(indirect);

    if (userItem.IsConnected(UserAddress)) {
        StartDirectAttempt(request);
        return;
    }
    PeerLog(2, QStringLiteral("User address not found, requesting address"), userItem);
    gp_server->GetUserAddress(user);
    SetValue(request, ConnectToPeerRequestStatus, GettingAddress);
}

void PeerMessenger::RequestDNetConnection(const std::string& user)
{
    ConnectToUser(user, DNetConnection);
}

void PeerMessenger::RequestFileConnectionToUser(const std::string& user)
{
    ConnectToUser(user, FileConnection);
}

unsigned int PeerMessenger::GetUserPort(ItemPtr user, bool& obfuscated)
{
    const unsigned int obfuscatedPort = user[UserObfuscatedPort].AsUInt();
    obfuscated = obfuscatedPort != 0;
    return obfuscated ? obfuscatedPort : user[UserPort].AsUInt();
}

unsigned int PeerMessenger::PortFor(ItemPtr user, const std::string& type, bool& obfuscated)
{
    // Search-tree links carry plain frames once handed over, so they are
    // always opened on the plain port; everything else prefers scrambling.
    if (type == DNetConnection) {
        obfuscated = false;
        return user[UserPort].AsUInt();
    }
    return GetUserPort(user, obfuscated);
}

void PeerMessenger::StartDirectAttempt(ItemPtr request)
{
    ItemPtr user = request[ServerTypes::User];
    bool obfuscated = false;
    const unsigned int port = PortFor(user, request[PeerConnectionType].AsString(), obfuscated);

    // Ours until it is identified or handed over; freed with us otherwise.
    auto* socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnConnectToPeerSocketError);
    ItemPtr socketItem = NewSocketItem(ConnectToPeerRequestSocket, socket);
    SetCreationTime(socketItem, SocketCreationTime);
    socketItem.Connect(user);
    socketItem.Connect(request[PeerConnectionType]);
    if (obfuscated)
        socketItem.NewItem(IsObfuscated);
    SetValue(request, ConnectToPeerRequestStatus, Connecting);
    request.Connect(socketItem);
    socket->connectToHost(AddressOf(user), static_cast<quint16>(port), QIODevice::ReadWrite);
}

void PeerMessenger::OnUserAddress(Item* user)
{
    ItemPtr userItem(user);
    const ItemSet requests = userItem.GetItems(ConnectToPeerRequest);
    if (requests.empty())
        return;
    PeerLog(1, QStringLiteral("User %1 address arrived").arg(Text(userItem.AsString())), userItem);
    for (Item* request : requests) {
        ItemPtr requestItem(request);
        if (requestItem[ConnectToPeerRequestStatus].AsString() != GettingAddress)
            continue;
        PeerLog(2,
                QStringLiteral("Attempting direct connection of type %1")
                    .arg(Text(requestItem[PeerConnectionType].AsString())),
                userItem);
        StartDirectAttempt(requestItem);
    }
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        Guarded([this, socket] { CompleteDirectAttempt(socket); });
}

void PeerMessenger::CompleteDirectAttempt(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr socketItem = SocketItem(ConnectToPeerRequestSocket, socket);
    if (!socketItem) {
        DisconnectFrom(socket, this);
        Discard(socket);
        return;
    }
    ItemPtr user = socketItem[ServerTypes::User];
    const std::string type = socketItem[PeerConnectionType].AsString();
    const bool obfuscated = socketItem.IsConnected(IsObfuscated);
    PeerLog(1,
            QStringLiteral("Direct connection of type %1 to user %2 successful")
                .arg(Text(type), Text(user.AsString())),
            user);

    PeerMessages::PeerInit init;
    init.m_user = Settings::Get("username");
    init.m_type = type;
    SendFirstFrame(socket, init, obfuscated);

    disconnect(socket, &QTcpSocket::errorOccurred, this,
               &PeerMessenger::OnConnectToPeerSocketError);
    disconnect(socket, &QTcpSocket::connected, this,
               &PeerMessenger::OnConnectToPeerSocketConnected);
    ItemPtr request = socketItem[ConnectToPeerRequest];
    socketItem.Remove();
    if (request)
        DisposeOfPeerConnectionRequest(request);

    if (IsType(type, MessagingConnection)) {
        ConnectInput(socket);
        OpenMessagingConnection(socket, user, obfuscated);
    } else if (IsType(type, FileConnection)) {
        HandOver(socket);
        emit FileConnectionAccepted(user.AsString(), socket);
    } else if (IsType(type, DNetConnection)) {
        HandOver(socket);
        emit DNetConnectionAccepted(user.AsString(), socket);
    } else {
        Discard(socket);
    }
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    DisconnectFrom(socket, this);
    Discard(socket);
    ItemPtr socketItem = SocketItem(ConnectToPeerRequestSocket, socket);
    if (!socketItem)
        return;
    ItemPtr user = socketItem[ServerTypes::User];
    PeerLog(1,
            QStringLiteral("Direct connection of type %1 to user %2 failed")
                .arg(Text(socketItem[PeerConnectionType].AsString()), Text(user.AsString())),
            user);
    ItemPtr request = socketItem[ConnectToPeerRequest];
    socketItem.Remove();
    // The indirect way may still succeed.
    if (request)
        InspectPeerConnectionRequest(request);
}

void PeerMessenger::OnIndirectPeerConnectionFailure(unsigned int token)
{
    ItemPtr indirect = d.GetType(IndirectConnectToPeerRequest)->HasItem(token);
    if (!indirect)
        return;
    ItemPtr user = indirect[ServerTypes::User];
    PeerLog(1,
            QStringLiteral("Indirect connection of type %1 to user %2 failed")
                .arg(Text(indirect[PeerConnectionType].AsString()), Text(user.AsString())),
            user);
    ItemPtr request = indirect[ConnectToPeerRequest];
    indirect.Remove();
    if (request)
        InspectPeerConnectionRequest(request);
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr request)
{
    ItemPtr user = request[ServerTypes::User];
    PeerLog(1,
            QStringLiteral("Inspecting peer connection request of type %1 to user %2 for "
                           "possible removal.")
                .arg(Text(request[PeerConnectionType].AsString()), Text(user.AsString())),
            user);
    if (request.IsConnected(ConnectToPeerRequestSocket)) {
        PeerLog(2, QStringLiteral("Socket found. Not removing request."), user);
    } else if (request.IsConnected(IndirectConnectToPeerRequest)) {
        PeerLog(2, QStringLiteral("Indirect request found. Not removing request."), user);
    } else {
        PeerLog(2, QStringLiteral("Neither socket nor indirect request found. Removing."), user);
        request.Remove();
    }
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr request)
{
    ItemPtr user = request[ServerTypes::User];
    PeerLog(1,
            QStringLiteral("Disposing of peer connection request of type %1 to user %2")
                .arg(Text(request[PeerConnectionType].AsString()), Text(user.AsString())),
            user);
    request.Remove();
}

void PeerMessenger::OpenMessagingConnection(QTcpSocket* socket, ItemPtr user, bool obfuscated)
{
    ItemPtr peerSocket = NewSocketItem(PeerSocket, socket);
    peerSocket.Connect(user);
    SetCreationTime(peerSocket, ConnectionOpenTime);
    if (obfuscated)
        peerSocket.NewItem(IsObfuscated);
    SendUnsentMessages(user.AsString());
}

void PeerMessenger::HandOver(QTcpSocket* socket)
{
    DisconnectFrom(socket, this);
}

// ---------------------------------------------------------------------------
// Answering the server's requests to connect to a peer

void PeerMessenger::OnPeerConnectionRequest(Item* request)
{
    ItemPtr requestItem(request);
    if (requestItem.IsConnected(PeerConnectionRequestSocket))
        return;
    ItemPtr user = requestItem[ServerTypes::User];
    bool obfuscated = false;
    const unsigned int port = PortFor(user, requestItem[PeerConnectionType].AsString(), obfuscated);
    if (obfuscated)
        requestItem.NewItem(IsObfuscated);

    auto* socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this,
            &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr socketItem = NewSocketItem(PeerConnectionRequestSocket, socket);
    SetCreationTime(socketItem, SocketCreationTime);
    requestItem.Connect(socketItem);
    PeerLog(1,
            QStringLiteral("Indirect peer connection requested from user %1")
                .arg(Text(user.AsString())),
            user);
    socket->connectToHost(AddressOf(user), static_cast<quint16>(port), QIODevice::ReadWrite);
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        Guarded([this, socket] { CompleteIndirectResponse(socket); });
}

void PeerMessenger::CompleteIndirectResponse(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr socketItem = SocketItem(PeerConnectionRequestSocket, socket);
    ItemPtr request = socketItem ? socketItem[PeerConnectionRequest] : ItemPtr();
    if (!request) {
        DisposeOfSocket(socket);
        return;
    }
    ItemPtr user = request[ServerTypes::User];
    const std::string type = request[PeerConnectionType].AsString();
    const bool obfuscated = request.IsConnected(IsObfuscated);

    PeerMessages::IndirectResponse response;
    response.m_token = request[PeerConnectionRequestId].AsUInt();
    SendFirstFrame(socket, response, obfuscated);

    disconnect(socket, &QTcpSocket::connected, this,
               &PeerMessenger::OnIndirectResponseSocketConnected);
    socketItem.Remove();
    PeerLog(1,
            QStringLiteral("Response connection to indirect request from %1, type %2 opened")
                .arg(Text(user.AsString()), Text(type)),
            user);
    request.Remove();

    if (IsType(type, MessagingConnection)) {
        ConnectInput(socket);
        OpenMessagingConnection(socket, user, obfuscated);
    } else if (IsType(type, FileConnection)) {
        // The peer names the transfer with a raw token before it is handed over.
        ConnectInput(socket);
        SocketBufferInfo& info = Record(socket);
        info.m_awaitingFileToken = true;
        info.m_awaitingSince = Clock::Now();
        info.m_user = user.AsString();
        if (socket->bytesAvailable() > 0)
            ReadSocket(socket, *socket);
    } else if (IsType(type, DNetConnection)) {
        HandOver(socket);
        emit DNetConnectionRequested(user.AsString(), socket);
    } else {
        DisposeOfSocket(socket);
    }
}

// ---------------------------------------------------------------------------
// Identifying accepted connections by their first frame

bool PeerMessenger::IdentifyConnection(QTcpSocket* socket, MemStream& frame)
{
    ItemPtr item = SocketItem(UninitializedSocket, socket);
    const bool obfuscated = item.IsConnected(IsObfuscated);
    item.Remove();

    unsigned char direction = 0;
    if (!frame.Read(direction)) {
        PeerLog(1, QStringLiteral("Failed to read direction from new peer connection"));
        return FailIdentification();
    }
    if (direction == PeerMessages::IndirectResponse::Direction)
        return IdentifyIndirectResponse(socket, frame, obfuscated);
    return IdentifyPeerInit(socket, frame, obfuscated);
}

bool PeerMessenger::IdentifyIndirectResponse(QTcpSocket* socket, MemStream& frame, bool obfuscated)
{
    PeerMessages::IndirectResponse response;
    if (!response.Read(frame)) {
        PeerLog(1, QStringLiteral("Failed to read req from indirect peer connection"));
        return FailIdentification();
    }
    ItemPtr indirect = d.GetType(IndirectConnectToPeerRequest)->HasItem(response.m_token);
    if (!indirect) {
        PeerLog(1, QStringLiteral("Req sent on indirect peer connection not found"));
        return FailIdentification();
    }
    ItemPtr user = indirect[ServerTypes::User];
    const std::string type = indirect[PeerConnectionType].AsString();
    ItemPtr request = indirect[ConnectToPeerRequest];
    indirect.Remove();
    if (request)
        DisposeOfPeerConnectionRequest(request);
    PeerLog(1,
            QStringLiteral("Found req, accepted indirect connection to user %1, connection type %2")
                .arg(Text(user.AsString()), Text(type)),
            user);

    if (IsType(type, MessagingConnection)) {
        OpenMessagingConnection(socket, user, obfuscated);
        return true;
    }
    if (!IsType(type, FileConnection) && !IsType(type, DNetConnection))
        return FailIdentification();
    Record(socket).m_handedOver = true;
    HandOver(socket);
    if (IsType(type, FileConnection))
        emit FileConnectionAccepted(user.AsString(), socket);
    else
        emit DNetConnectionAccepted(user.AsString(), socket);
    return true;
}

bool PeerMessenger::IdentifyPeerInit(QTcpSocket* socket, MemStream& frame, bool obfuscated)
{
    PeerMessages::PeerInit init;
    if (!init.Read(frame))
        return FailIdentification();
    ItemPtr user = User(init.m_user);
    const QString name = Text(init.m_user);

    bool known = true;
    if (IsType(init.m_type, MessagingConnection)) {
        PeerLog(1, QStringLiteral("Accepted messaging connection to user %1").arg(name), user);
        OpenMessagingConnection(socket, user, obfuscated);
    } else if (IsType(init.m_type, FileConnection)) {
        PeerLog(1, QStringLiteral("Accepted file connection to user %1").arg(name), user);
        SocketBufferInfo& info = Record(socket);
        info.m_awaitingFileToken = true;
        info.m_awaitingSince = Clock::Now();
        info.m_user = init.m_user;
    } else if (IsType(init.m_type, DNetConnection)) {
        PeerLog(1, QStringLiteral("Accepted DNet connection to user %1").arg(name), user);
        Record(socket).m_handedOver = true;
        HandOver(socket);
        emit DNetConnectionRequested(init.m_user, socket);
    } else {
        known = false;
    }
    PeerLog(1,
            QStringLiteral("Peer connection of type %1 opened from user %2")
                .arg(Text(init.m_type), name),
            user);
    return known || FailIdentification();
}

bool PeerMessenger::FailIdentification()
{
    PeerLog(1, QStringLiteral("Failure initializing peer connection, disposing of socket"));
    return false;
}

// ---------------------------------------------------------------------------
// Reading

void PeerMessenger::OnSocketReadyToRead(QTcpSocket* socket)
{
    if (!m_queued.insert(socket).second)
        return;
    m_readyQueue.emplace_back(socket);
    if (!m_sliceScheduled) {
        m_sliceScheduled = true;
        QTimer::singleShot(0, this, &PeerMessenger::ProcessReadySockets);
    }
}

void PeerMessenger::ProcessReadySockets()
{
    // A slice reads whole sockets until its time is up, then yields so that
    // timers and other sockets get their turn before the next slice.
    constexpr auto SliceLength = std::chrono::milliseconds(20);
    m_sliceScheduled = false;
    const auto start = std::chrono::steady_clock::now();
    while (!m_readyQueue.empty() && std::chrono::steady_clock::now() - start < SliceLength) {
        QPointer<QTcpSocket> socket = m_readyQueue.front();
        m_readyQueue.pop_front();
        // Disposed of or handed over since it was queued: not ours to read.
        if (!socket || m_queued.erase(socket.data()) == 0)
            continue;
        QTcpSocket* reading = socket.data();
        Guarded([this, reading] { ReadSocket(reading, *reading); });
    }
    if (!m_readyQueue.empty() && !m_sliceScheduled) {
        m_sliceScheduled = true;
        QTimer::singleShot(0, this, &PeerMessenger::ProcessReadySockets);
    }
}

SocketBufferInfo* PeerMessenger::FindRecord(QTcpSocket* socket)
{
    const auto found = m_records.find(socket);
    return found == m_records.end() ? nullptr : found->second.get();
}

SocketBufferInfo& PeerMessenger::Record(QTcpSocket* socket)
{
    if (SocketBufferInfo* info = FindRecord(socket))
        return *info;
    auto info = std::make_unique<SocketBufferInfo>();
    ItemPtr item = SocketItem(UninitializedSocket, socket);
    if (!item)
        item = SocketItem(PeerSocket, socket);
    info->m_obfuscated = item && item.IsConnected(IsObfuscated);
    SocketBufferInfo& record = *info;
    m_records[socket] = std::move(info);
    return record;
}

void PeerMessenger::ReadSocket(QTcpSocket* socket, QIODevice& device)
{
    SocketBufferInfo* info = &Record(socket);
    if (device.bytesAvailable() <= 0)
        return;
    while (!info->m_awaitingFileToken) {
        if (!info->m_haveLength) {
            // Before it has said who it is, a peer gets no room for more
            // than an introduction.
            const std::uint32_t longest =
                SocketItem(UninitializedSocket, socket) ? MaxFirstFrameLength : MaxFrameLength;
            const HeaderResult header = ReadHeader(socket, device, *info, longest);
            if (header == HeaderIncomplete)
                return;
            if (header == HeaderOversized) {
                DisposeOfSocket(socket);
                return;
            }
        } else if (ReadBody(device, *info)) {
            MemStream body = info->m_buffer;
            EndFrame(*info);
            if (!HandleFrame(socket, body))
                return;
            // Handling may have disposed of the socket or handed it over.
            info = FindRecord(socket);
            if (!info)
                return;
            if (info->m_handedOver) {
                ForgetRecord(socket);
                m_queued.erase(socket);
                return;
            }
        }
        // A frame whose length has just been read waits for a later pass
        // when nothing follows, even when its body is empty.
        if (device.bytesAvailable() <= 0)
            return;
    }
    ReadFileToken(socket, device);
}

PeerMessenger::HeaderResult PeerMessenger::ReadHeader(QTcpSocket* socket, QIODevice& device,
                                                      SocketBufferInfo& info, std::uint32_t longest)
{
    const int size = info.m_obfuscated ? Scrambler::HeaderSize : LengthSize;
    if (device.bytesAvailable() < size)
        return HeaderIncomplete;
    unsigned char header[Scrambler::HeaderSize];
    if (device.read(reinterpret_cast<char*>(header), size) != size)
        return HeaderIncomplete;
    if (info.m_obfuscated)
        info.m_length = Scrambler::ReadHeader(header, info.m_key);
    else
        info.m_length = WireFormat::DecodeUInt32(header);
    if (info.m_length > longest || !TakeFrameBudget(socket, info.m_length))
        return HeaderOversized;
    info.m_haveLength = true;
    return HeaderRead;
}

bool PeerMessenger::TakeFrameBudget(QTcpSocket* socket, std::uint32_t length)
{
    if (m_frameBytesHeld + length <= m_frameBudget) {
        m_frameBytesHeld += length;
        return true;
    }
    ItemPtr peerSocket = SocketItem(PeerSocket, socket);
    const QString user = peerSocket ? Text(peerSocket[ServerTypes::User].AsString()) : QString();
    PeerLog(0, QStringLiteral("Frames on their way already hold %1 of the %2 bytes allowed; "
                              "closing the connection%3 that announced %4 bytes more")
                   .arg(m_frameBytesHeld)
                   .arg(m_frameBudget)
                   .arg(user.isEmpty() ? QString() : QStringLiteral(" to user ") + user)
                   .arg(length));
    return false;
}

// The frame is done with (handled, or its connection gone): what was set
// aside for it is free again.
void PeerMessenger::EndFrame(SocketBufferInfo& info)
{
    if (info.m_haveLength)
        m_frameBytesHeld -= info.m_length;
    info.m_haveLength = false;
    info.m_buffer = MemStream();
}

void PeerMessenger::ForgetRecord(QTcpSocket* socket)
{
    const auto found = m_records.find(socket);
    if (found == m_records.end())
        return;
    EndFrame(*found->second);
    m_records.erase(found);
}

bool PeerMessenger::ReadBody(QIODevice& device, SocketBufferInfo& info)
{
    MemStream& buffer = info.m_buffer;
    const int length = static_cast<int>(info.m_length);
    if (buffer.GetBufferLength() == 0 && length > buffer.GetBufferCapacity())
        buffer.EnsureBufferCapacity(length);
    const qint64 wanted =
        std::min<qint64>(length - buffer.GetBufferLength(), device.bytesAvailable());
    if (wanted > 0) {
        const qint64 got = device.read(buffer.GetWriteBuffer(), wanted);
        if (got > 0)
            buffer.AdvanceWriteIndex(static_cast<int>(got));
    }
    if (buffer.GetBufferLength() != length)
        return false;
    if (info.m_obfuscated)
        Scrambler::DescrambleBody(info.m_key, buffer.GetBuffer(), length);
    return true;
}

// False when the socket has been disposed of.
bool PeerMessenger::HandleFrame(QTcpSocket* socket, MemStream& body)
{
    bool handled = false;
    try {
        handled = HandleMessage(socket, body);
    } catch (...) {
        // A store misuse somewhere behind a handler must not unwind through
        // the event loop; the connection it came from goes.
        DiscardCurrentStoreException();
    }
    if (handled)
        return true;
    DisconnectFrom(socket, this);
    DisposeOfSocket(socket);
    return false;
}

void PeerMessenger::ReadFileToken(QTcpSocket* socket, QIODevice& device)
{
    if (device.bytesAvailable() < FileTokenSize)
        return;
    unsigned char bytes[FileTokenSize];
    if (device.read(reinterpret_cast<char*>(bytes), FileTokenSize) != FileTokenSize)
        return;
    const unsigned int token = WireFormat::DecodeUInt32(bytes);
    const std::string user = Record(socket).m_user;
    HandOver(socket);
    ForgetRecord(socket);
    m_queued.erase(socket);
    emit FileConnectionRequested(user, socket, token);
}

// ---------------------------------------------------------------------------
// Dispatch

bool PeerMessenger::HandleMessage(QTcpSocket* socket, MemStream message)
{
    if (SocketItem(UninitializedSocket, socket))
        return IdentifyConnection(socket, message);
    return HandlePeerMessage(socket, message);
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket* socket, MemStream& message)
{
    ItemPtr peerSocket = SocketItem(PeerSocket, socket);
    ItemPtr userItem = peerSocket ? peerSocket[ServerTypes::User] : ItemPtr();
    const std::string user = userItem.AsString();
    unsigned int code = 0;
    if (!message.Read(code)) {
        PeerLog(1,
                QStringLiteral("Could not read message code on connection to user %1, disposing "
                               "of socket")
                    .arg(Text(user)),
                userItem);
        return false;
    }
    if (peerSocket)
        if (auto* activity = ObjectFromItem<QDateTime>(peerSocket[LastActivityTime]))
            *activity = Clock::Now();
    PeerLog(1,
            QStringLiteral("Received %1 message from user %2")
                .arg(Text(PeerMessages::MessageCodeToString(static_cast<int>(code))), Text(user)),
            userItem);

    switch (code) {
    case PeerMessages::SharedFileList::Code:
        return HandleSharedFileList(user, message);
    case PeerMessages::FileSearchResult::Code:
        return HandleFileSearchResult(user, message);
    case PeerMessages::GetSharedFilesInFolder::Code:
        return HandleGetSharedFilesInFolder(user, message);
    case PeerMessages::TransferRequest::Code:
        return HandleTransferRequest(user, message);
    case PeerMessages::TransferResponse::Code:
        return HandleTransferResponse(user, message);
    case PeerMessages::QueueUpload::Code:
        return HandleQueueUpload(user, message);
    case PeerMessages::UploadPlaceInLine::Code:
        return HandleUploadPlaceInLine(user, message);
    case PeerMessages::UploadFailed::Code:
        return HandleUploadFailed(user, message);
    case PeerMessages::UploadDenied::Code:
        return HandleUploadDenied(user, message);
    case PeerMessages::GetSharedFileList::Code:
        emit SharedFileListRequested(user);
        return true;
    default:
        return true; // read, logged and ignored; the connection stays
    }
}

namespace {

// Reads one message of the catalogue; only a message whose mandatory fields
// all arrived reaches `then`, anything else closes the connection.
template <class Message, class Then> bool ReadThen(MemStream& body, Then then)
{
    Message message;
    if (!message.Read(body))
        return false;
    then(message);
    return true;
}

} // namespace

bool PeerMessenger::HandleSharedFileList(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::SharedFileList>(
        message, [&](auto& list) { emit UserShare(user, list.m_share, list.m_attributeTable); });
}

bool PeerMessenger::HandleFileSearchResult(const std::string& user, MemStream& message)
{
    const SearchResultIntake::Outcome outcome = SearchResultIntake::Receive(user, message);
    if (outcome.m_searchResults)
        emit SearchResults(outcome.m_searchResults);
    return outcome.m_acceptable;
}

bool PeerMessenger::HandleGetSharedFilesInFolder(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::GetSharedFilesInFolder>(message, [&](auto& request) {
        emit SharedFilesInFolderRequested(user, request.m_token, request.m_folder);
    });
}

bool PeerMessenger::HandleTransferRequest(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::TransferRequest>(message, [&](auto& request) {
        emit FileTransferRequested(user, static_cast<int>(request.m_direction), request.m_token,
                                   request.m_file, request.m_size);
    });
}

bool PeerMessenger::HandleTransferResponse(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::TransferResponse>(message, [&](auto& response) {
        const bool hasSize = response.m_allowed && response.m_hasSize;
        emit FileTransferResponse(user, response.m_token, response.m_allowed, hasSize,
                                  hasSize ? response.m_size : 0,
                                  response.m_allowed ? std::string() : response.m_reason);
    });
}

bool PeerMessenger::HandleQueueUpload(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::QueueUpload>(
        message, [&](auto& request) { emit QueueUploadRequested(user, request.m_file); });
}

bool PeerMessenger::HandleUploadPlaceInLine(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::UploadPlaceInLine>(message, [&](auto& place) {
        emit DownloadPlaceInLine(user, place.m_file, static_cast<int>(place.m_place));
    });
}

bool PeerMessenger::HandleUploadFailed(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::UploadFailed>(
        message, [&](auto& failed) { emit UploadFailed(user, failed.m_file); });
}

bool PeerMessenger::HandleUploadDenied(const std::string& user, MemStream& message)
{
    return ReadThen<PeerMessages::UploadDenied>(
        message, [&](auto& denied) { emit UploadDenied(user, denied.m_file, denied.m_reason); });
}

// ---------------------------------------------------------------------------
// Sending

bool PeerMessenger::SendMessage(QTcpSocket* socket, MemStream& message, bool obfuscated)
{
    const MemStream plain = Frame(message);
    const MemStream frame =
        obfuscated ? m_scrambler.Scramble(plain.GetBuffer(), plain.GetBufferLength()) : plain;
    if (socket->write(frame.GetBuffer(), frame.GetBufferLength()) < 0) {
        PeerLog(1,
                QStringLiteral("Error writing message to socket: %1").arg(socket->errorString()));
        return false;
    }
    return true;
}

template <class Message>
bool PeerMessenger::SendFirstFrame(QTcpSocket* socket, const Message& message, bool obfuscated)
{
    MemStream body;
    message.Write(body);
    return SendMessage(socket, body, obfuscated);
}

template <class Message> void PeerMessenger::Send(const std::string& user, const Message& message)
{
    MemStream body;
    message.Write(body);
    SendMessage(user, body);
}

void PeerMessenger::SendMessage(const std::string& user, MemStream& message)
{
    ItemPtr userItem = User(user);
    unsigned int code = 0;
    if (message.GetBufferLength() >= LengthSize)
        code = WireFormat::DecodeUInt32(reinterpret_cast<unsigned char*>(message.GetBuffer()));
    PeerLog(1,
            QStringLiteral("Send %1 message to user %2")
                .arg(Text(PeerMessages::MessageCodeToString(static_cast<int>(code))), Text(user)),
            userItem);

    const ItemSet sockets = userItem.GetItems(PeerSocket);
    if (sockets.empty()) {
        PeerLog(
            2, QStringLiteral("Did not find messaging connection to user, queueing unsent message"),
            userItem);
        QueueMessage(userItem, message);
        ConnectToUser(user, MessagingConnection);
        return;
    }
    ItemPtr chosen;
    if (sockets.size() == 1) {
        PeerLog(2, QStringLiteral("Found one existing messaging connection to user"), userItem);
        chosen = sockets.first();
    } else {
        PeerLog(2,
                QStringLiteral("Found %1 existing messaging connections to user, picking latest")
                    .arg(sockets.size()),
                userItem);
        chosen = LatestMessagingConnection(sockets);
    }
    SendMessage(ObjectFromItem<QTcpSocket>(chosen), message, chosen.IsConnected(IsObfuscated));
}

// Opening times have a resolution of one second; on a tie the earlier one in
// set order stays the choice.
ItemPtr PeerMessenger::LatestMessagingConnection(const ItemSet& sockets)
{
    ItemPtr chosen;
    QDateTime chosenTime;
    for (Item* socket : sockets) {
        const QString text = Text(ItemPtr(socket)[ConnectionOpenTime].AsString());
        const QDateTime opened = Clock::FromText(text);
        if (!chosen) {
            PeerLog(3, QStringLiteral("First connection opened %1").arg(text));
        } else if (opened > chosenTime) {
            PeerLog(3, QStringLiteral("Found connection opened %1, exchanging").arg(text));
        } else {
            continue;
        }
        chosen = socket;
        chosenTime = opened;
    }
    return chosen;
}

void PeerMessenger::QueueMessage(ItemPtr user, const MemStream& message)
{
    // Copies of a stream share its buffer; the queue keeps bytes of its own.
    auto copy = std::make_unique<MemStream>();
    copy->WriteBuffer(message.GetBuffer(), static_cast<unsigned long>(message.GetBufferLength()));
    ItemPtr unsent = d.GetType(UnsentMessage)->GetItem(ObjectValue(copy.get()));
    m_unsentMessages[copy.get()] = std::move(copy);
    SetValue(unsent, SendOrder, m_sendOrder++);
    SetCreationTime(unsent, SendTime);
    unsent.Connect(user);
}

void PeerMessenger::FreeUnsentMessage(ItemPtr unsent)
{
    m_unsentMessages.erase(ObjectFromItem<MemStream>(unsent));
    unsent.Remove();
}

void PeerMessenger::SendUnsentMessages(const std::string& user)
{
    ItemPtr userItem = User(user);
    ItemPtr socketItem = userItem.GetItems(PeerSocket);
    if (!socketItem)
        return;
    auto* socket = ObjectFromItem<QTcpSocket>(socketItem);
    const bool obfuscated = socketItem.IsConnected(IsObfuscated);
    const ItemSet queued = userItem.GetItems(UnsentMessage);
    if (queued.empty())
        return;
    const std::list<Item*> ordered = queued.SortNumericBy(SendOrder, true);
    PeerLog(1,
            QStringLiteral("Sending %1 pending peer messages to user %2")
                .arg(ordered.size())
                .arg(Text(user)),
            userItem);
    for (Item* unsent : ordered) {
        auto* message = ObjectFromItem<MemStream>(unsent);
        if (!SendMessage(socket, *message, obfuscated))
            return;
        FreeUnsentMessage(unsent);
    }
}

void PeerMessenger::GetUserSharedFiles(const std::string& user)
{
    Send(user, PeerMessages::GetSharedFileList());
}

unsigned int PeerMessenger::RequestUpload(const std::string& user, const std::string& file,
                                          qint64 size)
{
    const auto token = static_cast<unsigned int>(Settings::GetInt("transfer_req_counter", 0));
    Settings::Set("transfer_req_counter", token + 1);
    PeerMessages::TransferRequest request;
    request.m_direction = PeerMessages::TransferRequest::DirectionUpload;
    request.m_token = token;
    request.m_file = file;
    request.m_size = size;
    Send(user, request);
    return token;
}

void PeerMessenger::AcceptTransferRequest(const std::string& user, unsigned int req, bool hasSize,
                                          qint64 size)
{
    PeerMessages::TransferResponse response;
    response.m_token = req;
    response.m_allowed = true;
    response.m_hasSize = hasSize;
    response.m_size = size;
    Send(user, response);
}

void PeerMessenger::DenyTransferRequest(const std::string& user, unsigned int req,
                                        const std::string& reason)
{
    PeerMessages::TransferResponse response;
    response.m_token = req;
    response.m_allowed = false;
    response.m_reason = reason;
    Send(user, response);
}

void PeerMessenger::QueueDownload(const std::string& user, const std::string& file)
{
    PeerMessages::QueueUpload request;
    request.m_file = file;
    Send(user, request);
}

void PeerMessenger::DenyUpload(const std::string& user, const std::string& file,
                               const std::string& reason)
{
    PeerMessages::UploadDenied denied;
    denied.m_file = file;
    denied.m_reason = reason;
    Send(user, denied);
}

// ---------------------------------------------------------------------------
// Ending sockets

void PeerMessenger::OnSocketClosed()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(socket);
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(socket);
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* socket)
{
    if (g_peerMessengerDeleted)
        return;
    DisconnectFrom(socket, this);
    Discard(socket);
    ++m_disposalsSincePass;
    PeerLog(1, QStringLiteral("Disposing of socket"));

    if (ItemPtr requestSocket = SocketItem(PeerConnectionRequestSocket, socket)) {
        PeerLog(2, QStringLiteral("Identified as peer connection request socket"));
        if (ItemPtr request = requestSocket[PeerConnectionRequest]) {
            PeerLog(2, QStringLiteral("Request found, removing"));
            // The peer waits for us; the server tells it we could not come.
            gp_server->SendCantConnectToPeer(request[PeerConnectionRequestId].AsUInt(),
                                             request[ServerTypes::User].AsString());
            request.Remove();
            requestSocket.Remove();
        } else {
            PeerLog(2, QStringLiteral("Request not found"));
        }
    } else if (ItemPtr uninitialized = SocketItem(UninitializedSocket, socket)) {
        PeerLog(2, QStringLiteral("Identified as uninitialized socket"));
        uninitialized.Remove();
    } else if (ItemPtr peerSocket = SocketItem(PeerSocket, socket)) {
        PeerLog(2, QStringLiteral("Identified as peer socket"));
        peerSocket.Remove();
    } else {
        PeerLog(2, QStringLiteral("Socket not identified"));
    }
    ForgetRecord(socket);
    m_queued.erase(socket);

    for (const char* typeName :
         {PeerConnectionRequestSocket, UninitializedSocket, PeerSocket, ConnectToPeerRequestSocket})
        if (ItemPtr left = SocketItem(typeName, socket))
            left.Remove();
}

void PeerMessenger::OnPeerSocketItemAdded(Item* peerSocket)
{
    auto activity = std::make_unique<QDateTime>(Clock::Now());
    ItemPtr item = d.GetType(LastActivityTime)->GetItem(ObjectValue(activity.get()));
    m_activityTimes[activity.get()] = std::move(activity);
    ItemPtr(peerSocket).Connect(item);
}

void PeerMessenger::OnPeerSocketItemRemoved(Item* peerSocket)
{
    ItemPtr activity = ItemPtr(peerSocket)[LastActivityTime];
    if (!activity)
        return;
    m_activityTimes.erase(ObjectFromItem<QDateTime>(activity));
    activity.Remove();
}

// ---------------------------------------------------------------------------
// The half-minute pass

void PeerMessenger::EveryHalfMinute()
{
    ExpireUnsentMessages();
    ExpireIndirectAttempts();
    ExpireDirectAttempts();
    ExpireIndirectResponses();
    ExpireMessagingConnections();
    ExpireUnidentifiedConnections();
    ReleaseFreedMemory();
}

// After a flood of connections (an attack, or a crowd answering a search)
// the allocator keeps the freed buffers for reuse; this hands them back to
// the system once the flood is over, so memory returns to its usual level.
void PeerMessenger::ReleaseFreedMemory()
{
    constexpr int ManyDisposals = 100;
    if (m_disposalsSincePass >= ManyDisposals && m_records.size() < ManyDisposals) {
#ifdef __GLIBC__
        ::malloc_trim(0);
#endif
    }
    m_disposalsSincePass = 0;
}

void PeerMessenger::ExpireUnsentMessages()
{
    for (ItemPtr unsent : Expired(UnsentMessage, SendTime, UnsentMessageLifetimeMs))
        FreeUnsentMessage(unsent);
}

void PeerMessenger::ExpireIndirectAttempts()
{
    for (ItemPtr indirect : Expired(IndirectConnectToPeerRequest, SendTime, AttemptLifetimeMs)) {
        ItemPtr user = indirect[ServerTypes::User];
        PeerLog(1,
                QStringLiteral("Indirect connection request of type %1 to %2 expired, removing.")
                    .arg(Text(indirect[PeerConnectionType].AsString()), Text(user.AsString())),
                user);
        ItemPtr request = indirect[ConnectToPeerRequest];
        indirect.Remove();
        if (request)
            InspectPeerConnectionRequest(request);
    }
}

void PeerMessenger::ExpireDirectAttempts()
{
    for (ItemPtr socketItem :
         Expired(ConnectToPeerRequestSocket, SocketCreationTime, AttemptLifetimeMs)) {
        ItemPtr user = socketItem[ServerTypes::User];
        PeerLog(1,
                QStringLiteral("Direct connection attempt of type %1 to %2 timed out, closing.")
                    .arg(Text(socketItem[PeerConnectionType].AsString()), Text(user.AsString())),
                user);
        auto* socket = ObjectFromItem<QTcpSocket>(socketItem);
        DisconnectFrom(socket, this);
        Discard(socket);
        ItemPtr request = socketItem[ConnectToPeerRequest];
        socketItem.Remove();
        if (request)
            InspectPeerConnectionRequest(request);
    }
}

void PeerMessenger::ExpireIndirectResponses()
{
    for (ItemPtr socketItem :
         Expired(PeerConnectionRequestSocket, SocketCreationTime, AttemptLifetimeMs)) {
        ItemPtr request = socketItem[PeerConnectionRequest];
        ItemPtr user = request[ServerTypes::User];
        PeerLog(1,
                QStringLiteral("Indirect connection attempt of type %1 to %2 timed out, closing.")
                    .arg(Text(request[PeerConnectionType].AsString()), Text(user.AsString())),
                user);
        // A socket that never connected reports no disconnection when
        // closed, so it is disposed of here, which tells the server.
        DisposeOfSocket(ObjectFromItem<QTcpSocket>(socketItem));
    }
}

void PeerMessenger::ExpireMessagingConnections()
{
    for (Item* item : d.GetType(PeerSocket)->GetItems()) {
        ItemPtr peerSocket(item);
        auto* activity = ObjectFromItem<QDateTime>(peerSocket[LastActivityTime]);
        if (!activity || Clock::AgeMs(*activity) < IdleConnectionLifetimeMs)
            continue;
        ItemPtr user = peerSocket[ServerTypes::User];
        PeerLog(1,
                QStringLiteral("Peer connection to user %1 expired, closing.")
                    .arg(Text(user.AsString())),
                user);
        DisposeOfSocket(ObjectFromItem<QTcpSocket>(peerSocket));
    }
}

void PeerMessenger::ExpireUnidentifiedConnections()
{
    for (ItemPtr socketItem :
         Expired(UninitializedSocket, SocketCreationTime, FirstFrameLifetimeMs)) {
        PeerLog(1, QStringLiteral("New peer connection sent no first message in time, closing."));
        DisposeOfSocket(ObjectFromItem<QTcpSocket>(socketItem));
    }
    // A file connection is not identified until its token has come either.
    std::vector<QTcpSocket*> waiting;
    for (const auto& [socket, info] : m_records)
        if (info->m_awaitingFileToken &&
            Clock::AgeMs(info->m_awaitingSince) >= FirstFrameLifetimeMs)
            waiting.push_back(socket);
    for (QTcpSocket* socket : waiting) {
        PeerLog(1, QStringLiteral("File connection from %1 sent no transfer token in time, "
                                  "closing.")
                       .arg(Text(FindRecord(socket)->m_user)));
        DisposeOfSocket(socket);
    }
}
