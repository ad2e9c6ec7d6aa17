#include "LabTestClient.h"

#include <QCryptographicHash>
#include <QTest>

#include "Bytes.h"

void LabTestClient::Send(const QByteArray& body)
{
    SendRaw(ByteBuilder().UInt32(static_cast<std::uint32_t>(body.size())).Raw(body));
}

QByteArray LabTestClient::Next()
{
    const auto whole = [this] {
        m_buffer += m_socket.readAll();
        return m_buffer.size() >= 4 && m_buffer.size() >= 4 + qsizetype(UInt32At(m_buffer, 0));
    };
    if (!QTest::qWaitFor(whole, Timeout))
        return {};
    const qsizetype length = UInt32At(m_buffer, 0);
    const QByteArray body = m_buffer.mid(4, length);
    m_buffer.remove(0, 4 + length);
    return body;
}

bool LabTestClient::LogIn(const QByteArray& user, const QByteArray& password)
{
    Send(LoginBody(user, password));
    const QByteArray answer = Next();
    if (answer.size() < 5 || CodeOf(answer) != 1 || answer[4] != 1)
        return false;
    // Wish-list period, the two parent figures, the privileged users.
    for (std::uint32_t code : {104u, 83u, 84u, 69u}) {
        if (CodeOf(Next()) != code)
            return false;
    }
    return true;
}

bool LabTestClient::NothingElsePending()
{
    Send(ByteBuilder().UInt32(92));
    return CodeOf(Next()) == 92;
}

bool LabTestClient::WaitUntilClosed()
{
    const auto closed = [this] {
        m_buffer += m_socket.readAll();
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    };
    return QTest::qWaitFor(closed, Timeout);
}

std::uint32_t CodeOf(const QByteArray& body)
{
    return body.size() < 4 ? 0 : UInt32At(body, 0);
}

QByteArray LoginBody(const QByteArray& user, const QByteArray& password)
{
    const QByteArray digest =
        QCryptographicHash::hash(user + password, QCryptographicHash::Md5).toHex();
    return ByteBuilder().UInt32(1).String(user).String(password).UInt32(157).String(digest).UInt32(
        100);
}

std::uint32_t UInt32At(const QByteArray& bytes, qsizetype offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return 0;
    std::uint32_t value = 0;
    for (qsizetype i = offset + 3; i >= offset; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}
