#include "StartUp.h"

#include <QDir>
#include <QFile>
#include <QMetaType>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/StartUpHost.h"
#include "base/DelayedInvoker.h"
#include "base/Settings.h"
#include "base/SettingsTypes.h"
#include "base/TimerManager.h"
#include "dnet/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "search/WishListSearcher.h"
#include "server/Server.h"
#include "sharing/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "transfers/TransferQueueManager.h"

bool g_showIsOver = false;

namespace {

// glibc serves a block from its heaps unless it is larger than a threshold
// that rises to the size of every large block freed, up to 32 MiB. A share
// listing, a snapshot's item list or a peer's big message are such blocks,
// made now and then and freed soon after, so they raise it and their
// successors are then carved from the heaps, which keep freed memory for
// reuse: after the first listing of a million-file share the program stayed
// tens of megabytes larger than before it for good, and the next save
// stacked on top. A fixed threshold keeps every block of a megabyte or more
// a mapping of its own, given back to the system as soon as it is freed.
void ReturnLargeBlocks()
{
#ifdef __GLIBC__
    constexpr int LargeBlock = 1024 * 1024;
    ::mallopt(M_MMAP_THRESHOLD, LargeBlock);
#endif
}

} // namespace

StartUp::StartUp(StartUpHost* host) : m_host(host) {}

StartUp::~StartUp()
{
    Shutdown();
}

QString StartUp::SnapshotPath()
{
    return QDir::homePath() + "/.Quorvale";
}

void StartUp::Init()
{
    if (m_started)
        return;
    m_started = true;
    g_showIsOver = false;
    ReturnLargeBlocks();
    m_host->PrepareLogging();

    new TimerManager();
    dataSaver = new DataSaver();
    new Server();
    Server::CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
    new PeerMessenger();
    DeclareStartUpTypes();
    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager();
    new TransferQueueManager();
    new WishListSearcher();
    m_host->ManagersCreated();

    StoreDefaults();
    LoadSnapshot();
    m_host->SnapshotLoaded();
    sharedFoldersManager->Init();
    if (!Settings::Get("username").empty())
        gp_server->Connect();

    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &StartUp::EveryFiveMinutes);
}

void StartUp::DeclareStartUpTypes()
{
    Settings::DeclareSchema(*dataSaver);

    // The wish list is the window's as much as the searcher's: its types
    // exist before either, so saved entries load whoever shows them.
    WishListSearcher::DeclareSchema(*dataSaver);
}

void StartUp::StoreDefaults()
{
    Settings::SetYes("minimize_to_tray", true);
    Settings::SetYes("expand_new_shares", true);
}

void StartUp::LoadSnapshot()
{
    try {
        dataSaver->Load(QFile::encodeName(SnapshotPath()).constData());
    } catch (...) {
        DiscardCurrentStoreException();
        m_host->SnapshotLoadFailed(LoadFailureTitle, LoadFailureText);
    }
}

void StartUp::CollectAndSave()
{
    d.RemoveDisconnectedItems();
    dataSaver->Save(QFile::encodeName(SnapshotPath()).constData());
}

// The periodic save only reads the store on the loop; writing and syncing
// a snapshot of a large share, seconds on a slow disk, happens meanwhile on
// the saver's own thread.
void StartUp::EveryFiveMinutes()
{
    const QByteArray path = QFile::encodeName(SnapshotPath());
    // A store nobody changed since the last snapshot has no new garbage and
    // nothing the file lacks; with a large share, collecting and reading it
    // held the loop for seconds every five minutes for nothing.
    if (!dataSaver->HasUnsavedChanges(path.constData()))
        return;
    d.RemoveDisconnectedItems();
    dataSaver->SaveInBackground(path.constData());
}

void StartUp::Shutdown()
{
    if (!m_started || m_stopped)
        return;
    m_stopped = true;
    g_showIsOver = true;
    gp_server->Disconnect();

    CollectAndSave();

    delete wishListSearcher;
    delete transferQueueManager;
    delete sharedFoldersManager;
    delete delayedInvoker;
    delete dnetManager;
    delete peerMessenger;
    delete gp_server;
    delete dataSaver;
    dataSaver = nullptr;
    delete timerManager;
}
