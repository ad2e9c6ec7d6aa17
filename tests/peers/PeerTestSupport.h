#pragma once

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "../server/ServerTestSupport.h"
#include "Bytes.h"
#include "app/AppTypes.h"
#include "app/Clock.h"
#include "app/Log.h"
#include "app/LogSink.h"
#include "peers/PeerMessenger.h"
#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"
#include "store/ObjectValue.h"

// The key every scrambled frame we send is given in these tests.
constexpr std::uint32_t KnownKey = 0x9e3779b9;

// The scrambled mode, written out from its description: the key in the
// clear, then each byte XORed with the byte of the key at its place in its
// group of four, the key rotated left by one bit before every group.
inline QByteArray ScrambleByHand(const QByteArray& frame, std::uint32_t key)
{
    ByteBuilder out;
    out.UInt32(key);
    for (qsizetype i = 0; i < frame.size(); ++i) {
        if (i % 4 == 0)
            key = (key << 1) | (key >> 31);
        out.Byte(static_cast<std::uint8_t>(frame[i]) ^
                 static_cast<std::uint8_t>(key >> (8 * (i % 4))));
    }
    return out;
}

// A frame as peers send it: the body's length, then the body.
inline QByteArray PeerFrame(const QByteArray& body)
{
    return ScriptedServer::Frame(body);
}

// First frames.
inline QByteArray InitBody(const QByteArray& user, const QByteArray& type)
{
    return ByteBuilder().Byte(1).String(user).String(type).UInt32(0);
}

inline QByteArray IndirectResponseBody(std::uint32_t token)
{
    return ByteBuilder().Byte(0).UInt32(token);
}

class LogCapture : public LogSink
{
public:
    // Lines without their time and level indentation.
    LogCapture() { SetLogSink(this); }
    ~LogCapture() override { SetLogSink(nullptr); }
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        if (category == QLatin1String("Peer Messenger"))
            lines << line.section("] ", 1).trimmed();
    }
    int Count(const QString& text) const { return static_cast<int>(lines.count(text)); }
    QStringList lines;
};

// Another client's listening port on 127.0.0.1: accepts our connections
// and keeps what each of them sends.
class ScriptedPeer : public QObject
{
public:
    ScriptedPeer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                m_connections.push_back(socket);
                m_received.push_back(QByteArray());
                const std::size_t index = m_received.size() - 1;
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket, index] { m_received[index] += socket->readAll(); });
            }
        });
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            qFatal("ScriptedPeer: cannot listen");
    }

    quint16 Port() const { return m_server.serverPort(); }
    int ConnectionCount() const { return static_cast<int>(m_connections.size()); }
    bool WaitForConnections(int count)
    {
        return QTest::qWaitFor([this, count] { return ConnectionCount() >= count; });
    }
    QTcpSocket* Connection(int index) const { return m_connections.at(index); }
    const QByteArray& Received(int index) const { return m_received.at(index); }
    bool WaitForBytes(int index, int count)
    {
        return QTest::qWaitFor([this, index, count] {
            return static_cast<int>(m_received.size()) > index && m_received[index].size() >= count;
        });
    }
    QByteArray Take(int index)
    {
        QByteArray taken;
        taken.swap(m_received[index]);
        return taken;
    }

private:
    QTcpServer m_server;
    std::vector<QPointer<QTcpSocket>> m_connections;
    std::vector<QByteArray> m_received;
};

inline QTcpSocket* SocketOf(ItemPtr item)
{
    return ObjectFromItem<QTcpSocket>(item);
}

// Whether any record of ours still stands for the socket.
inline bool IsRecorded(QTcpSocket* socket)
{
    for (const char* typeName :
         {PeerTypes::UninitializedSocket, PeerTypes::PeerSocket,
          PeerTypes::PeerConnectionRequestSocket, PeerTypes::ConnectToPeerRequestSocket})
        if (d.GetType(typeName)->HasItem(ObjectValue(socket)))
            return true;
    return false;
}

// Our end of a connection the test's socket has with us.
inline QTcpSocket* OurEndOf(const QTcpSocket& theirs)
{
    for (const char* typeName : {PeerTypes::UninitializedSocket, PeerTypes::PeerSocket})
        for (Item* item : d.GetType(typeName)->GetItems()) {
            QTcpSocket* ours = ObjectFromItem<QTcpSocket>(item);
            if (ours->peerPort() == theirs.localPort())
                return ours;
        }
    return nullptr;
}

// Writes the bytes one at a time, each only after our end has been told of
// the one before, so that every byte is a read of its own.
// The messenger reads sockets in slices queued on the event loop; after our
// end has been told of new bytes, this lets the slice run.
inline void DeliverDeferredReads()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

