#include "server/Server.h"

#include <QMetaType>
#include <QTcpSocket>
#include <QTimer>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/Settings.h"
#include "base/SettingsTypes.h"
#include "base/TimerManager.h"
#include "peers/PeerTypes.h"
#include "search/SearchTypes.h"
#include "server/ServerAddress.h"
#include "server/ServerMessages.h"
#include "server/ServerSchema.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "upnp/PortForwarder.h"

Server* gp_server = nullptr;

namespace {

namespace In = ServerMessages::FromServer;
namespace Out = ServerMessages::ToServer;

ItemPtr User(const std::string& name)
{
    return d.GetType(ServerTypes::User)->GetItem(name);
}

ItemPtr Room(const std::string& name)
{
    return d.GetType(ServerTypes::Room)->GetItem(name);
}

// An existing item only: handlers that merely take something away never
// create the user or room they talk about.
ItemPtr Existing(const char* typeName, const std::string& value)
{
    return d.GetType(typeName)->HasItem(value);
}

// Replaces the item's one value of the type.
void SetValue(ItemPtr item, const char* typeName, const Value& value)
{
    item.Connect(d.GetType(typeName)->GetItem(value));
}

void SetFlag(ItemPtr item, const char* flagTypeName, bool on)
{
    if (on)
        item.NewItem(flagTypeName);
    else if (item.IsConnected(flagTypeName))
        item.Disconnect(flagTypeName);
}

// The items of a type that carry the flag, sorted by value, so the requests
// built from them go out in a stable order.
std::list<Item*> Flagged(const char* flagTypeName, const char* typeName)
{
    ItemSet flagged;
    for (Item* flag : d.GetType(flagTypeName)->GetItems())
        flagged.Add(ItemPtr(flag).GetItems(typeName));
    return flagged.SortAlphabetic(true);
}

bool SettingExists(const char* key)
{
    return bool(d.GetType(SettingsTypes::Global)->HasItem(key));
}

void SetUserAddress(ItemPtr user, unsigned int address, int port, int obfuscationType,
                    int obfuscatedPort)
{
    // The peer layer waits for all three; the obfuscated port comes last.
    SetValue(user, PeerTypes::UserAddress, address);
    SetValue(user, PeerTypes::UserPort, port);
    const bool hasObfuscatedPort = obfuscationType == In::UserAddress::ObfuscationTypeWithPort;
    SetValue(user, PeerTypes::UserObfuscatedPort, hasObfuscatedPort ? obfuscatedPort : 0);
}

void SetUserStats(ItemPtr user, const UserStats& stats)
{
    SetValue(user, ServerTypes::AverageDownloadSpeed, stats.m_averageSpeed);
    SetValue(user, ServerTypes::SharedFilesCount, stats.m_sharedFiles);
}

} // namespace

Server::Server()
    : m_socket(new QTcpSocket(this)),
      m_portForwarder(std::make_unique<PortForwarder>(ServerAddress::Current().Host())),
      m_reader(MaxBodyLength)
{
    gp_server = this;
    qRegisterMetaType<std::string>("std::string");
    qRegisterMetaType<UserStats>("UserStats");

    connect(m_socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);
    if (timerManager) {
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &Server::AttemptReconnect);
        connect(timerManager->everyHour(), &QTimer::timeout, this, &Server::RenewPortMapping);
    }
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

Server::~Server()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    // Going away is not a lost connection: nothing may react to this close.
    m_socket->disconnect(this);
    m_socket->abort();
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::CreateData()
{
    ServerSchema::DeclareSchema(*dataSaver);
}

void Server::DataLoaded()
{
    if (!SettingExists("use_upnp"))
        Settings::SetYes("use_upnp", true);
}

void Server::Connect()
{
    if (m_state != StateDisconnected || Settings::Get("username").empty())
        return;
    // Whatever is left of an earlier connection goes before the new one
    // starts; a close still owed to Disconnect is consumed here.
    m_socket->abort();
    m_disconnectRequested = false;
    m_reader.Reset();

    m_state = StateConnecting;
    emit Connecting();
    const ServerAddress address = ServerAddress::Current();
    m_socket->connectToHost(address.Host(), address.Port(), QIODevice::ReadWrite);
    // Discovery runs on the forwarder's thread while we connect, so the
    // gateway is known by the time the login is answered.
    m_portForwarder->SetServerHost(address.Host());
    if (Settings::IsYes("use_upnp"))
        m_portForwarder->Init();
}

void Server::Disconnect()
{
    if (m_state != StateLoggedIn)
        return;
    OnDisconnected();
    m_disconnectRequested = true;
    m_abruptlyDisconnected = false;
    m_socket->close();
}

