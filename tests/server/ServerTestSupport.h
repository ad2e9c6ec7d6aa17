#pragma once

#include <memory>

#include <QTcpSocket>
#include <QtTest>

#include "Bytes.h"
#include "ScriptedServer.h"
#include "base/Log.h"
#include "base/LogSink.h"
#include "base/Settings.h"
#include "peers/PeerSchema.h"
#include "search/SearchSchema.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"

// Types exist once per process: each test executable calls this once.
inline void DeclareServerSchemas()
{
    dataSaver = new DataSaver();
    Settings::DeclareSchema(*dataSaver);
    Server::CreateData();
    PeerSchema::DeclareSchema();
    SearchSchema::DeclareSchema();
}

inline QByteArray Sent(const ByteBuilder& body)
{
    return Frame(body);
}

inline QByteArray LoginFrame(const QByteArray& user, const QByteArray& password)
{
    return Frame(LoginBody(user, password));
}

class ServerSession
{
public:
    ServerSession() : server(std::make_unique<Server>()) { scripted.PointClientHere(); }

    QTcpSocket* ClientSocket() const { return server->findChild<QTcpSocket*>(); }

    bool ConnectAs(const char* user = "alice", const char* password = "secret")
    {
        Settings::Set("username", user);
        Settings::Set("password", password);
        return Reconnect(scripted.AcceptedCount() + 1);
    }

    // Connects if need be; the login must come first after TakeReceived.
    bool Reconnect(int expectedConnections)
    {
        if (server->GetState() == Server::StateDisconnected)
            server->Connect();
        return QTest::qWaitFor([&] {
            const QByteArray user = QByteArray::fromStdString(Settings::Get("username"));
            const QByteArray password = QByteArray::fromStdString(Settings::Get("password"));
            return scripted.AcceptedCount() == expectedConnections &&
                   scripted.Received().startsWith(LoginFrame(user, password));
        });
    }

    bool AcceptLogin()
    {
        Receive(Body(1).Byte(1).String("Welcome").UInt32(0x7f000001).String(""));
        return QTest::qWaitFor([this] { return server->IsConnected(); });
    }

    bool LogIn()
    {
        if (!ConnectAs() || !AcceptLogin())
            return false;
        scripted.TakeReceived();
        return true;
    }

    void Receive(const QByteArray& body) { scripted.Send(ScriptedServer::Frame(body)); }

    // Waits for all sent so far: a private message is always acknowledged.
    bool Sync()
    {
        const std::uint32_t id = ++m_syncId + 0x5e000000;
        Receive(Body(22).UInt32(id).UInt32(0).String("").String("").Byte(0));
        const QByteArray ack = ScriptedServer::Frame(Body(23).UInt32(id));
        if (!scripted.WaitFor(ack))
            return false;
        QByteArray got = scripted.TakeReceived();
        got.remove(got.indexOf(ack), ack.size());
        m_sent += got;
        return true;
    }

    template <class... Bodies> bool Handled(const Bodies&... bodies)
    {
        (Receive(bodies), ...);
        return Sync();
    }

    QByteArray TakeSent()
    {
        Sync();
        QByteArray sent;
        sent.swap(m_sent);
        return sent;
    }

    ScriptedServer scripted;
    std::unique_ptr<Server> server;

private:
    std::uint32_t m_syncId = 0;
    QByteArray m_sent;
};

class LogCapture : public LogSink
{
public:
    LogCapture() { SetLogSink(this); }
    ~LogCapture() override { SetLogSink(nullptr); }
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        lines << category + "|" + line.section("] ", 1);
    }
    QStringList lines;
};
