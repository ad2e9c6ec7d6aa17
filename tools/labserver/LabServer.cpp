#include "LabServer.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

#include "LabFlatSearch.h"
#include "LabLog.h"
#include "LabSession.h"
#include "LabTreeSearch.h"
#include "server/ServerMessages.h"
#include "streams/MemStream.h"

using namespace ServerMessages;

namespace {

constexpr int StatusOffline = 0;
constexpr int StatusAway = 1;
constexpr int StatusOnline = 2;
// The lab network has no geography; every online user reports the same code.
constexpr const char* CountryCode = "XX";
constexpr const char* Greeting = "Welcome to the Quorvale lab server.";

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

LabServer::LabServer(SearchMode mode, QObject* parent)
    : QObject(parent), m_server(new QTcpServer(this)),
      m_search(mode == SearchMode::Tree ? std::unique_ptr<LabSearchMode>(new LabTreeSearch)
                                        : std::unique_ptr<LabSearchMode>(new LabFlatSearch))
{
    connect(m_server, &QTcpServer::newConnection, this, &LabServer::OnNewConnection);
}

LabServer::~LabServer() = default;

bool LabServer::Listen(const QHostAddress& address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 LabServer::Port() const
{
    return m_server->serverPort();
}

QString LabServer::ErrorString() const
{
    return m_server->errorString();
}

void LabServer::GrantPrivileges(const std::string& user)
{
    m_accounts.GrantPrivileges(user, Now() + GrantedPrivileges);
}

void LabServer::MarkAway(const std::string& user)
{
    m_away.insert(user);
}

std::int64_t LabServer::Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

// --- Sessions and dispatch ---

void LabServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* session = new LabSession(socket, this);
        connect(session, &LabSession::MessageReceived, this, &LabServer::OnMessage);
        connect(session, &LabSession::Closed, this, &LabServer::OnSessionClosed);
        LabLog::Note(session->Name(), QStringLiteral("connected"));
    }
}

void LabServer::OnSessionClosed(LabSession* session)
{
    LabLog::Note(session->Name(), QStringLiteral("disconnected"));
    LogOut(*session);
    session->deleteLater();
}

const std::map<std::uint32_t, LabServer::Handler>& LabServer::Handlers()
{
    static const std::map<std::uint32_t, Handler> handlers = {
        {ToServer::Login::Code, &LabServer::OnLogin},
        {ToServer::SetWaitPort::Code, &LabServer::OnSetWaitPort},
        {ToServer::GetUserAddress::Code, &LabServer::OnGetUserAddress},
        {ToServer::AddUser::Code, &LabServer::OnAddUser},
        {ToServer::UntrackUser::Code, &LabServer::OnUntrackUser},
        {ToServer::GetUserStatus::Code, &LabServer::OnGetUserStatus},
        {ToServer::RoomChat::Code, &LabServer::OnRoomChat},
        {ToServer::EnterRoom::Code, &LabServer::OnEnterRoom},
        {ToServer::LeaveRoom::Code, &LabServer::OnLeaveRoom},
        {ToServer::IndirectConnectionRequest::Code, &LabServer::OnIndirectConnectionRequest},
        {ToServer::PrivateChat::Code, &LabServer::OnPrivateChat},
        {ToServer::AcknowledgePrivateChat::Code, &LabServer::OnAcknowledgePrivateChat},
        {ToServer::FileSearch::Code, &LabServer::OnFileSearch},
        {ToServer::SharedFilesFolders::Code, &LabServer::OnSharedFilesFolders},
        {ToServer::GetUserStats::Code, &LabServer::OnGetUserStats},
        {ToServer::GetRoomList::Code, &LabServer::OnGetRoomList},
        {ToServer::DNetHasParent::Code, &LabServer::OnDNetHasParent},
        {ToServer::GetOwnPrivilegesStatus::Code, &LabServer::OnGetOwnPrivilegesStatus},
        {ToServer::DNetCanParent::Code, &LabServer::OnIgnoredMessage<ToServer::DNetCanParent>},
        {ToServer::WishListSearch::Code, &LabServer::OnWishListSearch},
        {ToServer::UploadSpeed::Code, &LabServer::OnUploadSpeed},
        {ToServer::DNetLevel::Code, &LabServer::OnIgnoredMessage<ToServer::DNetLevel>},
        {ToServer::DNetGroupLeader::Code, &LabServer::OnIgnoredMessage<ToServer::DNetGroupLeader>},
        {ToServer::ChildDepth::Code, &LabServer::OnIgnoredMessage<ToServer::ChildDepth>},
        {ToServer::CantConnectToPeer::Code, &LabServer::OnCantConnectToPeer},
    };
    return handlers;
}

