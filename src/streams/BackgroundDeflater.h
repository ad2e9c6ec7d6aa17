#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <thread>

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include "streams/StreamDeflater.h"

// A StreamDeflater on a thread of its own. Compressing at zlib's highest
// level runs at a few megabytes a second, far slower than a body is
// written; the writer hands its pieces over and goes on, and waits only
// when the pieces not yet compressed pass MaxBacklog, so that neither the
// writer's thread nor memory carries the whole body.
//
// One thread writes; the output is read once Finish has returned.
class BackgroundDeflater
{
public:
    static constexpr std::size_t MaxBacklog = 4 * 1024 * 1024;

    BackgroundDeflater();
    // A stream not finished is abandoned: what is queued is dropped.
    ~BackgroundDeflater();
    BackgroundDeflater(const BackgroundDeflater&) = delete;
    BackgroundDeflater& operator=(const BackgroundDeflater&) = delete;

    // Queues the next piece of the body; false once compression failed.
    bool Write(std::string piece);
    // True once the backlog is below MaxBacklog, waiting for that at most
    // until the deadline.
    bool WaitForRoom(const QDeadlineTimer& deadline);
    // Compresses what is queued, ends the stream and waits for all of it;
    // true when every byte went in. Nothing may be written after.
    bool Finish();
    // After Finish: the compressed stream, as StreamDeflater gives it.
    std::size_t Size() const { return m_deflater.Size(); }
    void MoveTo(char* destination) { m_deflater.MoveTo(destination); }

private:
    void Run();

    StreamDeflater m_deflater;
    QMutex m_mutex;
    QWaitCondition m_changed;
    std::deque<std::string> m_queue;
    std::size_t m_backlog = 0;
    bool m_closing = false;
    bool m_abandoned = false;
    bool m_failed = false;
    std::thread m_thread;
};
