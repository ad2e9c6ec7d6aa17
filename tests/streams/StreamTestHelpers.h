#pragma once

#include <functional>
#include <initializer_list>

#include <QByteArray>

#include "streams/MemStream.h"

// Byte builders and probes shared by the stream tests. Expected bytes are
// spelled out in the tests; these only move them in and out of streams.

// A stream holding exactly these bytes, read position 0.
MemStream StreamOf(const QByteArray& bytes);
MemStream StreamOf(std::initializer_list<int> bytes);
QByteArray Bytes(std::initializer_list<int> bytes);

// Everything written to the stream, from its first byte.
QByteArray WrittenBytes(const MemStream& stream);
// The bytes not yet read.
QByteArray PendingBytes(const MemStream& stream);

// Outcome of running a function in a child process.
struct ChildOutcome
{
    bool exited = false;   // returned from the function and exited normally
    int exitCode = -1;     // when exited
    int signal = 0;        // the signal that ended it, otherwise
    QByteArray stderrText; // everything the child wrote to stderr
};

// Runs body in a forked child with stderr captured; the child exits with the
// value body returns. For checking assertions that abort and for memory
// limits that must not touch the test process.
ChildOutcome RunInChild(const std::function<int()>& body);

// Whether this build runs under AddressSanitizer, which reserves far more
// address space than a memory limit test can allow.
bool BuiltWithAddressSanitizer();