void LabServer::OnMessage(LabSession* session, std::uint32_t code, MemStream& body, bool& accepted)
{
    const auto& handlers = Handlers();
    auto handler = handlers.find(code);
    if (handler == handlers.end()) {
        LabLog::Note(session->Name(), QStringLiteral("ignored unknown code %1").arg(code));
        return;
    }
    // Nothing but a login means anything before the client has logged in.
    if (!session->IsLoggedIn() && code != ToServer::Login::Code) {
        LabLog::Note(session->Name(), QStringLiteral("ignored code %1 before login").arg(code));
        return;
    }
    accepted = (this->*handler->second)(*session, body);
}

template <class Message> bool LabServer::OnIgnoredMessage(LabSession& session, MemStream& body)
{
    Message message;
    if (!message.Read(body))
        return false;
    LabLog::Note(session.Name(), QStringLiteral("ignored code %1").arg(Message::Code));
    return true;
}

// --- Login and logout ---

bool LabServer::OnLogin(LabSession& session, MemStream& body)
{
    ToServer::Login login;
    if (!login.Read(body))
        return false;
    if (session.IsLoggedIn()) {
        LabLog::Note(session.Name(), QStringLiteral("ignored a second login"));
        return true;
    }
    switch (m_accounts.Login(login.m_user, login.m_password)) {
    case LabAccounts::LoginResult::InvalidName:
        RefuseLogin(session, "INVALIDUSERNAME");
        return true;
    case LabAccounts::LoginResult::WrongPassword:
        RefuseLogin(session, "INVALIDPASS");
        return true;
    case LabAccounts::LoginResult::Created:
        LabLog::Note(Text(login.m_user), QStringLiteral("account created"));
        break;
    case LabAccounts::LoginResult::Accepted:
        break;
    }
    // Clients are expected to get the digest right, but the lab server exists
    // to find client faults, so a wrong one is worth a line, not a refusal.
    if (login.m_digest != ToServer::Login::Digest(login.m_user, login.m_password))
        LabLog::Note(Text(login.m_user), QStringLiteral("login digest does not match"));
    session.SetUser(login.m_user);
    AcceptLogin(session, login.m_digest);
    return true;
}

void LabServer::RefuseLogin(LabSession& session, const char* reason)
{
    LabLog::Note(session.Name(), QStringLiteral("login refused: %1").arg(QLatin1String(reason)));
    FromServer::LoginReply reply;
    reply.m_success = false;
    reply.m_reason = reason;
    session.SendMessage(reply);
    session.Close();
}

void LabServer::AcceptLogin(LabSession& session, const std::string& digest)
{
    // A user is online once: the newer login wins and the older connection is
    // logged out and closed, as if it had gone away.
    if (LabSession* previous = OnlineSession(session.User())) {
        LabLog::Note(session.Name(), QStringLiteral("replaces its previous session"));
        LogOut(*previous);
        previous->Close();
    }
    m_online[session.User()] = &session;
    LabLog::Note(session.Name(), QStringLiteral("logged in"));

    FromServer::LoginReply reply;
    reply.m_success = true;
    reply.m_unusedText = Greeting;
    reply.m_unusedNumber = session.Address();
    reply.m_unusedTrailer = digest;
    session.SendMessage(reply);
    SendWelcome(session);
    DeliverQueuedMessages(session);
    PushStatus(session.User());
    m_search->LoggedIn(session, m_online);
}

void LabServer::SendWelcome(LabSession& session)
{
    FromServer::WishListWait wishList;
    wishList.m_value = WishListPeriod;
    session.SendMessage(wishList);
    FromServer::DNetParentMinSpeed minSpeed;
    minSpeed.m_value = ParentMinSpeed;
    session.SendMessage(minSpeed);
    FromServer::DNetParentSpeedConnectionRatio ratio;
    ratio.m_value = ParentSpeedConnectionRatio;
    session.SendMessage(ratio);
    FromServer::PrivilegedUsers privileged;
    privileged.m_users = m_accounts.PrivilegedUsers(Now());
    session.SendMessage(privileged);
}