void Server::SendMessage(MemStream& body, bool evenIfNotLoggedIn)
{
    const bool allowed =
        m_state == StateLoggedIn || (evenIfNotLoggedIn && m_state == StateConnecting);
    if (!allowed)
        return;
    const MemStream frame = Frame(body);
    m_socket->write(frame.GetBuffer(), frame.GetBufferLength());
}

template <class Message> void Server::Send(const Message& message)
{
    MemStream body;
    message.Write(body);
    SendMessage(body);
}

void Server::AttemptReconnect()
{
    if (m_abruptlyDisconnected)
        Connect();
}

void Server::RenewPortMapping()
{
    if (m_state != StateLoggedIn || !Settings::IsYes("use_upnp"))
        return;
    Log(LogCategory::Server, 1, QStringLiteral("Renewing UPnP port mapping."));
    MapListeningPorts();
}

void Server::MapListeningPorts()
{
    // Gateways forget mappings when they restart, so these are asked for
    // again after every login and every hour, whether or not they exist.
    const long long port = Settings::GetInt("listening_port", 0);
    if (port > 0)
        m_portForwarder->AddPortMapping(m_socket, int(port));
    const long long obfuscatedPort = Settings::GetInt("obfuscated_listening_port", 0);
    if (obfuscatedPort > 0)
        m_portForwarder->AddPortMapping(m_socket, int(obfuscatedPort));
}

void Server::OnConnected()
{
    if (!SettingExists("username"))
        Settings::Set("username", DefaultUsername);
    if (!SettingExists("password"))
        Settings::Set("password", DefaultPassword);

    Out::Login login;
    login.m_user = Settings::Get("username");
    login.m_password = Settings::Get("password");
    login.m_digest = Out::Login::Digest(login.m_user, login.m_password);
    MemStream body;
    login.Write(body);
    SendMessage(body, true);
    // From here a refusal is final: a refused login is never retried.
    m_abruptlyDisconnected = false;
}

void Server::OnConnectedToServer()
{
    EnterAutojoinRooms();
    if (Settings::IsYes("use_upnp"))
        MapListeningPorts();
    RepeatForgottenRequests();
}

void Server::EnterAutojoinRooms()
{
    if (!m_firstLogin)
        return;
    m_firstLogin = false;
    for (Item* room : Flagged(ServerTypes::RoomAutojoin, ServerTypes::Room))
        EnterRoom(room->AsString());
}

void Server::RepeatForgottenRequests()
{
    // The server forgets watched users and pending address requests with
    // the connection.
    for (Item* user : Flagged(ServerTypes::IsTracked, ServerTypes::User))
        AddUser(user->AsString());
    for (Item* user : Flagged(ServerTypes::UserAddressRequest, ServerTypes::User)) {
        Send(Out::GetUserAddress{.m_user = user->AsString()});
    }
}

void Server::OnDisconnected()
{
    m_state = StateDisconnected;
    emit Disconnected();
    for (Item* flag : d.GetType(ServerTypes::IsOnline)->GetItems())
        flag->Disconnect(ServerTypes::User);
}

void Server::OnSocketError(QAbstractSocket::SocketError)
{
    OnSocketClosed();
}

void Server::OnSocketClosed()
{
    if (m_disconnectRequested) {
        m_disconnectRequested = false;
        return;
    }
    if (m_state == StateConnecting) {
        emit ConnectionFailed(SocketErrorReason);
        OnDisconnected();
    } else if (m_state == StateLoggedIn) {
        m_abruptlyDisconnected = true;
        OnDisconnected();
    }
}

void Server::OnSocketReadyToRead()
{
    MemStream body;
    FrameReader::Result result;
    while ((result = m_reader.Next(*m_socket, body)) == FrameReader::Complete) {
        unsigned int code = 0;
        body.Read(code);
        try {
            HandleMessage(code, body);
        } catch (...) {
            // A store misuse in some handler of what we changed must not
            // unwind through the event loop; the message is lost, the
            // connection stays.
            DiscardCurrentStoreException();
            Log(LogCategory::Server, 1,
                QStringLiteral("Failed to handle server message %1").arg(code));
        }
    }
    if (result == FrameReader::Oversized) {
        // Nothing after a frame of impossible length can be trusted: the
        // connection ends as if the socket had failed.
        Log(LogCategory::Server, 1,
            QStringLiteral("Server sent an oversized message, disconnecting"));
        OnSocketClosed();
        m_socket->abort();
    }
}

