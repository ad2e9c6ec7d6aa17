#include "dnet/DNetManager.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <QTcpSocket>

#include "base/SettingsTypes.h"
#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/Settings.h"
#include "dnet/DNetMessages.h"
#include "dnet/DNetTypes.h"
#include "peers/PeerMessenger.h"
#include "peers/PeerTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "streams/MemStream.h"
#include "streams/WireFormat.h"

DNetManager* dnetManager = nullptr;

namespace {

using namespace DNetTypes;
using namespace DNetMessages;

constexpr const char* UploadSpeedKey = "upload_speed";
// Far above any real line speed; keeps the capacity arithmetic in range
// whatever the setting holds.
constexpr long long MaxMeaningfulSpeed = 1LL << 40;

void Note(int level, const QString& text)
{
    Log(LogCategory::DistributedNetwork, level, text);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

ItemPtr User(const std::string& name)
{
    return d.GetType(ServerTypes::User)->GetItem(name);
}

// The "dnet_global" variables: a value, or a null handle while absent.
ItemPtr StateValue(const char* name)
{
    ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name);
    return variable ? variable[DNetValue] : ItemPtr();
}

bool HasState(const char* name)
{
    return bool(StateValue(name));
}

void SetState(const char* name, const Value& value)
{
    d.GetType(DNetGlobal)->GetItem(name)->Connect(d.GetType(DNetValue)->GetItem(value));
}

void RemoveState(const char* name)
{
    if (ItemPtr variable = d.GetType(DNetGlobal)->HasItem(name))
        variable.Disconnect(DNetValue);
}

int StateInt(const char* name, int absent)
{
    ItemPtr value = StateValue(name);
    return value ? value.AsInt() : absent;
}

void SetValue(ItemPtr item, const char* typeName, const Value& value)
{
    item.Connect(d.GetType(typeName)->GetItem(value));
}

ItemPtr SocketItem(const char* typeName, QTcpSocket* socket)
{
    return d.GetType(typeName)->HasItem(ObjectValue(socket));
}

bool IsParentSocket(QTcpSocket* socket)
{
    ItemPtr parent = StateValue(State::ParentSocket);
    return parent && ObjectFromItem<QTcpSocket>(parent) == socket;
}

// A store misuse behind a socket signal, ours or a listener's, must not
// unwind through the event loop. What was done stays done.
template <class F> void Guarded(F&& step)
{
    try {
        step();
    } catch (...) {
        DiscardCurrentStoreException();
    }
}

// The level we have below a parent of the given level. Only a known, sane
// level has a successor; anything else leaves ours unknown.
int LevelBelow(int parentLevel)
{
    if (parentLevel < 0 || parentLevel == INT_MAX)
        return Level::Unknown;
    return parentLevel + 1;
}

} // namespace

DNetManager::DNetManager()
{
    dnetManager = this;
    DeclareSchema();
    ConnectToServer();
    ConnectToPeerMessenger();
    // The own speed arrives as a setting; each new value may change whether
    // we can take children.
    AddPairConnectionHandler(this, SettingsTypes::Global, SettingsTypes::GlobalValue,
                             &DNetManager::OnReceivedOwnUploadSpeed);
}

DNetManager::~DNetManager()
{
    RemoveDataHandlers();
    // The sockets handed to us die with us; nothing may react to their close.
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket* socket : sockets)
        socket->disconnect(this);
    qDeleteAll(sockets);
    if (dnetManager == this)
        dnetManager = nullptr;
}

void DNetManager::DeclareSchema()
{
    // Types live for the whole process; a manager created again finds them.
    if (d.HasType(AttemptedDNetConnection))
        return;
    Type* attempted = d.NewType(AttemptedDNetConnection, false, true, true);
    Type* global = d.NewType(DNetGlobal, true, false, true);
    Type* value = d.NewType(DNetValue, false, false, true);
    Type* child = d.NewType(DNetChild, true, false, false);
    Type* childDepth = d.NewType(DNetChildDepth, false, false, true);
    Type* candidate = d.NewType(DNetParentCandidate, true, false, false);
    Type* candidateLevel = d.NewType(DNetCandidateLevel, false, false, true);
    Type* candidateLeader = d.NewType(DNetCandidateLeader, false, false, true);
    Type* user = d.GetType(ServerTypes::User);

    user->RelateToType(attempted, MANY, ONE, false);
    global->RelateToType(value, MANY, ONE, false);
    // One child connection per user: a reconnecting child replaces its old one.
    child->RelateToType(user, ONE, ONE, false);
    child->RelateToType(childDepth, MANY, ONE, false);
    candidate->RelateToType(user, MANY, ONE, false);
    candidate->RelateToType(candidateLevel, MANY, ONE, false);
    candidate->RelateToType(candidateLeader, MANY, ONE, false);
    // Nothing of it is saved: the tree is rebuilt in every run.
}

