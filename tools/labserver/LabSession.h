#pragma once

#include <cstdint>
#include <set>
#include <string>

#include <QObject>
#include <QString>

#include "streams/FrameReader.h"
#include "streams/MemStream.h"

class QTcpSocket;

// One client connection of the lab server: its socket, the reassembly of its
// frames and what the server knows of the client while it is connected (the
// user it logged in as, its listening ports, the users it watches). It hands
// every complete message to the server and closes itself, and only itself,
// when the input cannot be trusted.
class LabSession : public QObject
{
    Q_OBJECT

public:
    // Far above any real message; a larger announced length can only be an
    // error or an attack, and reserving it would cost that much memory.
    static constexpr std::uint32_t MaxBodyLength = 16 * 1024 * 1024;

    explicit LabSession(QTcpSocket* socket, QObject* parent = nullptr);

    bool IsLoggedIn() const { return !m_user.empty(); }
    const std::string& User() const { return m_user; }
    void SetUser(const std::string& user) { m_user = user; }
    // The user once logged in, before that the remote address: the name the
    // log lines use for this client.
    QString Name() const;

    // The IPv4 address the client connects from, as one number (0 for IPv6).
    std::uint32_t Address() const;
    int Port() const { return m_port; }
    int ObfuscatedPort() const { return m_obfuscatedPort; }
    void SetPorts(int port, int obfuscatedPort);

    void Watch(const std::string& user) { m_watched.insert(user); }
    void Unwatch(const std::string& user) { m_watched.erase(user); }
    bool IsWatching(const std::string& user) const { return m_watched.contains(user); }

    void Send(const MemStream& body);
    template <class Message> void SendMessage(const Message& message)
    {
        MemStream body;
        message.Write(body);
        Send(body);
    }
    // Writes what is still pending, then closes. Input arriving meanwhile is
    // ignored, and Closed is emitted once, possibly before this returns.
    void Close();
    bool IsClosing() const { return m_closing; }

signals:
    // One whole message; body is positioned after the code and is only valid
    // during the call. The receiver returns false through `accepted` when the
    // message is malformed, which closes this session.
    void MessageReceived(LabSession* session, std::uint32_t code, MemStream& body, bool& accepted);
    void Closed(LabSession* session);

private slots:
    void OnReadyRead();
    void OnDisconnected();

private:
    bool Dispatch(MemStream& body);

    QTcpSocket* m_socket;
    // Kept from the start: a closed socket no longer knows its peer.
    QString m_peerName;
    FrameReader m_reader;
    std::string m_user;
    int m_port = 0;
    int m_obfuscatedPort = 0;
    std::set<std::string> m_watched;
    bool m_closing = false;
    bool m_closedEmitted = false;
};
