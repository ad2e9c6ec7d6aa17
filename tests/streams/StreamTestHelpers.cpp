#include "StreamTestHelpers.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return stream;
}

QByteArray Bytes(std::initializer_list<int> bytes)
{
    QByteArray result;
    for (int byte : bytes)
        result.append(static_cast<char>(byte));
    return result;
}

MemStream StreamOf(std::initializer_list<int> bytes)
{
    return StreamOf(Bytes(bytes));
}

QByteArray WrittenBytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

QByteArray PendingBytes(const MemStream& stream)
{
    return QByteArray(stream.GetReadBuffer(), stream.GetPendingReadLength());
}

ChildOutcome RunInChild(const std::function<int()>& body)
{
    ChildOutcome outcome;
    int fds[2];
    if (pipe(fds) != 0)
        return outcome;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return outcome;
    }
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        close(fds[1]);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    close(fds[1]);
    char chunk[4096];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0)
        outcome.stderrText.append(chunk, static_cast<qsizetype>(got));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

bool BuiltWithAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}