void DNetManager::ConnectToServer()
{
    if (!gp_server)
        return;
    // Direct connections: the list and the body are references into the
    // message the server is handling.
    connect(gp_server, &Server::DNetParentMinSpeed, this, &DNetManager::OnDNetParentMinSpeed);
    connect(gp_server, &Server::DNetParentSpeedConnectionRatio, this,
            &DNetManager::OnDNetParentSpeedConnectionRatio);
    connect(gp_server, &Server::DNetPossibleParents, this, &DNetManager::OnDNetPossibleParents,
            Qt::DirectConnection);
    connect(gp_server, &Server::DNetMessage, this, &DNetManager::OnDNetMessage,
            Qt::DirectConnection);
    connect(gp_server, &Server::DNetDeliveryReport, this, &DNetManager::OnDNetDeliveryReport);
    connect(gp_server, &Server::DNetReset, this, &DNetManager::OnDNetReset);
    connect(gp_server, &Server::Connected, this, &DNetManager::OnConnected);
}

void DNetManager::ConnectToPeerMessenger()
{
    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
            &DNetManager::OnDNetConnectionRequested);
    connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this,
            &DNetManager::OnDNetConnectionAccepted);
}

void DNetManager::RequestParentConnection(const std::string& user)
{
    if (peerMessenger)
        peerMessenger->RequestDNetConnection(user);
}

void DNetManager::OnReceivedOwnUploadSpeed(ConnectionInfo& info)
{
    if (info.item->AsString() == UploadSpeedKey)
        DetermineCanParent();
}

// --- What the server tells us ---

void DNetManager::OnConnected()
{
    SendHasParent(HasState(State::ParentUser));
    SendGroupLeader(StateValue(State::GroupLeader).AsString());
    SendLevel(StateInt(State::Level, Level::Unknown));
    DetermineCanParent();
}

void DNetManager::OnDNetParentMinSpeed(int speed)
{
    Note(1, QStringLiteral("Received parent min speed %1, currently not processing").arg(speed));
    m_parentMinSpeed = speed;
    DetermineCanParent();
}

void DNetManager::OnDNetParentSpeedConnectionRatio(int ratio)
{
    Note(1, QStringLiteral("Received parent speed connection ratio %1, currently not processing")
                .arg(ratio));
    m_parentSpeedConnectionRatio = ratio;
    DetermineCanParent();
}

void DNetManager::OnDNetDeliveryReport(int value)
{
    Note(1, QStringLiteral("Received DNet delivery report request, req %1").arg(value));
}

void DNetManager::OnDNetReset()
{
    Note(1, QStringLiteral("Received DNet reset request"));
}

void DNetManager::OnDNetPossibleParents(std::list<std::pair<std::string, TCPAddress>>& parents)
{
    if (HasState(State::ParentUser)) {
        Note(1, QStringLiteral(
                    "Received possible parents list, but already have a parent. Not processing."));
        return;
    }
    Note(1, QStringLiteral("Received possible parents list, %1 entries").arg(parents.size()));
    const std::string self = Settings::Get("username");
    for (const auto& [name, address] : parents) {
        // We would only end up as our own child.
        if (name.empty() || name == self)
            continue;
        ItemPtr user = User(name);
        if (user.IsConnected(AttemptedDNetConnection)) {
            Note(2, QStringLiteral("Already attempted parent connection to %1, skipping")
                        .arg(Text(name)));
            continue;
        }
        Note(2, QStringLiteral("Attempting parent connection to %1").arg(Text(name)));
        SetValue(user, PeerTypes::UserAddress, address.first);
        SetValue(user, PeerTypes::UserPort, address.second);
        user.NewItem(AttemptedDNetConnection);
        RequestParentConnection(name);
    }
}

