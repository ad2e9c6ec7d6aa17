#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "server/LoginFailure.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddSharedFolderDialog.h"
#include "ui/ChatSchema.h"
#include "ui/ChatTypes.h"
#include "ui/DataDialog.h"
#include "ui/DiagnosticsForm.h"
#include "ui/DownloadNotifier.h"
#include "ui/EventToolBar.h"
#include "ui/ListeningPortDialog.h"
#include "ui/LoginDialog.h"
#include "ui/SearchForm.h"
#include "ui/ShareForm.h"
#include "ui/SharedFilesRescannedDialog.h"
#include "ui/SharedFoldersView.h"
#include "ui/SharesForm.h"
#include "ui/SizeManager.h"
#include "ui/TransfersForm.h"
#include "ui/UserListForm.h"
#include "upnp/PortForwarder.h"

MainWindow* mainWindow = nullptr;

namespace {
constexpr const char* OnlineIcon = ":/icons/online_icon";
constexpr const char* OfflineIcon = ":/icons/offline_icon";
// How much of a private message the desktop notification shows.
constexpr int NotificationLength = 80;

// The options store "no" rather than no value: "minimize_to_tray" and
// "expand_new_shares" get "yes" as a default before every load, which an
// absent value would not override.
void StoreYesNo(const char* key, bool yes)
{
    Settings::Set(key, yes ? "yes" : "no");
}
} // namespace

int MainWindow::SizeProxy::GetX()
{
    return m_window->x();
}

int MainWindow::SizeProxy::GetY()
{
    return m_window->y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return m_window->width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return m_window->height();
}

void MainWindow::SizeProxy::SetPosition(int x, int y)
{
    m_window->move(x, y);
}

void MainWindow::SizeProxy::SetSize(int width, int height)
{
    m_window->resize(width, height);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_startUp(this), m_sizeProxy(new SizeProxy(this)),
      m_actionBar(new ActionSetToolBar(this)), m_eventBar(new EventToolBar(this)),
      m_tabs(new QTabWidget(this)), m_chatTabs(new QTabWidget(this)),
      m_diagnostics(new DiagnosticsForm(this)), m_sharedFolders(new SharedFoldersView(this)),
      m_userList(new UserListForm(this)), m_transfers(new TransfersForm(this)),
      m_search(new SearchForm(this)), m_shares(new SharesForm(this)),
      m_downloadNotifier(new DownloadNotifier(this)), m_connectionState(new QLabel("Offline", this))
{
    mainWindow = this;
    chatHost = this;
    m_trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    setWindowTitle("Quorvale");
    addToolBar(m_actionBar);
    addToolBar(m_eventBar);
    connect(m_eventBar, &EventToolBar::AlertIconShown, this, &MainWindow::SetApplicationIcon);
    connect(m_eventBar, &EventToolBar::AlertIconCleared, this, &MainWindow::ResetApplicationIcon);
    connect(m_actionBar, &ActionSetToolBar::ActionTriggered, this,
            &MainWindow::OnToolBarActionTriggered);
    CreateMenus();

    m_chatTabs->setObjectName("chat_tabs");
    m_chatTabs->setTabsClosable(true);
    connect(m_chatTabs, &QTabWidget::tabCloseRequested, this, &MainWindow::OnChatTabClosed);
    ActionSetToolBar::AutoFocusTabWidget(m_chatTabs);

    AddPage(CreateRoomsPage(), "Rooms", ":/icons/room_icon");
    AddPage(m_chatTabs, "Private Chat", ":/icons/chat_icon");
    AddPage(m_search, "Search", ":/icons/search_icon");
    AddPage(m_transfers, "Transfers", ":/icons/transfers_icon");
    AddPage(m_shares, "Browse", ":/icons/browse_icon");
    AddPage(m_userList, "User List", ":/icons/user_list_icon");
    AddPage(CreateSharesPage(), "Shared Folders", ":/icons/share_folder_icon");
    AddPage(CreateOptionsPage(), "Options", ":/icons/options_icon");
    AddPage(m_diagnostics, "Diagnostics", ":/icons/diagnostics_icon");
    ActionSetToolBar::AutoFocusTabWidget(m_tabs);
    setCentralWidget(m_tabs);
    connect(m_transfers, &TransfersForm::DownloadComplete, this, &MainWindow::OnDownloadComplete);
    // A listing comes because the user asked for it: show it.
    connect(m_shares, &SharesForm::ShareOpened, this, [this](ShareForm* form) {
        m_tabs->setCurrentWidget(m_shares);
        form->setFocus();
    });
    connect(m_shares, &SharesForm::DownloadsQueued, this, [this](const QString& user, int count) {
        statusBar()->showMessage(QString("Queued %1 file(s) from %2").arg(count).arg(user), 5000);
    });
    connect(m_downloadNotifier, &DownloadNotifier::Notify, this,
            [this](const QString& title, const QString& text) {
                m_tray->showMessage(title, text, QSystemTrayIcon::Information);
            });
    statusBar()->addPermanentWidget(m_connectionState);
    CreateTrayIcon();
    ResetApplicationIcon();

    resize(900, 600);
}

MainWindow::~MainWindow()
{
    RemoveDataHandlers();
    m_startUp.Shutdown();
    delete sizeManager;
    if (mainWindow == this)
        mainWindow = nullptr;
    if (chatHost == this)
        chatHost = nullptr;
}

void MainWindow::AddPage(QWidget* page, const QString& title, const QString& icon)
{
    const int index = m_tabs->addTab(page, QIcon(icon), title);
    // Alt+1 to Alt+9 reach every page without the mouse, in tab order.
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | (Qt::Key_1 + index)), this);
    connect(shortcut, &QShortcut::activated, this,
            [this, index] { m_tabs->setCurrentIndex(index); });
}

