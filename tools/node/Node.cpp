#include "Node.h"

#include <QCoreApplication>
#include <QTimer>

#include "NodeCommand.h"
#include "NodeOutput.h"
#include "NodeShares.h"
#include "NodeTransfers.h"
#include "StdinReader.h"
#include "base/Settings.h"
#include "base/TimerManager.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"
#include "peers/PeerMessenger.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "store/Data.h"

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}
std::string S(const QString& text)
{
    return text.toStdString();
}
} // namespace

Node::Node()
    : m_startUp(this), m_stdin(new StdinReader(this)), m_shares(new NodeShares(this)),
      m_transfers(new NodeTransfers(this))
{
    DeclareCommands();
    connect(m_stdin, &StdinReader::LineRead, this, &Node::OnLine);
    connect(m_stdin, &StdinReader::EndOfInput, this, &Node::OnEndOfInput);
}

Node::~Node()
{
    RemoveDataHandlers();
    m_startUp.Shutdown();
}

void Node::Start()
{
    m_startUp.Init();
    m_stdin->Start();
}

void Node::ManagersCreated()
{
    connect(gp_server, &Server::Connected, this, &Node::OnConnected);
    connect(gp_server, &Server::Disconnected, this, &Node::OnDisconnected);
    connect(gp_server, &Server::ConnectionFailed, this, &Node::OnConnectionFailed);
    connect(gp_server, &Server::RoomChat, this, &Node::OnRoomChat);
    connect(gp_server, &Server::PrivateChat, this, &Node::OnPrivateChat);
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &Node::OnSearchResults);
    connect(dnetManager, &DNetManager::DNetSearchRequest, this, &Node::OnDNetSearchRequest);
    AddPairConnectionHandler(this, ServerTypes::Room, ServerTypes::InRoom, &Node::OnInRoom);
    AddPairDisconnectionHandler(this, ServerTypes::Room, ServerTypes::InRoom, &Node::OnOutOfRoom);
    AddPairConnectionHandler(this, ServerTypes::User, ServerTypes::IsOnline, &Node::OnUserOnline);
    AddPairDisconnectionHandler(this, ServerTypes::User, ServerTypes::IsOnline,
                                &Node::OnUserOffline);
    m_shares->ManagersCreated();
    m_transfers->ManagersCreated();
}

void Node::SnapshotLoadFailed(const char* title, const char* text)
{
    NodeOutput::Print({"snapshot-unreadable", QString("%1: %2").arg(title, text)});
}

