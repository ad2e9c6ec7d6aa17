#include "NetworkNamespace.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

QString SystemError(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

int OpenCurrent(QString& whyNot)
{
    const int fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        whyNot = SystemError(QStringLiteral("cannot open the current network namespace"));
    return fd;
}

} // namespace

NetworkNamespace::~NetworkNamespace()
{
    if (setns(m_previous, CLONE_NEWNET) != 0)
        qFatal("cannot return to the original network namespace: %s", std::strerror(errno));
    close(m_previous);
}

std::unique_ptr<NetworkNamespace> NetworkNamespace::EnterNew(QString& whyNot)
{
    const int previous = OpenCurrent(whyNot);
    if (previous < 0)
        return nullptr;
    if (unshare(CLONE_NEWNET) != 0) {
        whyNot = SystemError(QStringLiteral("cannot create a network namespace (not root?)"));
        close(previous);
        return nullptr;
    }
    return std::unique_ptr<NetworkNamespace>(new NetworkNamespace(previous));
}

std::unique_ptr<NetworkNamespace> NetworkNamespace::EnterNamed(const QString& name, QString& whyNot)
{
    const int previous = OpenCurrent(whyNot);
    if (previous < 0)
        return nullptr;
    const QByteArray path = QByteArrayLiteral("/run/netns/") + name.toLocal8Bit();
    const int target = open(path.constData(), O_RDONLY | O_CLOEXEC);
    const bool entered = target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (!entered)
        whyNot = SystemError(QStringLiteral("cannot enter network namespace ") + name);
    if (target >= 0)
        close(target);
    if (!entered) {
        close(previous);
        return nullptr;
    }
    return std::unique_ptr<NetworkNamespace>(new NetworkNamespace(previous));
}
