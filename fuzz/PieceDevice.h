#pragma once

#include <algorithm>
#include <utility>

#include <QByteArray>
#include <QIODevice>

// Bytes that become available a piece at a time, like a socket's, for the
// targets that read through a QIODevice.
class PieceDevice : public QIODevice
{
public:
    explicit PieceDevice(QByteArray bytes) : m_bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool AllArrived() const { return m_arrived >= m_bytes.size(); }
    void Arrive(qsizetype count) { m_arrived = std::min(m_bytes.size(), m_arrived + count); }

    qint64 bytesAvailable() const override { return m_arrived - m_read; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 count = std::min<qint64>(max, m_arrived - m_read);
        std::copy_n(m_bytes.constData() + m_read, count, out);
        m_read += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qsizetype m_arrived = 0;
    qsizetype m_read = 0;
};
