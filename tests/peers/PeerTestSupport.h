#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "../server/ServerTestSupport.h"
#include "base/Clock.h"
#include "base/SettingsTypes.h"
#include "peers/PeerMessenger.h"
#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"
#include "store/ObjectValue.h"

constexpr std::uint32_t KnownKey = 0x9e3779b9;

// The key in the clear, then each byte XORed with its byte of the key,
// rotated left by one bit before every four.
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

inline MemStream StreamOf(const QByteArray& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return stream;
}

template <class M> QByteArray Written(const M& message)
{
    MemStream out;
    return message.Write(out) ? QByteArray(out.GetBuffer(), out.GetBufferLength()) : "failed";
}

template <class M> bool ReadBody(const QByteArray& body, M& message)
{
    MemStream in = StreamOf(body.mid(4));
    return message.Read(in);
}

class PeerHelpers
{
public:
    static QByteArray PeerFrame(const QByteArray& body) { return ScriptedServer::Frame(body); }
    static QByteArray InitFrame(const QByteArray& user, const QByteArray& type)
    {
        return PeerFrame(ByteBuilder().Byte(1).String(user).String(type).UInt32(0));
    }
    static QByteArray IndirectFrame(std::uint32_t token)
    {
        return PeerFrame(ByteBuilder().Byte(0).UInt32(token));
    }
    static QByteArray QueueUploadBody(const QByteArray& file) { return Body(43).String(file); }

    static QTcpSocket* SocketOf(ItemPtr item) { return ObjectFromItem<QTcpSocket>(item); }
    static ItemSet ItemsOf(const char* typeName) { return d.GetType(typeName)->GetItems(); }
    static int CountOf(const char* typeName) { return int(d.GetType(typeName)->ItemCount()); }
    static ItemPtr UserItem(const char* name)
    {
        return d.GetType(ServerTypes::User)->HasItem(name);
    }
    static ItemSet PeerSocketsOf(const char* user)
    {
        return UserItem(user) ? UserItem(user).GetItems(PeerTypes::PeerSocket) : ItemSet();
    }
    static int Links(const char* user) { return int(PeerSocketsOf(user).size()); }

    static bool WaitForClosed(QTcpSocket& socket)
    {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }
    // Stored times keep whole seconds: "not yet" is checked two seconds early.
    static void AtSeconds(int seconds) { Clock::SetOffsetForTesting(seconds * qint64(1000)); }
};

class MessengerLog : public LogCapture
{
public:
    int Count(const QString& text) const
    {
        return int(std::count_if(lines.begin(), lines.end(), [&text](const QString& line) {
            return line.startsWith("Peer Messenger|") && line.mid(15).trimmed() == text;
        }));
    }
};

inline QByteArray ReadAtLeast(QTcpSocket& socket, qint64 count)
{
    QByteArray bytes;
    (void)QTest::qWaitFor([&] {
        bytes += socket.readAll();
        return bytes.size() >= count;
    });
    return bytes;
}

class ScriptedPeer : public QTcpServer
{
public:
    ScriptedPeer()
    {
        if (!listen(QHostAddress::LocalHost, 0))
            qFatal("ScriptedPeer: cannot listen");
    }

    quint16 Port() const { return serverPort(); }
    int ConnectionCount()
    {
        while (QTcpSocket* socket = nextPendingConnection())
            m_connections.push_back(socket);
        return static_cast<int>(m_connections.size());
    }
    QTcpSocket* Connection(int index)
    {
        return QTest::qWaitFor([&] { return ConnectionCount() > index; }) ? m_connections[index]
                                                                          : nullptr;
    }
    QByteArray Take(qsizetype count, int index = 0)
    {
        QTcpSocket* socket = Connection(index);
        return socket ? ReadAtLeast(*socket, count) : QByteArray();
    }

private:
    std::vector<QTcpSocket*> m_connections;
};

