#include "ui/TransfersForm.h"

#include <vector>

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/Clock.h"
#include "base/Settings.h"
#include "base/TimerManager.h"
#include "server/ServerTypes.h"
#include "store/ConnectionInfo.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/CompleteDownloadsForm.h"
#include "ui/DesktopOpener.h"
#include "ui/DownloadMenuOptions.h"
#include "ui/SizeManager.h"
#include "ui/TransferTree.h"
#include "ui/UserMenuOptions.h"

using namespace TransferTypes;

namespace {
constexpr const char* ClearDownloadsKey = "clear_complete_downloads";
constexpr const char* ClearUploadsKey = "clear_complete_aborted_uploads";
// The limit is kept in the throttle's units, about a kilobyte per second.
constexpr int MaxUploadLimit = 1000000;

QTreeWidget* NewTree(const char* name, QWidget* parent)
{
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(name);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    return tree;
}

QLabel* NewTotals(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}
} // namespace

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent), m_downloads(nullptr), m_uploads(nullptr),
      m_completeDownloads(new CompleteDownloadsForm(this)), m_refreshTimer(new QTimer(this))
{
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(CreateDownloadsPane());
    splitter->addWidget(CreateUploadsPane());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &TransfersForm::RefreshProgress);
    for (TransferTree* tree : {m_downloads, m_uploads})
        connect(tree, &TransferTree::RefreshWanted, this, &TransfersForm::ScheduleRefresh);
    // Queued: the manager is still inside its own completion handling when
    // the status changes, and records the completed download after it.
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete,
            Qt::QueuedConnection);
}

TransfersForm::~TransfersForm()
{
    RemoveDataHandlers();
}

