#pragma once

#include <QString>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "app/StartUp.h"

// One download between two real client cores on loopback: a lab server and
// a headless node as child processes, the node sharing a file, and this
// process running the whole start-up sequence with a home of its own and
// downloading that file through its transfer queue. The core is started by
// the first run and shut down with this object; there is one per process.
class CoreTransfer
{
public:
    CoreTransfer();

    struct Outcome
    {
        double seconds = 0;
        // CPU spent by this process (the downloader) and by the node.
        double downloadCpuSeconds = 0;
        double uploadCpuSeconds = 0;
        double stallMs = 0;
        // How the loop thread spent that longest stall: running, and
        // waiting for a core.
        double stallCpuMs = 0;
        double stallQueuedMs = 0;
    };

    // Downloads `size` bytes from the node and times it from the moment the
    // download starts receiving to its completion; exits the process with a
    // message when anything fails or the file arrives short.
    Outcome Run(qint64 size);

private:
    void StartOwnCore(quint16 serverPort);

    QTemporaryDir m_home;
    BenchSupport::Host m_host;
    StartUp m_startUp;
};