void LabServer::LogOut(LabSession& session)
{
    auto online = m_online.find(session.User());
    if (online == m_online.end() || online->second != &session)
        return;
    m_online.erase(online);
    for (const std::string& room : m_rooms.RoomsOf(session.User()))
        LeaveRoom(room, session);
    PushStatus(session.User());
    LabLog::Note(session.Name(), QStringLiteral("logged out"));
    m_search->LoggedOut(session, m_online);
}

LabSession* LabServer::OnlineSession(const std::string& user) const
{
    auto found = m_online.find(user);
    return found == m_online.end() ? nullptr : found->second;
}

// --- Status of other users ---

bool LabServer::OnAddUser(LabSession& session, MemStream& body)
{
    ToServer::AddUser request;
    if (!request.Read(body))
        return false;
    // Watching is remembered even for a user nobody has heard of yet, so
    // the watcher learns when that name first logs in.
    session.Watch(request.m_user);
    FromServer::AddUserReply reply;
    reply.m_user = request.m_user;
    reply.m_exists = m_accounts.Exists(request.m_user);
    reply.m_status = StatusOf(request.m_user);
    reply.m_stats = m_accounts.Stats(request.m_user);
    reply.m_countryCode = reply.m_status > StatusOffline ? CountryCode : "";
    session.SendMessage(reply);
    return true;
}

bool LabServer::OnUntrackUser(LabSession& session, MemStream& body)
{
    ToServer::UntrackUser request;
    if (!request.Read(body))
        return false;
    session.Unwatch(request.m_user);
    return true;
}

bool LabServer::OnGetUserStatus(LabSession& session, MemStream& body)
{
    ToServer::GetUserStatus request;
    if (!request.Read(body))
        return false;
    FromServer::UserStatus reply;
    reply.m_user = request.m_user;
    reply.m_status = StatusOf(request.m_user);
    reply.m_privileged = IsPrivileged(request.m_user);
    session.SendMessage(reply);
    return true;
}

void LabServer::PushStatus(const std::string& user)
{
    FromServer::UserStatus status;
    status.m_user = user;
    status.m_status = StatusOf(user);
    status.m_privileged = IsPrivileged(user);
    for (const auto& [name, watcher] : m_online) {
        if (watcher->IsWatching(user))
            watcher->SendMessage(status);
    }
}

int LabServer::StatusOf(const std::string& user) const
{
    if (!m_online.contains(user))
        return StatusOffline;
    return m_away.contains(user) ? StatusAway : StatusOnline;
}

bool LabServer::IsPrivileged(const std::string& user) const
{
    return m_accounts.PrivilegesLeft(user, Now()) > 0;
}

// --- Rooms ---

bool LabServer::OnEnterRoom(LabSession& session, MemStream& body)
{
    ToServer::EnterRoom request;
    if (!request.Read(body))
        return false;
    if (request.m_room.empty())
        return true;
    const bool joined = m_rooms.Join(request.m_room, session.User());
    SendRoomEntered(session, request.m_room);
    if (joined)
        AnnounceJoin(request.m_room, session.User());
    return true;
}

void LabServer::SendRoomEntered(LabSession& session, const std::string& room)
{
    FromServer::RoomEntered reply;
    reply.m_room = room;
    for (const std::string& member : m_rooms.Members(room)) {
        reply.m_users.push_back(member);
        reply.m_unusedNumbers1.push_back(StatusOf(member));
        reply.m_stats.push_back(m_accounts.Stats(member));
        reply.m_unusedNumbers2.push_back(0);
        reply.m_countryCodes.push_back(CountryCode);
    }
    session.SendMessage(reply);
}

void LabServer::AnnounceJoin(const std::string& room, const std::string& user)
{
    FromServer::UserJoinedRoom joined;
    joined.m_room = room;
    joined.m_user = user;
    joined.m_unusedNumber1 = StatusOf(user);
    joined.m_stats = m_accounts.Stats(user);
    joined.m_countryCode = CountryCode;
    MemStream body;
    joined.Write(body);
    SendToRoom(room, body, user);
}