void Server::HandleMessage(unsigned int code, MemStream& body)
{
    if (m_state == StateDisconnected)
        return;
    switch (code) {
    case In::LoginReply::Code:
        return HandleLoginReply(body);
    case In::UserAddress::Code:
        return HandleUserAddress(body);
    case In::AddUserReply::Code:
        return HandleAddUserReply(body);
    case In::UserStatus::Code:
        return HandleUserStatus(body);
    case In::RoomChat::Code:
        return HandleRoomChat(body);
    case In::RoomEntered::Code:
        return HandleRoomEntered(body);
    case In::RoomLeft::Code:
        return HandleRoomLeft(body);
    case In::UserJoinedRoom::Code:
        return HandleUserJoinedRoom(body);
    case In::UserLeftRoom::Code:
        return HandleUserLeftRoom(body);
    case In::PeerConnectionRequest::Code:
        return HandlePeerConnectionRequest(body);
    case In::PrivateChat::Code:
        return HandlePrivateChat(body);
    case In::UserStatsReply::Code:
        return HandleUserStats(body);
    case In::RoomList::Code:
        return HandleRoomList(body);
    case In::PrivilegedUsers::Code:
        return HandlePrivilegedUsers(body);
    case In::DNetParentMinSpeed::Code:
        return EmitValue<In::DNetParentMinSpeed>(body, &Server::DNetParentMinSpeed);
    case In::DNetParentSpeedConnectionRatio::Code:
        return EmitValue<In::DNetParentSpeedConnectionRatio>(
            body, &Server::DNetParentSpeedConnectionRatio);
    case In::OwnPrivilegesStatus::Code:
        return HandleOwnPrivilegesStatus(body);
    case In::DNetMessage::Code:
        emit DNetMessage(body);
        return;
    case In::PossibleParents::Code:
        return HandlePossibleParents(body);
    case In::WishListWait::Code:
        return EmitValue<In::WishListWait>(body, &Server::WishListWait);
    case In::DNetDeliveryReport::Code:
        return EmitValue<In::DNetDeliveryReport>(body, &Server::DNetDeliveryReport);
    case In::DNetReset::Code:
        emit DNetReset();
        return;
    case In::IndirectConnectionFailure::Code:
        return EmitValue<In::IndirectConnectionFailure>(body,
                                                        &Server::IndirectPeerConnectionFailure);
    default:
        return; // unknown codes are ignored
    }
}

template <class Message, class Signal> void Server::EmitValue(MemStream& body, Signal signal)
{
    Message message;
    message.Read(body);
    emit(this->*signal)(message.m_value);
}

void Server::HandleLoginReply(MemStream& body)
{
    // A late or repeated answer cannot change an established state.
    if (m_state != StateConnecting)
        return;
    In::LoginReply reply;
    reply.Read(body);
    if (!reply.m_success) {
        // The state changes first: a receiver showing the reason may run an
        // event loop of its own, in which the server's hang-up must not be
        // taken for a second failure.
        m_state = StateDisconnected;
        emit ConnectionFailed(reply.m_reason);
        m_socket->close();
        return;
    }
    m_state = StateLoggedIn;
    emit Connected();
    OnConnectedToServer();
}

void Server::HandleUserAddress(MemStream& body)
{
    In::UserAddress message;
    message.Read(body);
    ItemPtr user = User(message.m_user);
    SetUserAddress(user, message.m_address, message.m_port, message.m_obfuscationType,
                   message.m_obfuscatedPort);
    SetFlag(user, ServerTypes::UserAddressRequest, false);
}

void Server::HandleAddUserReply(MemStream& body)
{
    In::AddUserReply message;
    message.Read(body);
    emit AddUserResponse(message.m_user, message.m_exists);
    if (!message.m_exists)
        return;
    ItemPtr user = User(message.m_user);
    const bool online = message.m_status >= 1;
    SetFlag(user, ServerTypes::IsOnline, online);
    if (online)
        SetValue(user, ServerTypes::CountryCode, message.m_countryCode);
}

void Server::HandleUserStatus(MemStream& body)
{
    In::UserStatus message;
    message.Read(body);
    ItemPtr user = User(message.m_user);
    SetFlag(user, ServerTypes::IsOnline, message.m_status >= 1);
    // Privileges run out on their own schedule; this message only grants.
    if (message.m_privileged)
        SetFlag(user, ServerTypes::IsPrivileged, true);
}

void Server::HandleRoomChat(MemStream& body)
{
    In::RoomChat message;
    message.Read(body);
    emit RoomChat(message.m_room, message.m_user, message.m_text);
}

