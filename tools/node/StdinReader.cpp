#include "StdinReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

StdinReader::StdinReader(QObject* parent) : QObject(parent) {}

void StdinReader::Start()
{
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::OnReadable);
}

void StdinReader::OnReadable()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_notifier->setEnabled(false);
        if (!m_pending.isEmpty())
            emit LineRead(QString::fromUtf8(m_pending));
        m_pending.clear();
        emit EndOfInput();
        return;
    }
    m_pending.append(buffer, static_cast<int>(n));
    int newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        QByteArray line = m_pending.left(newline);
        m_pending.remove(0, newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        emit LineRead(QString::fromUtf8(line));
    }
}