bool LabServer::OnLeaveRoom(LabSession& session, MemStream& body)
{
    ToServer::LeaveRoom request;
    if (!request.Read(body))
        return false;
    if (!m_rooms.IsMember(request.m_room, session.User()))
        return true;
    FromServer::RoomLeft reply;
    reply.m_room = request.m_room;
    session.SendMessage(reply);
    LeaveRoom(request.m_room, session);
    return true;
}

void LabServer::LeaveRoom(const std::string& room, LabSession& session)
{
    if (!m_rooms.Leave(room, session.User()))
        return;
    FromServer::UserLeftRoom left;
    left.m_room = room;
    left.m_user = session.User();
    MemStream body;
    left.Write(body);
    SendToRoom(room, body, session.User());
}

bool LabServer::OnRoomChat(LabSession& session, MemStream& body)
{
    ToServer::RoomChat request;
    if (!request.Read(body))
        return false;
    if (!m_rooms.IsMember(request.m_room, session.User())) {
        LabLog::Note(session.Name(),
                     QStringLiteral("chat outside room %1 dropped").arg(Text(request.m_room)));
        return true;
    }
    FromServer::RoomChat chat;
    chat.m_room = request.m_room;
    chat.m_user = session.User();
    chat.m_text = request.m_text;
    MemStream out;
    chat.Write(out);
    SendToRoom(request.m_room, out, std::string());
    return true;
}

void LabServer::SendToRoom(const std::string& room, const MemStream& body,
                           const std::string& except)
{
    for (const std::string& member : m_rooms.Members(room)) {
        LabSession* session = OnlineSession(member);
        if (session && member != except)
            session->Send(body);
    }
}

bool LabServer::OnGetRoomList(LabSession& session, MemStream& body)
{
    ToServer::GetRoomList request;
    if (!request.Read(body))
        return false;
    FromServer::RoomList reply;
    for (const auto& [room, count] : m_rooms.Counts()) {
        reply.m_names[0].push_back(room);
        reply.m_counts[0].push_back(count);
    }
    session.SendMessage(reply);
    return true;
}

// --- Private messages ---

bool LabServer::OnPrivateChat(LabSession& session, MemStream& body)
{
    ToServer::PrivateChat request;
    if (!request.Read(body))
        return false;
    if (!LabAccounts::IsValidName(request.m_user)) {
        LabLog::Note(session.Name(), QStringLiteral("private message to an invalid name dropped"));
        return true;
    }
    const auto time = static_cast<std::uint32_t>(Now());
    const LabMessageQueue::Message& message =
        m_messages.Add(session.User(), request.m_user, request.m_text, time);
    if (LabSession* target = OnlineSession(request.m_user))
        Deliver(*target, message, true);
    return true;
}

// The flag tells a message sent just now (true) from one delivered again
// from the queue at login (false).
void LabServer::Deliver(LabSession& session, const LabMessageQueue::Message& message, bool isNew)
{
    FromServer::PrivateChat chat;
    chat.m_id = message.m_id;
    chat.m_time = message.m_time;
    chat.m_user = message.m_from;
    chat.m_text = message.m_text;
    chat.m_flag = isNew;
    session.SendMessage(chat);
}

void LabServer::DeliverQueuedMessages(LabSession& session)
{
    for (const LabMessageQueue::Message& message : m_messages.PendingFor(session.User()))
        Deliver(session, message, false);
}

bool LabServer::OnAcknowledgePrivateChat(LabSession& session, MemStream& body)
{
    ToServer::AcknowledgePrivateChat request;
    if (!request.Read(body))
        return false;
    if (!m_messages.Acknowledge(session.User(), request.m_value))
        LabLog::Note(session.Name(),
                     QStringLiteral("acknowledged unknown message %1").arg(request.m_value));
    return true;
}

// --- Privileges and statistics ---

bool LabServer::OnGetOwnPrivilegesStatus(LabSession& session, MemStream& body)
{
    ToServer::GetOwnPrivilegesStatus request;
    if (!request.Read(body))
        return false;
    FromServer::OwnPrivilegesStatus reply;
    reply.m_value = m_accounts.PrivilegesLeft(session.User(), Now());
    session.SendMessage(reply);
    return true;
}

bool LabServer::OnSharedFilesFolders(LabSession& session, MemStream& body)
{
    ToServer::SharedFilesFolders request;
    if (!request.Read(body))
        return false;
    m_accounts.SetSharedCounts(session.User(), static_cast<int>(request.m_folders),
                               static_cast<int>(request.m_files));
    return true;
}