void Server::HandleRoomEntered(MemStream& body)
{
    In::RoomEntered message;
    message.Read(body);
    ItemPtr room = Room(message.m_room);
    if (message.m_hasOwner) {
        room.NewItem(ServerTypes::RoomOwner).Connect(User(message.m_owner));
        // The old operator links are taken apart entirely: left connected to
        // their users they would outlive every collection.
        room.GetItems(ServerTypes::RoomOperator).Remove();
        for (const std::string& name : message.m_operators)
            room.NewItem(ServerTypes::RoomOperator).Connect(User(name));
    }
    room.NewItem(ServerTypes::InRoom);
    room.Disconnect(ServerTypes::User);

    auto stats = message.m_stats.begin();
    auto country = message.m_countryCodes.begin();
    for (const std::string& name : message.m_users) {
        ItemPtr user = User(name);
        room.Connect(user);
        if (stats != message.m_stats.end())
            SetUserStats(user, *stats++);
        if (country != message.m_countryCodes.end())
            SetValue(user, ServerTypes::CountryCode, *country++);
    }
}

void Server::HandleRoomLeft(MemStream& body)
{
    In::RoomLeft message;
    message.Read(body);
    ItemPtr room = Existing(ServerTypes::Room, message.m_room);
    if (!room || !room.IsConnected(ServerTypes::InRoom))
        return;
    room.Disconnect(ServerTypes::InRoom);
    room.Disconnect(ServerTypes::User);
}

void Server::HandleUserJoinedRoom(MemStream& body)
{
    In::UserJoinedRoom message;
    message.Read(body);
    ItemPtr user = User(message.m_user);
    Room(message.m_room).Connect(user);
    SetUserStats(user, message.m_stats);
    SetValue(user, ServerTypes::CountryCode, message.m_countryCode);
}

void Server::HandleUserLeftRoom(MemStream& body)
{
    In::UserLeftRoom message;
    message.Read(body);
    ItemPtr room = Existing(ServerTypes::Room, message.m_room);
    ItemPtr user = Existing(ServerTypes::User, message.m_user);
    if (room && user && room.IsConnected(user))
        room.Disconnect(user);
}

void Server::HandlePeerConnectionRequest(MemStream& body)
{
    In::PeerConnectionRequest message;
    message.Read(body);
    ItemPtr user = User(message.m_user);
    // The address goes in before the request exists, so the peer layer,
    // which acts as soon as a request with an addressed user is complete,
    // never sees the user's previous address.
    SetUserAddress(user, message.m_address, message.m_port, message.m_obfuscationType,
                   message.m_obfuscatedPort);
    if (message.m_privileged)
        SetFlag(user, ServerTypes::IsPrivileged, true);

    ItemPtr request = d.GetType(PeerTypes::PeerConnectionRequest)->NewItem();
    SetValue(request, PeerTypes::PeerConnectionRequestId, message.m_token);
    SetValue(request, PeerTypes::PeerConnectionType, message.m_type);
    request.Connect(user);
}

void Server::HandlePrivateChat(MemStream& body)
{
    In::PrivateChat message;
    message.Read(body);
    Send(Out::AcknowledgePrivateChat{.m_value = message.m_id});
    emit PrivateChat(message.m_user, message.m_text, message.m_time, message.m_flag);
    if (message.m_text.find(PrivilegesHint) != std::string::npos)
        GetOwnPrivilegesStatus();
}

void Server::HandleUserStats(MemStream& body)
{
    In::UserStatsReply message;
    message.Read(body);
    emit ReceivedUserStats(message.m_user, message.m_stats);
}

void Server::HandleRoomList(MemStream& body)
{
    In::RoomList message;
    message.Read(body);
    for (int group = 0; group < In::RoomList::Groups; ++group) {
        // Names lead; a name without a count is left as it is.
        auto count = message.m_counts[group].begin();
        for (const std::string& name : message.m_names[group]) {
            if (count == message.m_counts[group].end())
                break;
            SetValue(Room(name), ServerTypes::UserCount, *count++);
        }
    }
}

void Server::HandlePrivilegedUsers(MemStream& body)
{
    In::PrivilegedUsers message;
    message.Read(body);
    for (const std::string& name : message.m_users)
        SetFlag(User(name), ServerTypes::IsPrivileged, true);
}

void Server::HandleOwnPrivilegesStatus(MemStream& body)
{
    In::OwnPrivilegesStatus message;
    message.Read(body);
    Settings::Set("privileges_time_left", message.m_value);
    emit ReceivedOwnPrivilegesStatus(message.m_value);
}