void DNetManager::OnDNetMessage(MemStream& body)
{
    HandleMessage(nullptr, body);
}

// --- Deciding what to tell the server ---

void DNetManager::DetermineCanParent()
{
    if (m_parentMinSpeed == -1 || m_parentSpeedConnectionRatio == -1 ||
        Settings::Get(UploadSpeedKey).empty())
        return;
    Note(1, QStringLiteral("Determining whether we can accept child connections."));
    const long long speed = std::min(Settings::GetInt(UploadSpeedKey, 0), MaxMeaningfulSpeed);
    bool canParent = false;
    if (m_parentSpeedConnectionRatio == 0) {
        // Every child would cost nothing: a figure no server means.
        Note(2, QStringLiteral("No parent speed connection ratio, so no."));
    } else if (speed >= static_cast<long long>(m_parentMinSpeed) * 1024) {
        const long long capacity = ((speed * 10) / 1024) / m_parentSpeedConnectionRatio;
        const auto children = static_cast<long long>(d.GetType(DNetChild)->ItemCount());
        Note(2, QStringLiteral("Currently have %1 child connections, max capacity %2")
                    .arg(children)
                    .arg(capacity));
        canParent = capacity > children;
    } else {
        Note(2, QStringLiteral("Below minimum parent speed, so no."));
    }
    if (canParent == m_canParent) {
        Note(1, QStringLiteral("No status change, not notifying."));
        return;
    }
    Note(1, QStringLiteral("Status changed, sending notification."));
    m_canParent = canParent;
    if (gp_server)
        gp_server->SendDNetCanParent(canParent);
}

void DNetManager::DetermineChildDepth()
{
    long long depth = 0;
    for (Item* child : d.GetType(DNetChild)->GetItems()) {
        if (ItemPtr reported = ItemPtr(child)[DNetChildDepth])
            depth = std::max(depth, reported.AsInt64() + 1);
    }
    depth = std::min<long long>(depth, INT_MAX);
    if (depth == StateInt(State::ChildDepth, 0))
        return;
    Note(1, QStringLiteral("New child depth is %1").arg(depth));
    if (depth == 0)
        RemoveState(State::ChildDepth);
    else
        SetState(State::ChildDepth, depth);
    if (gp_server)
        gp_server->SendChildDepth(depth != 0);
    // Our parent works out its own depth from ours.
    if (QTcpSocket* parent = ParentSocket())
        WriteFrame(parent, Body(ChildDepth{.m_depth = static_cast<int>(depth)}));
}

QTcpSocket* DNetManager::ParentSocket() const
{
    if (!HasState(State::ParentUser))
        return nullptr;
    return ObjectFromItem<QTcpSocket>(StateValue(State::ParentSocket));
}

void DNetManager::SendHasParent(bool hasParent)
{
    if (gp_server)
        gp_server->SendDNetHasParent(hasParent);
}

void DNetManager::SendLevel(int level)
{
    // An unknown level goes out as -1 in the unsigned field.
    if (gp_server)
        gp_server->SendDNetLevel(static_cast<unsigned int>(level));
}

void DNetManager::SendGroupLeader(const std::string& leader)
{
    if (gp_server)
        gp_server->SendDNetGroupLeader(leader);
}

// --- Parent and candidates ---

void DNetManager::OnDNetConnectionAccepted(std::string user, QTcpSocket* socket)
{
    Note(1, QStringLiteral("Parent connection to user %1 accepted").arg(Text(user)));
    if (HasState(State::ParentUser)) {
        Note(2, QStringLiteral("Rejecting, already have parent"));
        DiscardSocket(socket);
        return;
    }
    if (SocketItem(DNetParentCandidate, socket) || SocketItem(DNetChild, socket))
        return; // handed over twice; it is ours already
    Note(2, QStringLiteral("Adding as possible parent candidate"));
    ItemPtr candidate = d.GetType(DNetParentCandidate)->NewItem(ObjectValue(socket));
    candidate.Connect(User(user));
    TakeSocket(socket, false);
    // Whatever the candidate sent before the hand-over is waiting already.
    if (socket->bytesAvailable() > 0)
        OnSocketReadyToRead(socket);
}

