#pragma once

#include <functional>
#include <map>
#include <string>

#include <QObject>
#include <QString>

#include "app/StartUp.h"
#include "app/StartUpHost.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"

struct ConnectionInfo;
struct NodeCommand;
class NodeShares;
class NodeTransfers;
class StdinReader;

// The core without a window: runs the very same start-up sequence as the
// main window, reads commands on standard input and prints events on
// standard output (one per line, tab-separated). Used for demos, scripted
// end-to-end tests and development.
class Node : public QObject, public StartUpHost, public DataHandler
{
    Q_OBJECT

public:
    Node();
    ~Node() override;

    void Start();

    // StartUpHost
    void ManagersCreated() override;
    void SnapshotLoadFailed(const char* title, const char* text) override;

private slots:
    void OnLine(const QString& line);
    void OnEndOfInput();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(const std::string& reason);
    void OnRoomChat(const std::string& room, const std::string& user, const std::string& text);
    void OnPrivateChat(const std::string& user, const std::string& text, qint64 time, bool flag);
    void OnSearchResults(ItemPtr searchResults);
    void OnDNetSearchRequest(const std::string& user, quint32 token, const std::string& text);

private:
    struct Command
    {
        int words;
        bool restOfLine;
        std::function<void(const NodeCommand&)> run;
    };

    void DeclareCommands();
    void DeclareTransferCommands();
    void OnInRoom(ConnectionInfo& info);
    void OnOutOfRoom(ConnectionInfo& info);
    void OnUserOnline(ConnectionInfo& info);
    void OnUserOffline(ConnectionInfo& info);
    void ReportJoined(const QString& room);
    void SetPorts(const NodeCommand& command);
    void ReportDNet();

    StartUp m_startUp;
    StdinReader* m_stdin;
    NodeShares* m_shares;
    NodeTransfers* m_transfers;
    std::map<QString, Command> m_commands;
};