QWidget* TransfersForm::CreateDownloadsPane()
{
    auto* pane = new QWidget(this);
    QTreeWidget* tree = NewTree("download_list", pane);
    QLabel* totals = NewTotals("download_totals", pane);
    m_downloads = new TransferTree(TransferTree::Kind::Downloads, tree, totals, this);
    m_clearDownloads = new QCheckBox("Clear Complete Downloads", pane);
    m_clearDownloads->setObjectName(ClearDownloadsKey);
    connect(tree, &QTreeWidget::itemDoubleClicked, this,
            &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(tree, &QWidget::customContextMenuRequested, this, &TransfersForm::OnContextMenu);
    connect(m_clearDownloads, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(totals, 1);
    bottom->addWidget(m_clearDownloads);
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(new QLabel("Downloads", pane));
    layout->addWidget(tree);
    layout->addLayout(bottom);
    return pane;
}

QWidget* TransfersForm::CreateUploadsPane()
{
    auto* pane = new QWidget(this);
    QTreeWidget* tree = NewTree("upload_list", pane);
    QLabel* totals = NewTotals("upload_totals", pane);
    m_uploads = new TransferTree(TransferTree::Kind::Uploads, tree, totals, this);
    m_clearUploads = new QCheckBox("Clear Complete/Aborted Uploads", pane);
    m_clearUploads->setObjectName(ClearUploadsKey);
    m_uploadSlots = new QSpinBox(pane);
    m_uploadSlots->setObjectName("upload_slots");
    m_uploadSlots->setRange(1, 99);
    m_limitUploads = new QCheckBox("Limit upload speed to", pane);
    m_limitUploads->setObjectName("upload_speed_limit_enabled");
    m_uploadLimit = new QSpinBox(pane);
    m_uploadLimit->setObjectName("upload_speed_limit");
    m_uploadLimit->setRange(0, MaxUploadLimit);
    m_uploadLimit->setSuffix(" KB/s");
    connect(tree, &QWidget::customContextMenuRequested, this, &TransfersForm::OnContextMenu);
    connect(m_clearUploads, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearUploadsCheckStateChanged);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(totals, 1);
    bottom->addWidget(new QLabel("Upload slots:", pane));
    bottom->addWidget(m_uploadSlots);
    bottom->addWidget(m_limitUploads);
    bottom->addWidget(m_uploadLimit);
    bottom->addWidget(m_clearUploads);
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(new QLabel("Uploads", pane));
    layout->addWidget(tree);
    layout->addLayout(bottom);
    return pane;
}

void TransfersForm::Init()
{
    if (m_initialised)
        return;
    m_initialised = true;
    m_completeDownloads->Init();
    m_completeDownloads->DataLoaded();
    FillControls();
    ConnectManager();
    RegisterStoreHandlers();
    RegisterActions();
    OnTransfersLoaded();
    if (sizeManager) {
        sizeManager->RegisterTreeWidget("download_list", m_downloads->Tree());
        sizeManager->RegisterTreeWidget("upload_list", m_uploads->Tree());
        sizeManager->RegisterTreeWidget("complete_downloads", m_completeDownloads->List());
    }
}

void TransfersForm::FillControls()
{
    // Filled before the change signals are connected: showing a value is
    // not changing it.
    m_clearDownloads->setChecked(Settings::IsYes(ClearDownloadsKey));
    m_clearUploads->setChecked(Settings::IsYes(ClearUploadsKey));
    m_uploadSlots->setValue(static_cast<int>(Settings::GetInt("upload_slots", 1)));
    m_uploadLimit->setValue(static_cast<int>(Settings::GetInt("upload_speed_limit", 0)));
    m_limitUploads->setChecked(Settings::IsYes("upload_speed_limit_enabled"));
    connect(m_uploadSlots, &QSpinBox::valueChanged, this, &TransfersForm::OnUploadSlotsChanged);
    connect(m_uploadLimit, &QSpinBox::valueChanged, this,
            &TransfersForm::OnUploadSpeedLimitChanged);
    connect(m_limitUploads, &QCheckBox::toggled, this, &TransfersForm::OnUploadSpeedLimitToggled);
}

void TransfersForm::ConnectManager()
{
    TransferQueueManager* manager = transferQueueManager;
    connect(manager, &TransferQueueManager::TransfersLoaded, this,
            &TransfersForm::OnTransfersLoaded);
    connect(manager, &TransferQueueManager::DownloadStatusChanged, this,
            &TransfersForm::OnDownloadEntryStatusChange);
    connect(manager, &TransferQueueManager::UploadStatusChanged, this,
            &TransfersForm::OnUploadEntryStatusChange);
    connect(manager, &TransferQueueManager::DownloadPlaceInLineChanged, this,
            &TransfersForm::OnDownloadPlaceInLine);
    connect(manager, &TransferQueueManager::DownloadProgressed, this,
            &TransfersForm::OnDownloadProgress);
    connect(manager, &TransferQueueManager::UploadProgressed, this,
            &TransfersForm::OnUploadProgress);
    connect(manager, &TransferQueueManager::CompleteDownloadAdded, m_completeDownloads,
            &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
                &TransfersForm::EveryHalfMinute);
}

void TransfersForm::RegisterStoreHandlers()
{
    AddItemRemovedHandler(this, DownloadEntry, &TransfersForm::OnDownloadEntryRemoved);
    AddItemRemovedHandler(this, UploadEntry, &TransfersForm::OnUploadEntryRemoved);
    AddPairConnectionHandler(this, ServerTypes::IsOnline, ServerTypes::User,
                             &TransfersForm::OnUserOnline);
    AddPairDisconnectionHandler(this, ServerTypes::IsOnline, ServerTypes::User,
                                &TransfersForm::OnUserOffline);
}

void TransfersForm::RegisterActions()
{
    if (!actionBar)
        return;
    actionBar->AddSetActions({
        {"downloads", "expand_download_folders", "Expand Folders", false, ":/icons/download_icon"},
        {"downloads", "expand_download_users", "Expand Users", false, ":/icons/download_icon"},
        {"downloads", "complete_downloads", "Complete Downloads", false, ":/icons/download_icon"},
        {"downloads", "remove_download", "Remove Downloads", true, ":/icons/download_icon"},
        {"downloads", "dl_add_user", "Add User", true, ":/icons/download_icon"},
        {"uploads", "expand_upload_folders", "Expand Folders", false, ":/icons/upload_icon"},
        {"uploads", "expand_upload_users", "Expand Users", false, ":/icons/upload_icon"},
        {"uploads", "remove_upload", "Remove Uploads", true, ":/icons/upload_icon"},
        {"uploads", "ul_add_user", "Add User", true, ":/icons/upload_icon"},
    });
    actionBar->RegisterWidget(m_downloads->Tree(), "downloads");
    actionBar->RegisterWidget(m_uploads->Tree(), "uploads");
    for (TransferTree* tree : {m_downloads, m_uploads}) {
        const bool downloads = tree == m_downloads;
        const char* folders = downloads ? "expand_download_folders" : "expand_upload_folders";
        const char* users = downloads ? "expand_download_users" : "expand_upload_users";
        actionBar->SetWidgetActionText(tree->Tree(), folders,
                                       ExpandText(folders, tree->ExpandFolders()));
        actionBar->SetWidgetActionText(tree->Tree(), users, ExpandText(users, tree->ExpandUsers()));
    }
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &TransfersForm::OnActionBarTriggered);
}

QString TransfersForm::ExpandText(const char* id, bool on)
{
    const QString what = QString(id).endsWith("users") ? "Expand Users" : "Expand Folders";
    return what + (on ? " [on]" : " [off]");
}

void TransfersForm::OnTransfersLoaded()
{
    for (Item* download : d.GetType(DownloadEntry)->GetItems().SortNumericBy(DownloadOrder, true))
        m_downloads->AddEntry(download);
    for (Item* upload : d.GetType(UploadEntry)->GetItems().SortNumericBy(UploadOrder, true))
        m_uploads->AddEntry(upload);
}

void TransfersForm::OnDownloadEntryStatusChange(ItemPtr download)
{
    // A new entry reports its first status once it is complete in the store.
    if (!m_downloads->EntryRow(download))
        m_downloads->AddEntry(download);
    else
        m_downloads->UpdateStatus(download);
    if (download[DownloadEntryStatus].AsString() == Download::Complete)
        emit DownloadComplete(download);
}

void TransfersForm::OnUploadEntryStatusChange(ItemPtr upload)
{
    if (!m_uploads->EntryRow(upload))
        m_uploads->AddEntry(upload);
    else
        m_uploads->UpdateStatus(upload);
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr download)
{
    m_downloads->UpdatePlaceInLine(download);
}

void TransfersForm::OnDownloadEntryRemoved(Item* download)
{
    m_downloads->RemoveEntry(download);
}

void TransfersForm::OnUploadEntryRemoved(Item* upload)
{
    m_uploads->RemoveEntry(upload);
}

void TransfersForm::OnUserOnline(ConnectionInfo& info)
{
    m_downloads->SetUserOnline(info.other, true);
    m_uploads->SetUserOnline(info.other, true);
}

void TransfersForm::OnUserOffline(ConnectionInfo& info)
{
    m_downloads->SetUserOnline(info.other, false);
    m_uploads->SetUserOnline(info.other, false);
}

void TransfersForm::OnDownloadProgress(ItemPtr download)
{
    m_downloads->NoteProgress(download);
    ScheduleRefresh();
}

void TransfersForm::OnUploadProgress(ItemPtr upload)
{
    m_uploads->NoteProgress(upload);
    ScheduleRefresh();
}

void TransfersForm::ScheduleRefresh()
{
    if (!m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void TransfersForm::RefreshProgress()
{
    m_downloads->Refresh();
    m_uploads->Refresh();
}

void TransfersForm::OnDownloadComplete(ItemPtr download)
{
    // The entry may have gone while the call was queued.
    if (!Settings::IsYes(ClearDownloadsKey) || !m_downloads->EntryRow(download))
        return;
    if (download[DownloadEntryStatus].AsString() == Download::Complete)
        transferQueueManager->RemoveDownload(download);
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int state)
{
    Settings::SetYes(ClearDownloadsKey, state == Qt::Checked);
    if (state == Qt::Checked)
        ClearCompleteDownloads();
}

void TransfersForm::ClearCompleteDownloads()
{
    for (Item* download : m_downloads->Entries())
        if (ItemPtr(download)[DownloadEntryStatus].AsString() == Download::Complete)
            transferQueueManager->RemoveDownload(download);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int state)
{
    Settings::SetYes(ClearUploadsKey, state == Qt::Checked);
}

void TransfersForm::OnUploadSlotsChanged(int count)
{
    transferQueueManager->SetUploadSlots(count);
}

void TransfersForm::OnUploadSpeedLimitChanged(int limit)
{
    transferQueueManager->SetUploadSpeedLimit(limit);
}

void TransfersForm::OnUploadSpeedLimitToggled(bool on)
{
    transferQueueManager->EnableUploadSpeedLimit(on);
}

void TransfersForm::EveryHalfMinute()
{
    if (!Settings::IsYes(ClearUploadsKey))
        return;
    std::vector<Item*> stale;
    for (Item* uploadItem : m_uploads->Entries()) {
        ItemPtr upload = uploadItem;
        if (upload[UploadEntryStatus].AsString() == Upload::Queued)
            continue;
        QDateTime latest =
            Clock::FromText(QString::fromStdString(upload[LastStatusChangeTime].AsString()));
        if (const auto* receipt = ObjectFromItem<QDateTime>(upload[LastReceiptTime]))
            latest = std::max(latest, *receipt);
        if (!latest.isValid() || Clock::AgeMs(latest) >= UploadKeepMs)
            stale.push_back(upload);
    }
    for (Item* upload : stale)
        transferQueueManager->RemoveUpload(upload);
}

void TransfersForm::OnActionBarTriggered(const std::string& action)
{
    if (action == "expand_download_folders" || action == "expand_download_users")
        ToggleExpand(m_downloads, action == "expand_download_users", action.c_str());
    else if (action == "expand_upload_folders" || action == "expand_upload_users")
        ToggleExpand(m_uploads, action == "expand_upload_users", action.c_str());
    else if (action == "complete_downloads") {
        m_completeDownloads->show();
        m_completeDownloads->raise();
        m_completeDownloads->activateWindow();
    } else if (action == "remove_download")
        RemoveSelectedDownloads();
    else if (action == "remove_upload")
        RemoveSelectedUploads();
    else if (action == "dl_add_user")
        AddSelectedUsersToList(m_downloads);
    else if (action == "ul_add_user")
        AddSelectedUsersToList(m_uploads);
}

void TransfersForm::ToggleExpand(TransferTree* tree, bool users, const char* id)
{
    const bool on = !(users ? tree->ExpandUsers() : tree->ExpandFolders());
    if (users)
        tree->SetExpandUsers(on);
    else
        tree->SetExpandFolders(on);
    if (actionBar)
        actionBar->SetWidgetActionText(tree->Tree(), id, ExpandText(id, on));
}

void TransfersForm::RemoveSelectedDownloads()
{
    const ItemSet selected = m_downloads->SelectedEntries();
    const std::vector<Item*> downloads(selected.begin(), selected.end());
    for (Item* download : downloads)
        transferQueueManager->RemoveDownload(download);
}

void TransfersForm::RemoveSelectedUploads()
{
    const ItemSet selected = m_uploads->SelectedEntries();
    const std::vector<Item*> uploads(selected.begin(), selected.end());
    for (Item* upload : uploads)
        transferQueueManager->RemoveUpload(upload);
}

void TransfersForm::AddSelectedUsersToList(TransferTree* tree)
{
    for (QTreeWidgetItem* row : tree->Tree()->selectedItems()) {
        const std::string user = tree->UserOfRow(row);
        if (!user.empty())
            UserMenuOptions::AddUserToList(user);
    }
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* row)
{
    if (Item* download = m_downloads->EntryOfRow(row))
        DesktopOpener::OpenLocalPath(transferQueueManager->GetDownloadTargetFolder(download, true));
}

void TransfersForm::OnContextMenu(const QPoint& position)
{
    auto* list = qobject_cast<QTreeWidget*>(sender());
    TransferTree* tree = list == m_downloads->Tree() ? m_downloads : m_uploads;
    QTreeWidgetItem* row = list ? list->itemAt(position) : nullptr;
    if (!row)
        return;
    QMenu menu(this);
    if (tree->IsUserRow(row))
        new UserMenuOptions(&menu, tree->UserOfRow(row), &menu);
    if (tree == m_downloads)
        new DownloadMenuOptions(&menu, m_downloads->SelectedEntries(), &menu);
    if (!menu.isEmpty())
        menu.exec(list->viewport()->mapToGlobal(position));
}
