#include "Node.h"

#include <QCoreApplication>
#include <QTimer>

#include "NodeCommand.h"
#include "NodeOutput.h"
#include "StdinReader.h"
#include "app/Settings.h"
#include "app/TimerManager.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
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

Node::Node() : m_startUp(this), m_stdin(new StdinReader(this))
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
    AddPairConnectionHandler(this, ServerTypes::Room, ServerTypes::InRoom, &Node::OnInRoom);
    AddPairDisconnectionHandler(this, ServerTypes::Room, ServerTypes::InRoom, &Node::OnOutOfRoom);
    AddPairConnectionHandler(this, ServerTypes::User, ServerTypes::IsOnline, &Node::OnUserOnline);
    AddPairDisconnectionHandler(this, ServerTypes::User, ServerTypes::IsOnline,
                                &Node::OnUserOffline);
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
    m_commands["quit"] = {0, false, [](const NodeCommand&) { QCoreApplication::quit(); }};
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
