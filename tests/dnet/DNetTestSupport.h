#pragma once

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "../server/ServerTestSupport.h"
#include "app/Log.h"
#include "app/LogSink.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetTypes.h"
#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"

// One distributed-network link over loopback. The far end belongs to the
// test and plays the other client; the near end is the socket the peer
// messenger would hand to the manager.
class DNetLink
{
public:
    static constexpr int Timeout = 3000;

    bool Open(QTcpServer& listener)
    {
        m_far.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!m_far.waitForConnected(Timeout) || !listener.waitForNewConnection(Timeout))
            return false;
        m_near = listener.nextPendingConnection();
        return m_near != nullptr;
    }

    QTcpSocket* Near() const { return m_near; }

    void Send(const QByteArray& body) { SendRaw(ByteBuilder().Int32(int(body.size())).Raw(body)); }
    void SendRaw(const QByteArray& bytes)
    {
        m_far.write(bytes);
        m_far.flush();
    }

    // The next whole body the manager sent us, or an empty array.
    QByteArray Next()
    {
        const bool arrived = QTest::qWaitFor(
            [this] {
                m_buffer += m_far.readAll();
                return HasFrame();
            },
            Timeout);
        if (!arrived)
            return {};
        const qsizetype length = LengthAt(0);
        const QByteArray body = m_buffer.mid(4, length);
        m_buffer.remove(0, 4 + length);
        return body;
    }

    // True once the manager has closed its end.
    bool WaitClosed()
    {
        return QTest::qWaitFor(
            [this] {
                m_buffer += m_far.readAll();
                return m_far.state() == QAbstractSocket::UnconnectedState;
            },
            Timeout);
    }
    bool IsOpen() const { return m_far.state() == QAbstractSocket::ConnectedState; }
    void Close() { m_far.disconnectFromHost(); }

private:
    qsizetype LengthAt(qsizetype offset) const
    {
        return qsizetype(WireFormat::DecodeUInt32(
            reinterpret_cast<const unsigned char*>(m_buffer.constData() + offset)));
    }
    bool HasFrame() const { return m_buffer.size() >= 4 && m_buffer.size() >= 4 + LengthAt(0); }

    QTcpSocket m_far;
    QTcpSocket* m_near = nullptr;
    QByteArray m_buffer;
};

// The log lines of the distributed network, without their time stamps.
class DNetLogCapture : public LogSink
{
public:
    DNetLogCapture() { SetLogSink(this); }
    ~DNetLogCapture() override { SetLogSink(nullptr); }
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        if (category == "Distributed Network")
            lines << line.section("] ", 1);
    }
    QStringList lines;
};

// Distributed messages, as laid out on a link: a one-byte code, then fields.
inline ByteBuilder DNet(std::uint8_t code)
{
    return ByteBuilder().Byte(code);
}

inline ByteBuilder SearchBody(const QByteArray& user, std::uint32_t token, const QByteArray& text)
{
    return DNet(3).UInt32(49).String(user).UInt32(token).String(text);
}

// The value of a "dnet_global" variable, "" while absent.
inline std::string DNetState(const char* name)
{
    ItemPtr variable = d.GetType(DNetTypes::DNetGlobal)->HasItem(name);
    return variable ? variable[DNetTypes::DNetValue].AsString() : std::string();
}

inline bool HasDNetState(const char* name)
{
    ItemPtr variable = d.GetType(DNetTypes::DNetGlobal)->HasItem(name);
    return variable && variable[DNetTypes::DNetValue];
}

inline ItemPtr UserItem(const char* name)
{
    return d.GetType(ServerTypes::User)->HasItem(name);
}