void DNetManager::OnSocketReadyToRead(QTcpSocket* socket)
{
    ReadFrames(socket, "Message too long, closing parent/candidate connection",
               &DNetManager::HandleMessage, &DNetManager::OnSocketClosed);
}

void DNetManager::ReadFrames(QTcpSocket* socket, const char* tooLong,
                             bool (DNetManager::*handle)(QTcpSocket*, MemStream&),
                             void (DNetManager::*close)(QTcpSocket*))
{
    for (;;) {
        MemStream body;
        const FrameResult result = NextFrame(socket, body);
        if (result == FrameResult::None)
            return;
        if (result == FrameResult::Oversized) {
            Note(1, QString::fromLatin1(tooLong));
            (this->*close)(socket);
            return;
        }
        if (!(this->*handle)(socket, body))
            return;
    }
}

bool DNetManager::HandleMessage(QTcpSocket* socket, MemStream& body)
{
    // Relayed exactly as it came, from the code byte on.
    const QByteArray raw(body.GetReadBuffer(), body.GetPendingReadLength());
    unsigned char code = 0;
    if (!body.Read(code)) {
        if (socket) {
            Note(1, QStringLiteral("Error reading message code, closing parent/candidate "
                                   "connection"));
            OnSocketClosed(socket);
        }
        return false;
    }
    const Sender sender = Classify(socket);
    if (sender == Sender::Stranger) {
        DiscardSocket(socket);
        return false;
    }
    const ItemPtr candidate =
        sender == Sender::Candidate ? SocketItem(DNetParentCandidate, socket) : ItemPtr();
    bool readable = true;
    switch (code) {
    case Level::Code:
        readable = HandleLevel(candidate, body);
        break;
    case GroupLeader::Code:
        readable = HandleGroupLeader(candidate, body, raw);
        break;
    case SearchRequest::Code:
        readable = HandleSearch(socket, sender, body, raw);
        break;
    default:
        break; // nothing else comes from above
    }
    if (readable || !socket)
        return readable;
    Note(1,
         QStringLiteral("Error reading message %1, closing parent/candidate connection").arg(code));
    OnSocketClosed(socket);
    return false;
}

DNetManager::Sender DNetManager::Classify(QTcpSocket* socket) const
{
    if (!socket)
        return Sender::Server;
    if (HasState(State::ParentUser))
        return IsParentSocket(socket) ? Sender::Parent : Sender::Stranger;
    return SocketItem(DNetParentCandidate, socket) ? Sender::Candidate : Sender::Stranger;
}

bool DNetManager::HandleLevel(ItemPtr candidate, MemStream& body)
{
    Level message;
    if (!message.Read(body))
        return false;
    const int level = LevelBelow(message.m_level);
    if (candidate) {
        if (level != Level::Unknown)
            SetValue(candidate, DNetCandidateLevel, level);
        return true;
    }
    UpdateLevel(level);
    return true;
}

void DNetManager::UpdateLevel(int level)
{
    ItemPtr stored = StateValue(State::Level);
    if (stored && stored.AsString() == Value(level).Text())
        return;
    Note(1, QStringLiteral("Received level from parent, updating to %1").arg(level));
    SetState(State::Level, level);
    SendLevel(level);
    SendMessageToChildren(Body(Level{.m_level = level}));
}

bool DNetManager::HandleGroupLeader(ItemPtr candidate, MemStream& body, const QByteArray& raw)
{
    GroupLeader message;
    if (!message.Read(body))
        return false;
    if (candidate) {
        SetValue(candidate, DNetCandidateLeader, message.m_user);
        return true;
    }
    UpdateGroupLeader(message.m_user, raw);
    return true;
}

void DNetManager::UpdateGroupLeader(const std::string& leader, const QByteArray& raw)
{
    ItemPtr stored = StateValue(State::GroupLeader);
    if (stored && stored.AsString() == leader)
        return;
    Note(1, QStringLiteral("Received group leader from parent, updating to %1").arg(Text(leader)));
    SetState(State::GroupLeader, leader);
    SendGroupLeader(leader);
    SendMessageToChildren(raw);
}