QWidget* MainWindow::Page(const QString& title) const
{
    for (int n = 0; n < m_tabs->count(); ++n)
        if (m_tabs->tabText(n) == title)
            return m_tabs->widget(n);
    return nullptr;
}

void MainWindow::ShowPage(const QString& title)
{
    if (QWidget* page = Page(title))
        m_tabs->setCurrentWidget(page);
}

void MainWindow::CreateMenus()
{
    QMenu* menu = menuBar()->addMenu("&Quorvale");
    m_connectAction = menu->addAction(QIcon(":/icons/connect_icon"), "&Connect");
    m_connectAction->setObjectName("connect");
    connect(m_connectAction, &QAction::triggered, this, &MainWindow::OnConnectMenuOptionClicked);
    m_disconnectAction = menu->addAction(QIcon(":/icons/disconnect_icon"), "&Disconnect");
    m_disconnectAction->setObjectName("disconnect");
    m_disconnectAction->setEnabled(false);
    connect(m_disconnectAction, &QAction::triggered, this,
            &MainWindow::OnDisconnectMenuOptionClicked);
    QAction* data = menu->addAction(QIcon(":/icons/data_icon"), "&Data");
    data->setObjectName("show_data");
    connect(data, &QAction::triggered, this, &MainWindow::OnShowData);
    menu->addSeparator();
    QAction* quit = menu->addAction("&Quit");
    quit->setObjectName("quit");
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &MainWindow::Quit);
}

QWidget* MainWindow::CreateRoomsPage()
{
    m_roomSplitter = new QSplitter(this);
    m_roomList = new QTreeWidget(m_roomSplitter);
    m_roomList->setObjectName("room_list");
    m_roomList->setHeaderLabels({"Room", "Users"});
    m_roomList->setRootIsDecorated(false);
    m_roomList->setSortingEnabled(true);
    m_roomList->sortByColumn(1, Qt::DescendingOrder);
    connect(m_roomList, &QTreeWidget::itemDoubleClicked, this,
            &MainWindow::OnRoomListItemDoubleClicked);
    // Return enters the current room, as a double click does.
    auto* enter = new QShortcut(QKeySequence(Qt::Key_Return), m_roomList, nullptr, nullptr,
                                Qt::WidgetShortcut);
    connect(enter, &QShortcut::activated, this,
            [this] { OnRoomListItemDoubleClicked(m_roomList->currentItem()); });

    m_roomTabs = new QTabWidget(m_roomSplitter);
    m_roomTabs->setObjectName("room_tabs");
    m_roomTabs->setTabsClosable(true);
    connect(m_roomTabs, &QTabWidget::tabCloseRequested, this, &MainWindow::OnRoomTabClosed);
    ActionSetToolBar::AutoFocusTabWidget(m_roomTabs);
    m_roomSplitter->setStretchFactor(1, 1);
    return m_roomSplitter;
}

