#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "LabServerProcess.h"
#include "app/StartUp.h"
#include "store/ItemPtr.h"

// Downloads into a real client core on loopback: this process runs the
// whole start-up sequence with a home of its own, logged in to a lab server
// child process, and downloads through its transfer queue, either one file
// from a headless node (another whole core) or many files at once from
// uploaders the benchmark plays. The core is started by the first run and
// shut down with this object; there is one per process.
class CoreTransfer
{
public:
    CoreTransfer();

    struct Outcome
    {
        double seconds = 0;
        // CPU spent by this process (the downloader) and by the node.
        double downloadCpuSeconds = 0;
        // Of that, what the event loop's thread spent: the store, the
        // messaging and whatever window follows the downloads.
        double loopCpuSeconds = 0;
        double uploadCpuSeconds = 0;
        double stallMs = 0;
        // How the loop thread spent that longest stall: running, and
        // waiting for a core.
        double stallCpuMs = 0;
        double stallQueuedMs = 0;
        double rssMiB = 0;
    };

    // Downloads `size` bytes from the node and times it from the moment the
    // download starts receiving to its completion; exits the process with a
    // message when anything fails or the file arrives short.
    Outcome Run(qint64 size);
    // `count` downloads of `size` bytes at once, from `count` uploaders,
    // timed from the first start of receiving to the last completion.
    Outcome RunMany(int count, qint64 size);

private:
    void StartOwnCore();
    // Follows the downloads to their end, all of which must complete, with
    // the loop watched from the first start on.
    Outcome Follow(const std::vector<ItemPtr>& downloads, const std::function<double()>& otherCpu);
    static void RemoveCompleted(const std::vector<ItemPtr>& downloads, qint64 size);

    QTemporaryDir m_home;
    LabServerProcess m_server;
    BenchSupport::Host m_host;
    StartUp m_startUp;
    // Uploaders of each RunMany log in under names of their own.
    int m_batches = 0;
};
