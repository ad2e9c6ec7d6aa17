#pragma once

#include <atomic>
#include <cstdint>

#include <QByteArray>
#include <QObject>
#include <QTcpServer>

#include "LabTestClient.h"

class QTcpSocket;

// One uploading peer of ScriptedUploaders, driven by its sockets' signals
// on the uploaders' thread.
class ScriptedUpload : public QObject
{
public:
    ScriptedUpload(const QByteArray& user, qint64 size, quint16 clientPort, std::atomic<int>& sent,
                   std::atomic<bool>& failed);

    bool LogIn(quint16 serverPort);

private:
    static constexpr std::uint32_t Token = 4242;

    void OnMessagingConnection();
    void OnMessages();
    void OnFileBytes();
    void SendMore();

    QByteArray m_user;
    qint64 m_size;
    quint16 m_clientPort;
    std::atomic<int>& m_sent;
    std::atomic<bool>& m_failed;
    LabTestClient m_server;
    QTcpServer m_listener;
    QTcpSocket* m_messaging = nullptr;
    QTcpSocket* m_file = nullptr;
    QByteArray m_buffer;
    qint64 m_position = -1;
};