void Server::HandlePossibleParents(MemStream& body)
{
    In::PossibleParents message;
    message.Read(body);
    emit DNetPossibleParents(message.m_parents);
}

void Server::SetWaitPort(unsigned int port, unsigned int obfuscatedPort)
{
    Send(Out::SetWaitPort{.m_port = port, .m_obfuscatedPort = obfuscatedPort});
}

void Server::GetUserAddress(const std::string& user)
{
    ItemPtr userItem = User(user);
    if (userItem.IsConnected(ServerTypes::UserAddressRequest))
        return;
    Send(Out::GetUserAddress{.m_user = user});
    SetFlag(userItem, ServerTypes::UserAddressRequest, true);
}

void Server::AddUser(const std::string& user)
{
    Send(Out::AddUser{.m_user = user});
}

void Server::TrackUser(const std::string& user)
{
    ItemPtr userItem = User(user);
    if (userItem.IsConnected(ServerTypes::IsTracked))
        return;
    SetFlag(userItem, ServerTypes::IsTracked, true);
    AddUser(user);
}

void Server::UntrackUser(const std::string& user)
{
    ItemPtr userItem = Existing(ServerTypes::User, user);
    if (!userItem || !userItem.IsConnected(ServerTypes::IsTracked))
        return;
    SetFlag(userItem, ServerTypes::IsTracked, false);
    Send(Out::UntrackUser{.m_user = user});
}

void Server::GetUserStatus(const std::string& user)
{
    Send(Out::GetUserStatus{.m_user = user});
}

void Server::SendRoomChat(const std::string& room, const std::string& text)
{
    Send(Out::RoomChat{.m_room = room, .m_text = text});
}

void Server::EnterRoom(const std::string& room)
{
    Send(Out::EnterRoom{.m_room = room});
}

void Server::LeaveRoom(const std::string& room)
{
    ItemPtr roomItem = Existing(ServerTypes::Room, room);
    if (!roomItem || !roomItem.IsConnected(ServerTypes::InRoom))
        return;
    Send(Out::LeaveRoom{.m_room = room});
}

unsigned int Server::SendIndirectConnectionRequest(const std::string& user, const std::string& type)
{
    const unsigned int token = m_nextIndirectToken++;
    Send(Out::IndirectConnectionRequest{.m_token = token, .m_user = user, .m_type = type});
    Log(LogCategory::Server, 1,
        QStringLiteral("Sent indirect connection request to %1").arg(QString::fromStdString(user)));
    return token;
}

void Server::SendPrivateChat(const std::string& user, const std::string& text)
{
    Send(Out::PrivateChat{.m_user = user, .m_text = text});
}

unsigned int Server::FileSearch(const std::string& text, bool wishList)
{
    const unsigned int token = m_nextSearchToken++;
    if (wishList)
        Send(Out::WishListSearch{.m_token = token, .m_text = text});
    else
        Send(Out::FileSearch{.m_token = token, .m_text = text});
    ItemPtr request = d.GetType(SearchTypes::SearchRequest)->NewItem(token);
    SetValue(request, SearchTypes::SearchRequestText, text);
    if (wishList)
        SetFlag(request, SearchTypes::WishListSearch, true);
    emit SearchRequested(token, text, wishList);
    return token;
}

void Server::SendFilesFolders(unsigned int folders, unsigned int files)
{
    Send(Out::SharedFilesFolders{.m_folders = folders, .m_files = files});
}

void Server::GetUserStats(const std::string& user)
{
    Send(Out::GetUserStats{.m_user = user});
}

void Server::GetRoomList()
{
    Send(Out::GetRoomList());
}

void Server::SendDNetHasParent(bool hasParent)
{
    Send(Out::DNetHasParent{.m_value = hasParent});
}

void Server::GetOwnPrivilegesStatus()
{
    Send(Out::GetOwnPrivilegesStatus());
}

void Server::SendDNetCanParent(bool canParent)
{
    Send(Out::DNetCanParent{.m_value = canParent});
}

void Server::SendUploadSpeed(unsigned int speed)
{
    Send(Out::UploadSpeed{.m_value = speed});
}

void Server::SendDNetLevel(unsigned int level)
{
    Send(Out::DNetLevel{.m_value = level});
}

void Server::SendDNetGroupLeader(const std::string& user)
{
    Send(Out::DNetGroupLeader{.m_user = user});
}

void Server::SendChildDepth(bool value)
{
    Send(Out::ChildDepth{.m_value = value});
}

void Server::SendCantConnectToPeer(unsigned int token, const std::string& user)
{
    Send(Out::CantConnectToPeer{.m_token = token, .m_user = user});
}