QWidget* MainWindow::CreateSharesPage()
{
    auto* page = m_sharesPage = new QWidget(this);
    m_downloadFolderField = new QLineEdit(page);
    m_downloadFolderField->setObjectName("download_folder");
    m_downloadFolderField->setReadOnly(true);
    m_expandBox = new QCheckBox("Expand the folders of browsed shares", page);
    m_expandBox->setObjectName("expand_new_shares");
    connect(m_expandBox, &QCheckBox::toggled, this, &MainWindow::OnExpandNewSharesCheckboxToggled);

    auto* form = new QFormLayout;
    form->addRow("Download folder:", m_downloadFolderField);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_sharedFolders);
    layout->addLayout(form);
    layout->addWidget(m_expandBox);
    return page;
}

QWidget* MainWindow::CreateOptionsPage()
{
    m_options = new QWidget(this);
    m_usernameField = new QLineEdit(m_options);
    m_usernameField->setObjectName("username");
    m_usernameField->setReadOnly(true);
    m_portField = new QLineEdit(m_options);
    m_portField->setObjectName("listening_port");
    m_portField->setReadOnly(true);
    // Shown here as well: this is the page a user opens to look for it.
    m_optionsDownloadFolderField = new QLineEdit(m_options);
    m_optionsDownloadFolderField->setObjectName("options_download_folder");
    m_optionsDownloadFolderField->setReadOnly(true);
    m_upnpBox = new QCheckBox("Forward the listening ports with UPnP", m_options);
    m_upnpBox->setObjectName("use_upnp");
    m_trayBox = new QCheckBox("Minimize to the tray when the window is closed", m_options);
    m_trayBox->setObjectName("minimize_to_tray");
    connect(m_upnpBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(m_trayBox, &QCheckBox::toggled, this, &MainWindow::OnMinimizeToTrayCheckboxToggled);

    auto* layout = new QFormLayout(m_options);
    layout->addRow("User name:", m_usernameField);
    layout->addRow("Listening port:", m_portField);
    layout->addRow("Download folder:", m_optionsDownloadFolderField);
    layout->addRow(m_upnpBox);
    layout->addRow(m_trayBox);
    return m_options;
}

void MainWindow::CreateTrayIcon()
{
    m_tray = new QSystemTrayIcon(this);
    auto* menu = new QMenu(this);
    menu->addAction("Show Quorvale", this,
                    [this] { OnTrayIconActivated(QSystemTrayIcon::Trigger); });
    menu->addAction("Quit", this, &MainWindow::Quit);
    m_tray->setContextMenu(menu);
    m_tray->setToolTip("Quorvale");
    connect(m_tray, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
}

void MainWindow::Init()
{
    m_startUp.Init();
    if (m_quitting)
        return;
    activateWindow();
    FocusCurrentPageIfUnfocused();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FocusCurrentPageIfUnfocused();
}

void MainWindow::FocusCurrentPageIfUnfocused()
{
    // A page that is already showing gets no change signal, and a closed
    // dialog (the login) may leave no widget focused; the tool bar follows
    // the focus, so without this it would stay empty.
    if (!focusWidget() || !m_tabs->currentWidget()->isAncestorOf(focusWidget()))
        ActionSetToolBar::FocusCurrentPage(m_tabs);
}

void MainWindow::PrepareLogging()
{
    m_diagnostics->Init();
}

void MainWindow::DeclareTypes()
{
    ChatSchema::DeclareSchema();
}

void MainWindow::ManagersCreated()
{
    DeclareTypes();
    new SizeManager(*dataSaver);
    m_actionBar->ConnectServer();
    connect(gp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(gp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(gp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    // Queued: the box runs a loop of its own, which must not run while the
    // server connection is still inside its own handling of the failure.
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed,
            Qt::QueuedConnection);
    connect(gp_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);
    // A search typed anywhere (or run again from a download) shows its tab.
    connect(gp_server, &Server::SearchRequested, this,
            [this](unsigned int, const std::string&, bool wishList) {
                if (!wishList)
                    ShowPage("Search");
            });
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);
    connect(sharedFoldersManager, &SharedFoldersManager::RescanProgress, this,
            &MainWindow::OnRescanProgress);
    connect(sharedFoldersManager, &SharedFoldersManager::ScanningFinished, statusBar(),
            &QStatusBar::clearMessage);
    AddPairConnectionHandler(this, ServerTypes::UserCount, ServerTypes::Room,
                             &MainWindow::OnUserCount);
    AddPairConnectionHandler(this, ServerTypes::InRoom, ServerTypes::Room,
                             &MainWindow::OnEnteredRoom);
    AddPairConnectionHandler(this, "global", "global_value", &MainWindow::OnSettingChanged);
    m_sharedFolders->Init();
}

void MainWindow::SnapshotLoadFailed(const char* title, const char* text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}

void MainWindow::SnapshotLoaded()
{
    // Everything the tool bar knows lives in the store, which a failed load
    // empties: declare it only now.
    DeclareActionSets();
    m_userList->Init();
    m_transfers->Init();
    m_search->Init();
    m_shares->Init();
    m_actionBar->UpdatePrivilegesButton();
    RegisterGeometry();
    FillOptions();
    // The start-up rescan begins right after this returns.
    m_startUpRescanPending = true;
    if (Settings::Get("username").empty()) {
        LoginDialog dialog(true, nullptr);
        dialog.exec();
    }
}

void MainWindow::DeclareActionSets()
{
    m_actionBar->AddSetActions({
        {"room_list", "enter_room", "Enter Room", false, ":/icons/room_icon"},
        {"room_list", "create_room", "Create Room", false, ":/icons/room_icon"},
        {"room_list", "refresh_room_list", "Refresh Room List", false, ":/icons/rescan_icon"},
        {"room", "leave_room", "Leave Room", false, ":/icons/disconnect_icon"},
        {"room", "toggle_room_autojoin", "Toggle Room Autojoin", false, ":/icons/room_icon"},
        {"shared_folders", "set_download_folder", "Set Download Folder", false,
         ":/icons/download_icon"},
        {"shared_folders", "share_folder", "Share Folder", false, ":/icons/share_folder_icon"},
        {"shared_folders", "unshare_folder", "Unshare Folder", false,
         ":/icons/unshare_folder_icon"},
        {"shared_folders", "rescan_shares", "Rescan Shares", false, ":/icons/rescan_icon"},
        {"login_options", "set_user_pass", "Change Username/Password", false,
         ":/icons/online_icon"},
        {"login_options", "set_listening_port", "Change Listening Port", false,
         ":/icons/connect_icon"},
        {"login_options", "set_download_folder", "Set Download Folder", false,
         ":/icons/download_icon"},
        {"user", "message_user", "Message User", true, ":/icons/chat_icon"},
        {"user", "browse_user", "Browse User's Files", true, ":/icons/browse_icon"},
        {"user", "add_user", "Add User", true, ":/icons/add_user_icon"},
    });

    m_actionBar->RegisterWidget(m_roomList, "room_list");
    m_actionBar->AddWidgetColumnKey(m_roomList, "room", 0);
    m_actionBar->RegisterWidget(m_sharesPage, "shared_folders");
    m_actionBar->RegisterWidget(m_options, "login_options");
}

void MainWindow::RegisterGeometry()
{
    sizeManager->RegisterResizableWindow("main_window", m_sizeProxy);
    sizeManager->RegisterSplitter("room_list_splitter", m_roomSplitter, {250, 650});
    sizeManager->RegisterTreeWidget("room_list", m_roomList);
}

void MainWindow::FillOptions()
{
    ShowDownloadFolder(QString::fromStdString(Settings::Get("download_folder")));
    // Showing the stored state is not a change: no gateway search, no write.
    const QSignalBlocker upnp(m_upnpBox), expand(m_expandBox), tray(m_trayBox);
    m_upnpBox->setChecked(Settings::IsYes("use_upnp"));
    m_expandBox->setChecked(Settings::IsYes("expand_new_shares"));
    m_trayBox->setChecked(Settings::IsYes("minimize_to_tray"));
    m_tray->setVisible(Settings::IsYes("minimize_to_tray"));
    m_usernameField->setText(QString::fromStdString(Settings::Get("username")));
    const std::string pending = Settings::Get("new_listening_port");
    m_portField->setText(
        QString::fromStdString(pending.empty() ? Settings::Get("listening_port") : pending));
}

void MainWindow::OnSettingChanged(ConnectionInfo& info)
{
    const std::string& key = info.item->AsString();
    const QString value = QString::fromStdString(info.other->AsString());
    if (key == "username")
        m_usernameField->setText(value);
    else if (key == "new_listening_port")
        m_portField->setText(value);
    else if (key == "download_folder")
        ShowDownloadFolder(value);
}

void MainWindow::OnToolBarActionTriggered(const std::string& action)
{
    const std::string room = m_actionBar->GetKey("room").toStdString();
    const std::string user = m_actionBar->GetKey("user").toStdString();
    if (action == "refresh_room_list")
        gp_server->GetRoomList();
    else if (action == "enter_room" && !room.empty())
        gp_server->EnterRoom(room);
    else if (action == "leave_room" && !room.empty())
        gp_server->LeaveRoom(room);
    else if (action == "toggle_room_autojoin" && !room.empty())
        ToggleRoomAutojoin(room);
    else if (action == "share_folder")
        ShareFolder();
    else if (action == "unshare_folder")
        UnshareFolders();
    else if (action == "rescan_shares")
        sharedFoldersManager->RescanShares();
    else if (action == "set_download_folder")
        SetDownloadFolder();
    else if (action == "browse_user" && !user.empty())
        peerMessenger->GetUserSharedFiles(user);
    else if (action == "message_user" && !user.empty())
        OpenChatForm(user);
    else if (action == "add_user" && !user.empty())
        AddUserToList(user);
    else if (action == "set_user_pass")
        ChangeUserPass();
    else if (action == "set_listening_port")
        ListeningPortDialog(this).exec();
    // "create_room": entering a room that does not exist yet creates it, so
    // the server needs nothing else; it is offered for people who look for it.
    else if (action == "create_room" && !room.empty())
        gp_server->EnterRoom(room);
}

void MainWindow::ToggleRoomAutojoin(const std::string& room)
{
    ItemPtr item = d.GetType(ServerTypes::Room)->GetItem(room);
    if (item.IsConnected(ServerTypes::RoomAutojoin))
        item.Disconnect(ServerTypes::RoomAutojoin);
    else
        item.NewItem(ServerTypes::RoomAutojoin);
}

void MainWindow::AddUserToList(const std::string& user)
{
    ItemPtr item = d.GetType(ServerTypes::User)->GetItem(user);
    if (!item.IsConnected(ServerTypes::InUserList))
        item.NewItem(ServerTypes::InUserList);
}

void MainWindow::ChangeUserPass()
{
    if (gp_server->IsConnected()) {
        QMessageBox::information(this, OnlineOnlyTitle, OnlineOnlyText, QMessageBox::Ok);
        return;
    }
    LoginDialog(false, this).exec();
}

void MainWindow::SetDownloadFolder()
{
    QFileDialog dialog(this, "Set Download Folder",
                       QString::fromStdString(Settings::Get("download_folder")));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString folder = dialog.selectedFiles().first();
    Settings::Set("download_folder", folder.toStdString());
    ShowDownloadFolder(folder);
}

void MainWindow::ShowDownloadFolder(const QString& folder)
{
    m_downloadFolderField->setText(folder);
    m_optionsDownloadFolderField->setText(folder);
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

void MainWindow::SetApplicationIcon(const QString& icon)
{
    QApplication::setWindowIcon(QIcon(icon));
    setWindowIcon(QIcon(icon));
    m_tray->setIcon(QIcon(icon));
}

void MainWindow::ResetApplicationIcon()
{
    SetApplicationIcon(gp_server && gp_server->IsConnected() ? OnlineIcon : OfflineIcon);
}

void MainWindow::OnConnecting()
{
    m_connectAction->setEnabled(false);
    m_disconnectAction->setEnabled(false);
    m_connectionState->setText("Connecting...");
}

void MainWindow::OnConnected()
{
    m_connectAction->setEnabled(false);
    m_disconnectAction->setEnabled(true);
    SetApplicationIcon(OnlineIcon);
    m_connectionState->setText(
        QString("Online as %1").arg(QString::fromStdString(Settings::Get("username"))));
    gp_server->GetOwnPrivilegesStatus();
    FocusCurrentPageIfUnfocused();
}

void MainWindow::OnDisconnected()
{
    m_connectAction->setEnabled(true);
    m_disconnectAction->setEnabled(false);
    SetApplicationIcon(OfflineIcon);
    m_connectionState->setText("Offline");
}

void MainWindow::OnConnectionFailed(const std::string& reason)
{
    m_connectAction->setEnabled(true);
    m_disconnectAction->setEnabled(false);
    m_connectionState->setText("Offline");
    // After an abrupt loss the connection comes back by itself; a box would
    // only interrupt. A refused name or password needs the user.
    if (reason != LoginFailure::WrongPasswordReason &&
        reason != LoginFailure::InvalidUsernameReason && gp_server->IsAbruptlyDisconnected())
        return;
    const LoginFailure failure(reason);
    QMessageBox::information(this, failure.Title(), failure.Text(), QMessageBox::Ok);
}

void MainWindow::OnConnectMenuOptionClicked()
{
    gp_server->Connect();
}

void MainWindow::OnDisconnectMenuOptionClicked()
{
    gp_server->Disconnect();
}

void MainWindow::OnShowData()
{
    // One viewer for the run: it keeps its place and selection between looks.
    if (!m_dataDialog)
        m_dataDialog = new DataDialog(&d, this);
    m_dataDialog->show();
    m_dataDialog->raise();
    m_dataDialog->activateWindow();
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::OnUPnPCheckboxToggled(bool checked)
{
    StoreYesNo("use_upnp", checked);
    // Turning it off leaves existing mappings alone; they lapse by themselves.
    if (checked && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool checked)
{
    StoreYesNo("minimize_to_tray", checked);
    m_tray->setVisible(checked);
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool checked)
{
    StoreYesNo("expand_new_shares", checked);
}

void MainWindow::OnUserCount(ConnectionInfo& info)
{
    const std::string& room = info.other->AsString();
    QTreeWidgetItem*& row = m_roomRows[room];
    if (!row) {
        row = new QTreeWidgetItem(m_roomList);
        row->setText(0, QString::fromStdString(room));
    }
    // A number, so that the list sorts by size and not by text.
    row->setData(1, Qt::DisplayRole, info.item->AsInt());
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* row)
{
    if (row)
        gp_server->EnterRoom(row->text(0).toStdString());
}

void MainWindow::OnEnteredRoom(ConnectionInfo& info)
{
    if (!ItemPtr(info.other)[ChatTypes::RoomForm])
        OpenRoomForm(info.other->AsString());
}

void MainWindow::OpenRoomForm(const std::string& room)
{
    auto* form = new RoomFormClass(room, m_roomTabs);
    ItemPtr formItem = d.GetType(ChatTypes::RoomForm)->GetItem(ObjectValue(form));
    d.GetType(ServerTypes::Room)->GetItem(room)->Connect(formItem);
    // The form goes away by itself when we leave the room; its item goes
    // with it. The value is kept as text: the form is gone by then.
    const std::string formValue = formItem.AsString();
    connect(form, &QObject::destroyed, this, [formValue] {
        if (g_showIsOver)
            return;
        if (ItemPtr item = d.GetType(ChatTypes::RoomForm)->HasItem(formValue))
            item.Remove();
    });
    m_roomTabs->addTab(form, QString::fromStdString(room));
    form->Init();
    m_tabs->setCurrentIndex(m_tabs->indexOf(m_roomSplitter));
    m_roomTabs->setCurrentWidget(form);
    form->setFocus();
}

void MainWindow::OnRoomTabClosed(int index)
{
    gp_server->LeaveRoom(m_roomTabs->tabText(index).toStdString());
}

ChatFormClass* MainWindow::GetChatForm(const std::string& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->GetItem(user);
    if (ItemPtr existing = userItem[ChatTypes::UserChatWidget])
        return ObjectFromItem<ChatFormClass>(existing);
    auto* form = new ChatFormClass(user, m_chatTabs);
    m_chatTabs->addTab(form, QString::fromStdString(user));
    userItem.Connect(d.GetType(ChatTypes::UserChatWidget)->GetItem(ObjectValue(form)));
    return form;
}

void MainWindow::OpenChatForm(const std::string& user)
{
    ChatFormClass* form = GetChatForm(user);
    m_tabs->setCurrentWidget(m_chatTabs);
    m_chatTabs->setCurrentWidget(form);
    form->Focus();
}

void MainWindow::OnChatTabClosed(int index)
{
    QWidget* form = m_chatTabs->widget(index);
    if (!form)
        return;
    m_chatTabs->removeTab(index);
    if (ItemPtr item = d.GetType(ChatTypes::UserChatWidget)->HasItem(ObjectValue(form)))
        item.Remove();
    form->deleteLater();
}

void MainWindow::OnPrivateChat(const std::string& user, const std::string& text, qint64, bool)
{
    GetChatForm(user)->AddChat(text);
    if (!isActiveWindow())
        Notify(user, text);
}

void MainWindow::Notify(const std::string& user, const std::string& text)
{
    QString start = QString::fromStdString(text);
    if (start.size() > NotificationLength)
        start = start.left(NotificationLength - 3) + "...";
    m_tray->showMessage(QString::fromStdString(user), start, QSystemTrayIcon::Information);
    emit Notified(QString::fromStdString(user), start);
}

void MainWindow::OnDownloadComplete(ItemPtr download)
{
    // Someone looking at the window sees the row finish.
    if (isActiveWindow())
        return;
    m_downloadNotifier->Add(transferQueueManager->GetDownloadTargetPath(download, true),
                            QString::fromStdString(download[TransferTypes::FileName].AsString()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // With minimize-to-tray on, closing only hides the window: the client
    // keeps sharing and chatting until Quit.
    if (!m_quitting && m_trayAvailable && Settings::IsYes("minimize_to_tray") &&
        m_tray->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    event->accept();
    Quit();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    emit m_sizeProxy->WindowMoved(x(), y());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    emit m_sizeProxy->WindowResized(width(), height());
}

void MainWindow::CloseModalDialogs()
{
    // Each rejected dialog returns from its exec; a box that opens another
    // box is handled on the next turn of the loop.
    for (int guard = 0; guard < 32; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            modal->hide();
    }
}

void MainWindow::Quit()
{
    m_quitting = true;
    CloseModalDialogs();
    // exit, not quit: quit asks every window to close first and does nothing
    // before the main loop runs, and a quit must work from a dialog shown
    // during start-up too. exit ends every running loop, nested ones as well.
    QCoreApplication::exit(0);
}
