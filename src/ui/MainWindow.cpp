#include "MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include "base/Settings.h"
#include "server/LoginFailure.h"
#include "server/Server.h"
#include "sharing/SharedFoldersManager.h"
#include "ui/AddSharedFolderDialog.h"
#include "ui/DiagnosticsForm.h"
#include "ui/LoginDialog.h"
#include "ui/SharedFilesRescannedDialog.h"
#include "ui/SharedFoldersView.h"

MainWindow* mainWindow = nullptr;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_startUp(this), m_tabs(new QTabWidget(this)),
      m_diagnostics(new DiagnosticsForm(this)), m_sharedFolders(new SharedFoldersView(this)),
      m_connectionState(new QLabel("Offline", this))
{
    mainWindow = this;
    setWindowTitle("Quorvale");

    QMenu* shares = menuBar()->addMenu("Shares");
    m_sharesActions << CreateAction("share_folder", "Share Folder", shares)
                    << CreateAction("unshare_folder", "Unshare Folder", shares)
                    << CreateAction("rescan_shares", "Rescan Shares", shares);

    m_tabs->addTab(CreateSharesPage(), "Shared folders");
    m_tabs->addTab(m_diagnostics, "Diagnostics");
    setCentralWidget(m_tabs);
    statusBar()->addPermanentWidget(m_connectionState);

    resize(900, 600);
}

MainWindow::~MainWindow()
{
    m_startUp.Shutdown();
    if (mainWindow == this)
        mainWindow = nullptr;
}

QAction* MainWindow::CreateAction(const char* key, const char* text, QMenu* menu)
{
    auto* action = new QAction(text, this);
    action->setObjectName(key);
    const std::string id = key;
    connect(action, &QAction::triggered, this, [this, id] { OnToolBarActionTriggered(id); });
    menu->addAction(action);
    return action;
}

QWidget* MainWindow::CreateSharesPage()
{
    auto* page = new QWidget(this);
    auto* tools = new QToolBar(page);
    tools->addActions(m_sharesActions);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(tools);
    layout->addWidget(m_sharedFolders);
    return page;
}

void MainWindow::Init()
{
    m_startUp.Init();
}

void MainWindow::PrepareLogging()
{
    m_diagnostics->Init();
}

void MainWindow::ManagersCreated()
{
    connect(gp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(gp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(gp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);
    connect(sharedFoldersManager, &SharedFoldersManager::RescanProgress, this,
            &MainWindow::OnRescanProgress);
    connect(sharedFoldersManager, &SharedFoldersManager::ScanningFinished, statusBar(),
            &QStatusBar::clearMessage);
    m_sharedFolders->Init();
}

void MainWindow::SnapshotLoadFailed(const char* title, const char* text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}

void MainWindow::SnapshotLoaded()
{
    // The start-up rescan begins right after this returns.
    m_startUpRescanPending = true;
    if (Settings::Get("username").empty()) {
        LoginDialog dialog(true, nullptr);
        dialog.exec();
    }
}

void MainWindow::OnToolBarActionTriggered(const std::string& action)
{
    if (action == "share_folder")
        ShareFolder();
    else if (action == "unshare_folder")
        UnshareFolders();
    else if (action == "rescan_shares")
        sharedFoldersManager->RescanShares();
}

void MainWindow::ShareFolder()
{
    AddSharedFolderDialog dialog(this);
    dialog.exec();
}

void MainWindow::UnshareFolders()
{
    std::vector<std::string> paths;
    for (const QString& path : m_sharedFolders->SelectedPaths())
        paths.push_back(path.toStdString());
    sharedFoldersManager->UnshareFolders(paths);
}

void MainWindow::OnSharedFilesRescanned(int added, int removed)
{
    const bool startUpRescan = m_startUpRescanPending;
    m_startUpRescanPending = false;
    if (startUpRescan && added == 0 && removed == 0)
        return;
    if (!m_rescannedDialog)
        m_rescannedDialog = new SharedFilesRescannedDialog(this);
    m_rescannedDialog->ShowCounts(added, removed);
}

void MainWindow::OnRescanProgress(int folders, int files)
{
    statusBar()->showMessage(
        QString("Scanning shares: %1 folders, %2 files").arg(folders).arg(files));
}

void MainWindow::OnConnecting()
{
    m_connectionState->setText("Connecting...");
}

void MainWindow::OnConnected()
{
    m_connectionState->setText(
        QString("Online as %1").arg(QString::fromStdString(Settings::Get("username"))));
}

void MainWindow::OnDisconnected()
{
    m_connectionState->setText("Offline");
}

void MainWindow::OnConnectionFailed(const std::string& reason)
{
    m_connectionState->setText("Offline");
    const LoginFailure failure(reason);
    QMessageBox::warning(this, failure.Title(), failure.Text(), QMessageBox::Ok);
}