inline bool WriteBytewise(QTcpSocket& theirs, QTcpSocket& ours, const QByteArray& bytes)
{
    for (char byte : bytes) {
        QSignalSpy arrived(&ours, &QTcpSocket::readyRead);
        theirs.write(&byte, 1);
        theirs.flush();
        if (!QTest::qWaitFor([&arrived] { return arrived.count() > 0; }))
            return false;
        DeliverDeferredReads();
    }
    return true;
}

// Writes the bytes and waits until our end has been told of them.
inline bool WriteAndWait(QTcpSocket& theirs, QTcpSocket& ours, const QByteArray& bytes)
{
    QSignalSpy arrived(&ours, &QTcpSocket::readyRead);
    theirs.write(bytes);
    theirs.flush();
    if (!QTest::qWaitFor([&arrived] { return arrived.count() > 0; }))
        return false;
    DeliverDeferredReads();
    return true;
}

inline ByteBuilder& UInt64(ByteBuilder& bytes, std::uint64_t value)
{
    return bytes.UInt32(static_cast<std::uint32_t>(value))
        .UInt32(static_cast<std::uint32_t>(value >> 32));
}

inline ItemSet ItemsOf(const char* typeName)
{
    return d.GetType(typeName)->GetItems();
}

inline ItemPtr UserItem(const char* name)
{
    return d.GetType(ServerTypes::User)->HasItem(name);
}

inline ItemSet PeerSocketsOf(const char* user)
{
    ItemPtr item = UserItem(user);
    return item ? item.GetItems(PeerTypes::PeerSocket) : ItemSet();
}

// A logged-in client as "alice" with its peer messenger listening on free
// ports and a scrambling key the tests know.
class PeerSession
{
public:
    PeerSession()
    {
        Clock::SetOffsetForTesting(0);
        session = std::make_unique<ServerSession>();
        messenger = std::make_unique<PeerMessenger>();
        messenger->GetScrambler().SetKeySource([] { return KnownKey; });
        Settings::Set("listening_port", 0);
        Settings::Set("obfuscated_listening_port", 0);
        if (!messenger->Listen())
            qFatal("PeerSession: cannot listen");
    }
    ~PeerSession()
    {
        messenger.reset();
        session.reset();
        Clock::SetOffsetForTesting(0);
    }

    bool LogIn() { return session->LogIn(); }
    ServerSession& Server() { return *session; }

    quint16 Port() const { return static_cast<quint16>(Settings::GetInt("listening_port", 0)); }
    quint16 ObfuscatedPort() const
    {
        return static_cast<quint16>(Settings::GetInt("obfuscated_listening_port", 0));
    }

    // The server tells us where a user listens.
    bool ReceiveAddress(const char* user, quint16 port, quint16 obfuscatedPort = 0)
    {
        ByteBuilder body = Body(3).String(user).UInt32(0x7f000001).Int32(port);
        body.Int32(obfuscatedPort ? 1 : 0).Int32(obfuscatedPort);
        session->Receive(body);
        return session->Sync();
    }

    // A peer connecting to one of our ports; the socket is the test's.
    std::unique_ptr<QTcpSocket> ConnectPeer(bool obfuscated = false)
    {
        auto socket = std::make_unique<QTcpSocket>();
        const int before = static_cast<int>(ItemsOf(PeerTypes::UninitializedSocket).size());
        socket->connectToHost(QHostAddress::LocalHost, obfuscated ? ObfuscatedPort() : Port());
        if (!socket->waitForConnected(5000))
            return nullptr;
        const bool accepted = QTest::qWaitFor([before] {
            return static_cast<int>(ItemsOf(PeerTypes::UninitializedSocket).size()) > before;
        });
        return accepted ? std::move(socket) : nullptr;
    }

    // A peer that connected directly and announced a messaging connection.
    std::unique_ptr<QTcpSocket> ConnectMessagingPeer(const char* user, bool obfuscated = false)
    {
        auto socket = ConnectPeer(obfuscated);
        if (!socket)
            return nullptr;
        const int before = static_cast<int>(PeerSocketsOf(user).size());
        const QByteArray frame = PeerFrame(InitBody(user, "P"));
        socket->write(obfuscated ? ScrambleByHand(frame, 0x01020304) : frame);
        const bool opened = QTest::qWaitFor(
            [user, before] { return static_cast<int>(PeerSocketsOf(user).size()) > before; });
        return opened ? std::move(socket) : nullptr;
    }

    std::unique_ptr<ServerSession> session;
    std::unique_ptr<PeerMessenger> messenger;
};

// Declares the schemas once per test executable and gives each test a
// fresh store.
inline void DeclarePeerSchemas()
{
    DeclareServerSchemas();
}

inline bool WaitForClosed(QTcpSocket& socket)
{
    return QTest::qWaitFor(
        [&socket] { return socket.state() == QAbstractSocket::UnconnectedState; });
}
