#pragma once

#include <ctime>
#include <map>
#include <string>

#include <QMainWindow>
#include <QSystemTrayIcon>

#include "app/StartUp.h"
#include "app/StartUpHost.h"
#include "store/DataHandler.h"
#include "ui/ChatForms.h"
#include "ui/ChatHost.h"
#include "ui/ResizableWindow.h"

class ActionSetToolBar;
class DataDialog;
class DiagnosticsForm;
class DownloadNotifier;
class EventToolBar;
class QAction;
class QCheckBox;
class QLabel;
class QShowEvent;
class QLineEdit;
class QSplitter;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class SearchForm;
class SharedFilesRescannedDialog;
class SharedFoldersView;
class SharesForm;
class TransfersForm;
class UserListForm;
struct ConnectionInfo;

// The window a person lives in: rooms with their list, private chats,
// shared folders, options and diagnostics as pages under one action tool
// bar that follows the focus; the connection state in the menu, the icon
// and the status bar; a tray icon to hide in. It runs the shared start-up
// sequence and wires its own parts in between the steps.
class MainWindow : public QMainWindow, public StartUpHost, public DataHandler, public ChatHost
{
    Q_OBJECT

public:
    // Reports the window's geometry to the size manager.
    class SizeProxy : public ResizableWindow
    {
    public:
        explicit SizeProxy(MainWindow* window) : ResizableWindow(window), m_window(window) {}
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int x, int y) override;
        void SetSize(int width, int height) override;

    private:
        MainWindow* m_window;
    };

    static constexpr const char* OnlineOnlyTitle = "Cannot change username while online";
    static constexpr const char* OnlineOnlyText =
        "You must be disconnected from the Quorvale server to change your username.";

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();

    // StartUpHost
    void PrepareLogging() override;
    void ManagersCreated() override;
    void SnapshotLoadFailed(const char* title, const char* text) override;
    void SnapshotLoaded() override;

    // The user's private chat form, created in its own tab when there is none.
    ChatFormClass* GetChatForm(const std::string& user);
    // Shows the user's chat and puts the focus in it.
    void OpenChatForm(const std::string& user) override;
    void SetApplicationIcon(const QString& icon);
    void ResetApplicationIcon();
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    TransfersForm* Transfers() const { return m_transfers; }
    SearchForm* Search() const { return m_search; }
    // The page with this title, to reach it without counting tabs.
    QWidget* Page(const QString& title) const;
    void ShowPage(const QString& title);
    SharesForm* Shares() const { return m_shares; }
    DownloadNotifier* DownloadNotifications() const { return m_downloadNotifier; }
    // Whether the desktop has a tray to hide in; without one, closing the
    // window quits rather than leave it unreachable. Read at start; tests
    // and late-starting panels may set it.
    void SetSystemTrayAvailable(bool available) { m_trayAvailable = available; }
    // A quit was asked for (perhaps during start-up, before the main loop).
    bool IsQuitting() const { return m_quitting; }

public slots:
    // Carries out a command of the action tool bar by its id; the context
    // ("room", "user") comes from the bar's keys.
    void OnToolBarActionTriggered(const std::string& action);
    void OnSharedFilesRescanned(int added, int removed);
    void OnRescanProgress(int folders, int files);
    void OnPrivateChat(const std::string& user, const std::string& text, qint64 time, bool flag);
    // Leaves through the normal shutdown from anywhere, also from inside a
    // modal dialog: open dialogs are closed and every event loop ends.
    void Quit();
    // Closes every open modal dialog, innermost first.
    static void CloseModalDialogs();

signals:
    // A desktop notification went out through the tray icon.
    void Notified(const QString& title, const QString& text);

private slots:
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(const std::string& reason);
    void OnConnectMenuOptionClicked();
    void OnDisconnectMenuOptionClicked();
    // Shows the item-store viewer.
    void OnShowData();
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void OnUPnPCheckboxToggled(bool checked);
    void OnMinimizeToTrayCheckboxToggled(bool checked);
    void OnExpandNewSharesCheckboxToggled(bool checked);
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* row);
    void OnRoomTabClosed(int index);
    void OnChatTabClosed(int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateMenus();
    void FocusCurrentPageIfUnfocused();
    QWidget* CreateRoomsPage();
    QWidget* CreateSharesPage();
    QWidget* CreateOptionsPage();
    void AddPage(QWidget* page, const QString& title, const QString& icon);
    void CreateTrayIcon();
    void DeclareActionSets();
    void DeclareTypes();
    void FillOptions();
    void RegisterGeometry();

    void OnUserCount(ConnectionInfo& info);
    void OnEnteredRoom(ConnectionInfo& info);
    void OnSettingChanged(ConnectionInfo& info);
    void OpenRoomForm(const std::string& room);
    void ChangeUserPass();
    void SetDownloadFolder();
    void ShowDownloadFolder(const QString& folder);
    void ShareFolder();
    void UnshareFolders();
    void ToggleRoomAutojoin(const std::string& room);
    void AddUserToList(const std::string& user);
    void Notify(const std::string& user, const std::string& text);
    void OnDownloadComplete(ItemPtr download);

    StartUp m_startUp;
    SizeProxy* m_sizeProxy;
    ActionSetToolBar* m_actionBar;
    EventToolBar* m_eventBar;
    QTabWidget* m_tabs;
    QSplitter* m_roomSplitter = nullptr;
    QTreeWidget* m_roomList = nullptr;
    QTabWidget* m_roomTabs = nullptr;
    QTabWidget* m_chatTabs;
    DiagnosticsForm* m_diagnostics;
    SharedFoldersView* m_sharedFolders;
    UserListForm* m_userList;
    TransfersForm* m_transfers;
    SearchForm* m_search;
    SharesForm* m_shares;
    DownloadNotifier* m_downloadNotifier;
    QWidget* m_sharesPage = nullptr;
    QWidget* m_options = nullptr;
    QLineEdit* m_usernameField = nullptr;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_downloadFolderField = nullptr;
    QLineEdit* m_optionsDownloadFolderField = nullptr;
    QCheckBox* m_upnpBox = nullptr;
    QCheckBox* m_trayBox = nullptr;
    QCheckBox* m_expandBox = nullptr;
    SharedFilesRescannedDialog* m_rescannedDialog = nullptr;
    DataDialog* m_dataDialog = nullptr;
    QLabel* m_connectionState;
    QAction* m_connectAction = nullptr;
    QAction* m_disconnectAction = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    std::map<std::string, QTreeWidgetItem*> m_roomRows;
    // Every launch rescans; that rescan is only worth a dialog when it
    // changed something.
    bool m_startUpRescanPending = false;
    // Set by Quit: closing the window then really closes it instead of
    // hiding it in the tray.
    bool m_quitting = false;
    bool m_trayAvailable;
};

extern MainWindow* mainWindow;
