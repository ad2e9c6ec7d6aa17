#pragma once

#include <cstdio>
#include <functional>
#include <initializer_list>

#include <QByteArray>

#include <sys/wait.h>
#include <unistd.h>

#include "streams/MemStream.h"

// Moves spelled-out bytes in and out of streams; the tests write the bytes.
inline QByteArray Bytes(std::initializer_list<int> bytes)
{
    QByteArray result;
    for (int byte : bytes)
        result.append(static_cast<char>(byte));
    return result;
}

inline MemStream StreamOf(const QByteArray& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return stream;
}

inline MemStream StreamOf(std::initializer_list<int> bytes)
{
    return StreamOf(Bytes(bytes));
}

inline QByteArray WrittenBytes(const MemStream& stream)
{
    return QByteArray(stream.GetBuffer(), stream.GetBufferLength());
}

inline QByteArray PendingBytes(const MemStream& stream)
{
    return QByteArray(stream.GetReadBuffer(), stream.GetPendingReadLength());
}

struct ChildOutcome
{
    int exitCode = -1; // when body returned and the child exited normally
    int signal = 0;    // the signal that ended it otherwise
    QByteArray stderrText;
};

// Runs body in a forked child with stderr captured (aborts, memory limits).
inline ChildOutcome RunInChild(const std::function<int()>& body)
{
    ChildOutcome outcome;
    int fds[2];
    if (pipe(fds) != 0)
        return outcome;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    close(fds[1]);
    char chunk[4096];
    ssize_t got;
    while (pid > 0 && (got = read(fds[0], chunk, sizeof chunk)) > 0)
        outcome.stderrText.append(chunk, static_cast<qsizetype>(got));
    close(fds[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return outcome;
}
