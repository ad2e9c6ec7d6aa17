#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Written from the signal handler, read on the event loop: the only thing a
// handler may safely do is write a byte.
int g_signalPipe[2] = {-1, -1};
bool g_quitRequested = false;
} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignal::OnSignal);

    struct sigaction action = {};
    action.sa_handler = &QuitOnSignal::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

QuitOnSignal::~QuitOnSignal()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::signal(signal, SIG_DFL);
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool QuitOnSignal::IsQuitRequested()
{
    return g_quitRequested;
}

void QuitOnSignal::Handler(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

void QuitOnSignal::OnSignal()
{
    char byte;
    [[maybe_unused]] ssize_t read = ::read(g_signalPipe[1], &byte, 1);
    g_quitRequested = true;
    emit QuitRequested();
    // exit, not quit: quit does nothing before the main loop runs. exit
    // ends every running loop, nested ones included, and any loop started
    // afterwards returns at once.
    QCoreApplication::exit(0);
}
