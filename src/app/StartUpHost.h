#pragma once

// What the start-up sequence needs from whoever runs it: the window, or a
// headless program. The sequence calls these at fixed points so the host can
// wire itself in between the core steps.
class StartUpHost
{
public:
    virtual ~StartUpHost() = default;

    // Before any manager exists: the place to install the log sink so that
    // nothing the managers log is lost.
    virtual void PrepareLogging() {}
    // Every manager exists and has declared its types; the snapshot is not
    // loaded yet.
    virtual void ManagersCreated() {}
    // The snapshot could not be read and the store was emptied. The window
    // shows an information box; start-up continues afterwards either way.
    virtual void SnapshotLoadFailed(const char* title, const char* text) = 0;
    // The snapshot is loaded and the store holds the user's state. The
    // window asks for a user name here when there is none; right after this
    // the client connects if a user name is set.
    virtual void SnapshotLoaded() {}
};
