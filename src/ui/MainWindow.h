#pragma once

#include <string>

#include <QMainWindow>

#include "app/StartUp.h"
#include "app/StartUpHost.h"

class DiagnosticsForm;
class QAction;
class QLabel;
class QMenu;
class QTabWidget;
class SharedFilesRescannedDialog;
class SharedFoldersView;

// The main window: the shared folders and the diagnostics view in tabs, the
// connection state and scan progress in the status bar. It runs the shared
// start-up sequence and wires its own parts in between the steps.
class MainWindow : public QMainWindow, public StartUpHost
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();

    // StartUpHost
    void PrepareLogging() override;
    void ManagersCreated() override;
    void SnapshotLoadFailed(const char* title, const char* text) override;
    void SnapshotLoaded() override;

public slots:
    // Carries out a command by its action key ("share_folder",
    // "unshare_folder", "rescan_shares"); menus and buttons all come here.
    void OnToolBarActionTriggered(const std::string& action);
    void OnSharedFilesRescanned(int added, int removed);
    void OnRescanProgress(int folders, int files);

private slots:
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(const std::string& reason);

private:
    QWidget* CreateSharesPage();
    QAction* CreateAction(const char* key, const char* text, QMenu* menu);
    void ShareFolder();
    void UnshareFolders();

    StartUp m_startUp;
    QTabWidget* m_tabs;
    DiagnosticsForm* m_diagnostics;
    SharedFoldersView* m_sharedFolders;
    SharedFilesRescannedDialog* m_rescannedDialog = nullptr;
    QLabel* m_connectionState;
    QList<QAction*> m_sharesActions;
    // Every launch rescans; that rescan is only worth a dialog when it
    // changed something.
    bool m_startUpRescanPending = false;
};

extern MainWindow* mainWindow;