inline QStringList Calls(const QSignalSpy& spy)
{
    QStringList calls;
    for (const QList<QVariant>& call : spy) {
        QStringList arguments;
        for (const QVariant& argument : call)
            arguments << (argument.metaType() == QMetaType::fromType<std::string>()
                              ? QString::fromStdString(argument.value<std::string>())
                              : argument.toString());
        calls << arguments.join('|');
    }
    return calls;
}

inline bool IsRecorded(QTcpSocket* socket)
{
    for (const char* typeName :
         {PeerTypes::UninitializedSocket, PeerTypes::PeerSocket,
          PeerTypes::PeerConnectionRequestSocket, PeerTypes::ConnectToPeerRequestSocket})
        if (d.GetType(typeName)->HasItem(ObjectValue(socket)))
            return true;
    return false;
}

inline QTcpSocket* OurEndOf(const QTcpSocket& theirs)
{
    for (const char* typeName : {PeerTypes::UninitializedSocket, PeerTypes::PeerSocket})
        for (Item* item : PeerHelpers::ItemsOf(typeName)) {
            QTcpSocket* ours = PeerHelpers::SocketOf(item);
            if (ours->peerPort() == theirs.localPort())
                return ours;
        }
    return nullptr;
}

// Writes the bytes at once or bytewise, each time waiting until our end has
// them and the messenger's queued read has run.
inline bool WriteAndWait(QTcpSocket& theirs, QTcpSocket* ours, const QByteArray& bytes,
                         bool bytewise = false)
{
    if (!ours) {
        qWarning("WriteAndWait: our end of the connection is not recorded");
        return false;
    }
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype size = bytewise ? 1 : bytes.size();
        QSignalSpy arrived(ours, &QTcpSocket::readyRead);
        theirs.write(bytes.mid(at, size));
        theirs.flush();
        if (!QTest::qWaitFor([&arrived] { return arrived.count() > 0; }))
            return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        at += size;
    }
    return true;
}

inline quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline void AddBrokeredRequest(std::uint32_t token, const char* type, const char* user)
{
    ItemPtr request = d.GetType(PeerTypes::PeerConnectionRequest)->NewItem();
    request.Connect(d.GetType(PeerTypes::PeerConnectionRequestId)->GetItem(token));
    request.Connect(d.GetType(PeerTypes::PeerConnectionType)->GetItem(type));
    request.Connect(PeerHelpers::UserItem(user));
}

class PeerSession : PeerHelpers
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

    bool ReceiveAddress(const char* user, quint16 port, quint16 obfuscatedPort = 0)
    {
        ByteBuilder body = Body(3).String(user).UInt32(0x7f000001).Int32(port);
        body.Int32(obfuscatedPort ? 1 : 0).Int32(obfuscatedPort);
        session->Receive(body);
        return session->Sync();
    }

    std::unique_ptr<QTcpSocket> ConnectPeer(bool obfuscated = false)
    {
        auto socket = std::make_unique<QTcpSocket>();
        const int before = CountOf(PeerTypes::UninitializedSocket);
        socket->connectToHost(QHostAddress::LocalHost, obfuscated ? ObfuscatedPort() : Port());
        if (!socket->waitForConnected(5000))
            return nullptr;
        const bool accepted =
            QTest::qWaitFor([before] { return CountOf(PeerTypes::UninitializedSocket) > before; });
        return accepted ? std::move(socket) : nullptr;
    }

    std::unique_ptr<QTcpSocket> ConnectMessagingPeer(const char* user, bool obfuscated = false)
    {
        auto socket = ConnectPeer(obfuscated);
        if (!socket)
            return nullptr;
        const int before = Links(user);
        const QByteArray frame = InitFrame(user, "P");
        socket->write(obfuscated ? ScrambleByHand(frame, 0x01020304) : frame);
        const bool opened = QTest::qWaitFor([user, before] { return Links(user) > before; });
        return opened ? std::move(socket) : nullptr;
    }

    std::unique_ptr<ServerSession> session;
    std::unique_ptr<PeerMessenger> messenger;
};