bool DNetManager::HandleSearch(QTcpSocket* socket, Sender sender, MemStream& body,
                               const QByteArray& raw)
{
    SearchRequest request;
    if (!request.Read(body))
        return false;
    if (!request.IsOpaque()) {
        emit DNetSearchRequest(request.m_user, request.m_token, request.m_text);
        if (sender == Sender::Candidate)
            AdoptParent(socket);
    }
    SendMessageToChildren(raw);
    return true;
}

void DNetManager::AdoptParent(QTcpSocket* socket)
{
    ItemPtr adopted = SocketItem(DNetParentCandidate, socket);
    const std::string user = adopted[ServerTypes::User].AsString();
    const ItemPtr level = adopted[DNetCandidateLevel];
    const ItemPtr leader = adopted[DNetCandidateLeader];
    SetState(State::ParentUser, user);
    SetState(State::ParentSocket, ObjectValue(socket));
    Note(1, QStringLiteral("Received first search request from parent candidate %1, adopting as "
                           "parent.")
                .arg(Text(user)));
    if (level) {
        Note(2, QStringLiteral("Level recorded as %1.").arg(level.AsInt()));
        SetState(State::Level, level.AsInt());
        SendLevel(level.AsInt());
        SendMessageToChildren(Body(Level{.m_level = level.AsInt()}));
    }
    if (leader) {
        Note(2, QStringLiteral("Group leader recorded as %1.").arg(Text(leader.AsString())));
        SetState(State::GroupLeader, leader.AsString());
        SendGroupLeader(leader.AsString());
        SendMessageToChildren(Body(GroupLeader{.m_user = leader.AsString()}));
    }
    // The other candidates had their chance.
    for (Item* candidate : d.GetType(DNetParentCandidate)->GetItems()) {
        auto* candidateSocket = ObjectFromItem<QTcpSocket>(candidate);
        candidate->Remove();
        if (candidateSocket != socket)
            DiscardSocket(candidateSocket);
    }
    SendHasParent(true);
    WriteFrame(socket, Body(ChildDepth{.m_depth = StateInt(State::ChildDepth, 0)}));
}

void DNetManager::OnSocketClosed(QTcpSocket* socket)
{
    if (IsParentSocket(socket)) {
        Note(1, QStringLiteral("Parent socket closed"));
        for (const char* name :
             {State::ParentUser, State::ParentSocket, State::Level, State::GroupLeader})
            RemoveState(name);
        SendHasParent(false);
        SendGroupLeader(std::string());
        SendLevel(Level::Unknown);
        // Below us nobody knows a level any more either.
        SendMessageToChildren(Body(Level{.m_level = Level::Unknown}));
    } else if (ItemPtr candidate = SocketItem(DNetParentCandidate, socket)) {
        Note(1, QStringLiteral("Parent candidate socket closed"));
        candidate.Remove();
    }
    DiscardSocket(socket);
}

// --- Children ---

void DNetManager::OnDNetConnectionRequested(std::string user, QTcpSocket* socket)
{
    Note(1, QStringLiteral("Child connection accepted from %1").arg(Text(user)));
    if (SocketItem(DNetChild, socket) || SocketItem(DNetParentCandidate, socket))
        return; // handed over twice; it is ours already
    ItemPtr userItem = User(user);
    if (ItemPtr old = userItem[DNetChild]) {
        Note(1, QStringLiteral("Child connection already found, closing old connection."));
        RemoveChild(old);
    }
    ItemPtr child = d.GetType(DNetChild)->NewItem(ObjectValue(socket));
    child.Connect(userItem);
    TakeSocket(socket, true);
    if (ItemPtr level = StateValue(State::Level))
        WriteFrame(socket, Body(Level{.m_level = level.AsInt()}));
    if (ItemPtr leader = StateValue(State::GroupLeader))
        WriteFrame(socket, Body(GroupLeader{.m_user = leader.AsString()}));
    DetermineChildDepth();
    DetermineCanParent();
    if (socket->bytesAvailable() > 0)
        OnChildSocketReadyToRead(socket);
}

void DNetManager::OnChildSocketReadyToRead(QTcpSocket* socket)
{
    ReadFrames(socket, "Message too long, closing child connection",
               &DNetManager::HandleChildMessage, &DNetManager::OnChildSocketClosed);
}