bool LabServer::OnUploadSpeed(LabSession& session, MemStream& body)
{
    ToServer::UploadSpeed request;
    if (!request.Read(body))
        return false;
    m_accounts.AddUploadSpeed(session.User(), static_cast<int>(request.m_value));
    return true;
}

bool LabServer::OnGetUserStats(LabSession& session, MemStream& body)
{
    ToServer::GetUserStats request;
    if (!request.Read(body))
        return false;
    FromServer::UserStatsReply reply;
    reply.m_user = request.m_user;
    reply.m_stats = m_accounts.Stats(request.m_user);
    session.SendMessage(reply);
    return true;
}

// --- Addresses and brokered connections ---

bool LabServer::OnSetWaitPort(LabSession& session, MemStream& body)
{
    ToServer::SetWaitPort request;
    if (!request.Read(body))
        return false;
    const bool hasObfuscatedPort =
        request.m_obfuscationType ==
            static_cast<unsigned int>(FromServer::UserAddress::ObfuscationTypeWithPort) &&
        request.m_obfuscatedPort != 0;
    session.SetPorts(static_cast<int>(request.m_port),
                     hasObfuscatedPort ? static_cast<int>(request.m_obfuscatedPort) : 0);
    m_search->PortsAnnounced(session, m_online);
    return true;
}

bool LabServer::OnGetUserAddress(LabSession& session, MemStream& body)
{
    ToServer::GetUserAddress request;
    if (!request.Read(body))
        return false;
    FromServer::UserAddress reply;
    reply.m_user = request.m_user;
    if (const LabSession* target = OnlineSession(request.m_user)) {
        reply.m_address = target->Address();
        reply.m_port = target->Port();
        if (target->ObfuscatedPort() != 0) {
            reply.m_obfuscationType = FromServer::UserAddress::ObfuscationTypeWithPort;
            reply.m_obfuscatedPort = target->ObfuscatedPort();
        }
    }
    session.SendMessage(reply);
    return true;
}

bool LabServer::OnIndirectConnectionRequest(LabSession& session, MemStream& body)
{
    ToServer::IndirectConnectionRequest request;
    if (!request.Read(body))
        return false;
    LabSession* target = OnlineSession(request.m_user);
    if (!target) {
        // Nobody can answer: say so at once instead of letting the asker wait.
        FromServer::IndirectConnectionFailure failure;
        failure.m_value = request.m_token;
        session.SendMessage(failure);
        return true;
    }
    FromServer::PeerConnectionRequest relay;
    relay.m_user = session.User();
    relay.m_type = request.m_type;
    relay.m_address = session.Address();
    relay.m_port = session.Port();
    relay.m_token = request.m_token;
    relay.m_privileged = IsPrivileged(session.User());
    if (session.ObfuscatedPort() != 0) {
        relay.m_obfuscationType = FromServer::UserAddress::ObfuscationTypeWithPort;
        relay.m_obfuscatedPort = session.ObfuscatedPort();
    }
    target->SendMessage(relay);
    return true;
}

bool LabServer::OnCantConnectToPeer(LabSession& session, MemStream& body)
{
    ToServer::CantConnectToPeer request;
    if (!request.Read(body))
        return false;
    LabSession* asker = OnlineSession(request.m_user);
    if (!asker) {
        LabLog::Note(session.Name(),
                     QStringLiteral("connection failure for an offline user dropped"));
        return true;
    }
    FromServer::IndirectConnectionFailure failure;
    failure.m_value = request.m_token;
    asker->SendMessage(failure);
    return true;
}

// --- Searches ---

bool LabServer::OnFileSearch(LabSession& session, MemStream& body)
{
    ToServer::FileSearch request;
    if (!request.Read(body))
        return false;
    m_search->Relay(session, request.m_token, request.m_text, m_online);
    return true;
}

bool LabServer::OnWishListSearch(LabSession& session, MemStream& body)
{
    ToServer::WishListSearch request;
    if (!request.Read(body))
        return false;
    m_search->Relay(session, request.m_token, request.m_text, m_online);
    return true;
}

bool LabServer::OnDNetHasParent(LabSession& session, MemStream& body)
{
    ToServer::DNetHasParent report;
    if (!report.Read(body))
        return false;
    m_search->HasParent(session, report.m_value, m_online);
    return true;
}