void Node::DeclareCommands()
{
    m_commands["login"] = {2, false, [](const NodeCommand& c) {
                               Settings::Set("username", S(c.arguments[0]));
                               Settings::Set("password", S(c.arguments[1]));
                               gp_server->Connect();
                           }};
    m_commands["connect"] = {0, false, [](const NodeCommand&) { gp_server->Connect(); }};
    m_commands["disconnect"] = {0, false, [](const NodeCommand&) { gp_server->Disconnect(); }};
    m_commands["join"] = {1, true,
                          [](const NodeCommand& c) { gp_server->EnterRoom(S(c.arguments[0])); }};
    m_commands["leave"] = {1, true,
                           [](const NodeCommand& c) { gp_server->LeaveRoom(S(c.arguments[0])); }};
    m_commands["say"] = {2, true, [](const NodeCommand& c) {
                             gp_server->SendRoomChat(S(c.arguments[0]), S(c.arguments[1]));
                         }};
    m_commands["pm"] = {2, true, [](const NodeCommand& c) {
                            gp_server->SendPrivateChat(S(c.arguments[0]), S(c.arguments[1]));
                        }};
    m_commands["watch"] = {1, true,
                           [](const NodeCommand& c) { gp_server->TrackUser(S(c.arguments[0])); }};
    m_commands["save"] = {0, false, [this](const NodeCommand&) {
                              m_startUp.EveryFiveMinutes();
                              NodeOutput::Print({"saved"});
                          }};
    m_commands["ports"] = {2, false, [this](const NodeCommand& c) { SetPorts(c); }};
    m_commands["search"] = {
        1, true, [](const NodeCommand& c) {
            const unsigned token = gp_server->FileSearch(S(c.arguments[0]), false);
            NodeOutput::Print({"search-started", QString::number(token), c.arguments[0]});
        }};
    m_commands["dnet"] = {0, false, [this](const NodeCommand&) { ReportDNet(); }};
    m_commands["tick"] = {1, false, [](const NodeCommand& c) {
                              const QString which = c.arguments[0];
                              QTimer* timer =
                                  which == "half-minute"    ? timerManager->everyHalfMinute()
                                  : which == "five-minutes" ? timerManager->everyFiveMinutes()
                                  : which == "hour"         ? timerManager->everyHour()
                                                            : nullptr;
                              if (timer)
                                  TimerManager::FireNow(timer);
                              else
                                  NodeOutput::Print({"error", "tick " + which});
                          }};
    m_commands["share"] = {1, true,
                           [this](const NodeCommand& c) { m_shares->Share(c.arguments[0]); }};
    m_commands["unshare"] = {1, true,
                             [this](const NodeCommand& c) { m_shares->Unshare(c.arguments[0]); }};
    m_commands["rescan"] = {0, false, [this](const NodeCommand&) { m_shares->Rescan(); }};
    m_commands["adduser"] = {1, true,
                             [this](const NodeCommand& c) { m_shares->AddUser(c.arguments[0]); }};
    m_commands["browse"] = {1, false,
                            [this](const NodeCommand& c) { m_shares->Browse(c.arguments[0]); }};
    m_commands["ls"] = {
        2, true, [this](const NodeCommand& c) { m_shares->List(c.arguments[0], c.arguments[1]); }};
    DeclareTransferCommands();
    m_commands["quit"] = {0, false, [](const NodeCommand&) { QCoreApplication::quit(); }};
}

void Node::DeclareTransferCommands()
{
    NodeTransfers* t = m_transfers;
    m_commands["download"] = {1, true, [t](const NodeCommand& c) { t->Download(c.arguments[0]); }};
    m_commands["remove-download"] = {
        1, true, [t](const NodeCommand& c) { t->RemoveDownload(c.arguments[0]); }};
    m_commands["downloads"] = {0, false, [t](const NodeCommand&) { t->ListDownloads(); }};
    m_commands["uploads"] = {0, false, [t](const NodeCommand&) { t->ListUploads(); }};
    m_commands["slots"] = {1, false, [t](const NodeCommand& c) { t->SetSlots(c.arguments[0]); }};
    m_commands["upload-limit"] = {2, false, [t](const NodeCommand& c) { t->SetUploadLimit(c); }};
    m_commands["download-folder"] = {
        1, true, [t](const NodeCommand& c) { t->SetDownloadFolder(c.arguments[0]); }};
    m_commands["unshare-user"] = {1, false,
                                  [t](const NodeCommand& c) { t->UnshareUser(c.arguments[0]); }};
    m_commands["reshare-user"] = {1, false,
                                  [t](const NodeCommand& c) { t->ReshareUser(c.arguments[0]); }};
}

void Node::OnLine(const QString& line)
{
    const QString name = NodeCommand::NameOf(line);
    if (name.isEmpty())
        return;
    auto found = m_commands.find(name);
    NodeCommand command;
    if (found == m_commands.end() ||
        !NodeCommand::Parse(line, found->second.words, found->second.restOfLine, command)) {
        NodeOutput::Print({"error", line.trimmed()});
        return;
    }
    found->second.run(command);
}

void Node::OnEndOfInput()
{
    QCoreApplication::quit();
}

void Node::OnConnected()
{
    NodeOutput::Print({"connected"});
}

void Node::OnDisconnected()
{
    NodeOutput::Print({"disconnected"});
}

void Node::OnConnectionFailed(const std::string& reason)
{
    NodeOutput::Print({"login-failed", Q(reason)});
}

void Node::OnRoomChat(const std::string& room, const std::string& user, const std::string& text)
{
    NodeOutput::Print({"room-chat", Q(room), Q(user), Q(text)});
}

void Node::OnPrivateChat(const std::string& user, const std::string& text, qint64, bool)
{
    NodeOutput::Print({"pm", Q(user), Q(text)});
}