bool DNetManager::HandleChildMessage(QTcpSocket* socket, MemStream& body)
{
    unsigned char code = 0;
    if (!body.Read(code)) {
        Note(1, QStringLiteral("Error reading message code, closing child connection"));
        OnChildSocketClosed(socket);
        return false;
    }
    Note(1, QStringLiteral("Received message from child, code %1").arg(code));
    if (code != ChildDepth::Code)
        return true;
    ChildDepth message;
    ItemPtr child = SocketItem(DNetChild, socket);
    if (!message.Read(body) || !child) {
        Note(1, QStringLiteral("Error reading child depth, closing child connection"));
        OnChildSocketClosed(socket);
        return false;
    }
    const std::string user = child[ServerTypes::User].AsString();
    Note(1, QStringLiteral("Received child depth %1 from %2").arg(message.m_depth).arg(Text(user)));
    SetValue(child, DNetChildDepth, message.m_depth);
    DetermineChildDepth();
    return true;
}

void DNetManager::OnChildSocketClosed(QTcpSocket* socket)
{
    Note(1, QStringLiteral("Child socket closed"));
    ItemPtr child = SocketItem(DNetChild, socket);
    if (!child) {
        Note(1, QStringLiteral("Child socket item not found, aborting"));
        DiscardSocket(socket);
        return;
    }
    RemoveChild(child);
    // What the server knows of the tree below us and of our room for
    // children changes with every child that goes.
    DetermineChildDepth();
    DetermineCanParent();
}

void DNetManager::RemoveChild(ItemPtr child)
{
    auto* socket = ObjectFromItem<QTcpSocket>(child);
    child.Remove();
    DiscardSocket(socket);
}

// --- Sockets ---

void DNetManager::TakeSocket(QTcpSocket* socket, bool child)
{
    // From here the socket is ours: it goes when we give it up, or with us.
    socket->setParent(this);
    const auto read =
        child ? &DNetManager::OnChildSocketReadyToRead : &DNetManager::OnSocketReadyToRead;
    const auto closed = child ? &DNetManager::OnChildSocketClosed : &DNetManager::OnSocketClosed;
    connect(socket, &QTcpSocket::readyRead, this,
            [this, socket, read] { Guarded([&] { (this->*read)(socket); }); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket, closed] { Guarded([&] { (this->*closed)(socket); }); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket, closed] { Guarded([&] { (this->*closed)(socket); }); });
}

// Frames are taken whole or not at all: the length is peeked, and nothing
// leaves the socket before all of the body is there. That keeps no reading
// state per socket, which suits sockets that change roles and come and go.
DNetManager::FrameResult DNetManager::NextFrame(QTcpSocket* socket, MemStream& body)
{
    unsigned char header[4];
    if (socket->peek(reinterpret_cast<char*>(header), sizeof header) < qint64(sizeof header))
        return FrameResult::None;
    const std::uint32_t length = WireFormat::DecodeUInt32(header);
    if (length > MaxBodyLength)
        return FrameResult::Oversized;
    if (socket->bytesAvailable() < qint64(sizeof header) + length)
        return FrameResult::None;
    socket->read(reinterpret_cast<char*>(header), sizeof header);
    const int size = static_cast<int>(length);
    body.ReserveBufferCapacity(size);
    if (socket->read(body.GetWriteBuffer(), size) != size)
        return FrameResult::Oversized; // the device broke its promise: treat it as broken
    body.AdvanceWriteIndex(size);
    return FrameResult::Complete;
}

void DNetManager::WriteFrame(QTcpSocket* socket, const QByteArray& body)
{
    unsigned char header[4];
    WireFormat::EncodeUInt32(static_cast<std::uint32_t>(body.size()), header);
    socket->write(reinterpret_cast<const char*>(header), sizeof header);
    socket->write(body);
}

template <class Message> QByteArray DNetManager::Body(const Message& message)
{
    MemStream body;
    message.Write(body);
    return QByteArray(body.GetBuffer(), body.GetBufferLength());
}

void DNetManager::SendMessageToChildren(const QByteArray& body)
{
    for (Item* child : d.GetType(DNetChild)->GetItems())
        WriteFrame(ObjectFromItem<QTcpSocket>(child), body);
}

void DNetManager::DiscardSocket(QTcpSocket* socket)
{
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