void Node::OnInRoom(ConnectionInfo& info)
{
    // The room's members are connected after the flag, within the same
    // message: count them once that message is fully handled.
    const QString room = Q(info.item->AsString());
    QTimer::singleShot(0, this, [this, room] { ReportJoined(room); });
}

void Node::ReportJoined(const QString& room)
{
    ItemPtr roomItem = d.GetType(ServerTypes::Room)->HasItem(S(room));
    if (!roomItem || !roomItem.IsConnected(ServerTypes::InRoom))
        return;
    const auto members = roomItem.GetItems(ServerTypes::User).size();
    NodeOutput::Print({"joined", room, QString::number(members)});
}

void Node::OnOutOfRoom(ConnectionInfo& info)
{
    NodeOutput::Print({"left", Q(info.item->AsString())});
}

void Node::OnUserOnline(ConnectionInfo& info)
{
    NodeOutput::Print({"user-status", Q(info.item->AsString()), "online"});
}

void Node::OnUserOffline(ConnectionInfo& info)
{
    NodeOutput::Print({"user-status", Q(info.item->AsString()), "offline"});
}

void Node::SetPorts(const NodeCommand& command)
{
    bool plainOk = false, obfuscatedOk = false;
    const uint plain = command.arguments[0].toUInt(&plainOk);
    const uint obfuscated = command.arguments[1].toUInt(&obfuscatedOk);
    if (!plainOk || !obfuscatedOk || plain > 65535 || obfuscated > 65535) {
        NodeOutput::Print({"error", "ports " + command.arguments.join(' ')});
        return;
    }
    Settings::Set("listening_port", static_cast<long long>(plain));
    Settings::Set("obfuscated_listening_port", static_cast<long long>(obfuscated));
    if (!peerMessenger->Listen()) {
        NodeOutput::Print({"error", "cannot listen on " + command.arguments.join(' ')});
        return;
    }
    const auto plainPort = static_cast<unsigned>(Settings::GetInt("listening_port", 0));
    const auto obfuscatedPort =
        static_cast<unsigned>(Settings::GetInt("obfuscated_listening_port", 0));
    // The server tells other peers where to reach us; it must learn the
    // new ports at once, not only at the next login.
    if (gp_server->IsConnected())
        gp_server->SetWaitPort(plainPort, obfuscatedPort);
    NodeOutput::Print({"listening", QString::number(plainPort), QString::number(obfuscatedPort)});
}

void Node::OnSearchResults(ItemPtr searchResults)
{
    const QString token = Q(searchResults[SearchTypes::SearchRequest].AsString());
    const QString user = Q(searchResults[ServerTypes::User].AsString());
    const QString free = Q(searchResults[SearchTypes::SearchResultsUserAvailable].AsString());
    const QString speed = Q(searchResults[SearchTypes::SearchResultsUserSpeed].AsString());
    const QString queue = Q(searchResults[SearchTypes::SearchResultsUploadsInQueue].AsString());
    for (Item* result : searchResults.GetItems(SearchTypes::SearchResult)) {
        ItemPtr r(result);
        NodeOutput::Print({"result", token, user,
                           Q(r[SearchTypes::SearchResultFileFolder].AsString()),
                           Q(r[SearchTypes::SearchResultFileName].AsString()),
                           Q(r[SearchTypes::SearchResultFileSize].AsString()),
                           Q(FileItemDisplay::GetFileItemDisplayString(r)), free, speed, queue});
    }
}

void Node::OnDNetSearchRequest(const std::string& user, quint32 token, const std::string& text)
{
    NodeOutput::Print({"dnet-search", Q(user), QString::number(token), Q(text)});
}

void Node::ReportDNet()
{
    auto value = [](const char* name) {
        ItemPtr global = d.GetType(DNetTypes::DNetGlobal)->HasItem(name);
        return global ? Q(global[DNetTypes::DNetValue].AsString()) : QString();
    };
    const QString parent = value(DNetTypes::State::ParentUser);
    const QString level = value(DNetTypes::State::Level);
    NodeOutput::Print({"dnet", parent.isEmpty() ? "-" : parent, level.isEmpty() ? "-1" : level,
                       QString::number(g(DNetTypes::DNetChild).size())});
}
