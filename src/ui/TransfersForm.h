#pragma once

#include <functional>
#include <string>

#include <QUrl>
#include <QWidget>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class CompleteDownloadsForm;
class QCheckBox;
class QLabel;
class QPoint;
class QSpinBox;
class QTimer;
class QTreeWidgetItem;
class TransferTree;
struct ConnectionInfo;

// The transfers page: the download queue above the upload queue, each a
// tree of users and folders with a totals line, the two clearing check
// boxes and the upload slot and speed-limit controls. Rows follow the
// transfer manager's signals and the store; progress is drawn a few times a
// second however often it arrives.
class TransfersForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // How often noted progress is drawn, at most.
    static constexpr int RefreshIntervalMs = 250;
    // Finished uploads stay this long before the housekeeping clears them.
    static constexpr qint64 UploadKeepMs = 300000;

    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    // Lists the queues as they stand and follows them from then on; needs
    // the transfer manager and the loaded store.
    void Init();

    TransferTree* Downloads() const { return m_downloads; }
    TransferTree* Uploads() const { return m_uploads; }
    CompleteDownloadsForm* CompleteDownloads() const { return m_completeDownloads; }
    QCheckBox* ClearDownloadsBox() const { return m_clearDownloads; }
    QCheckBox* ClearUploadsBox() const { return m_clearUploads; }
    QSpinBox* UploadSlotsBox() const { return m_uploadSlots; }
    QTimer* RefreshTimer() const { return m_refreshTimer; }
    // Tests see what would be opened instead of a file manager.
    void SetUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }
    static QString ExpandText(const char* what, bool on);

signals:
    void DownloadComplete(ItemPtr download);

public slots:
    void OnTransfersLoaded();
    void OnDownloadProgress(ItemPtr download);
    void OnUploadProgress(ItemPtr upload);
    void OnDownloadComplete(ItemPtr download);
    void OnDownloadEntryStatusChange(ItemPtr download);
    void OnUploadEntryStatusChange(ItemPtr upload);
    void OnDownloadPlaceInLine(ItemPtr download);
    void OnActionBarTriggered(const std::string& action);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* row);
    void OnClearDownloadsCheckStateChanged(int state);
    void OnClearUploadsCheckStateChanged(int state);
    void OnUploadSlotsChanged(int count);
    void OnUploadSpeedLimitChanged(int limit);
    void OnUploadSpeedLimitToggled(bool on);
    // Clears uploads that ended five minutes ago, when asked to.
    void EveryHalfMinute();
    // Draws what progress arrived since the last refresh.
    void RefreshProgress();

private slots:
    void OnContextMenu(const QPoint& position);

private:
    QWidget* CreateDownloadsPane();
    QWidget* CreateUploadsPane();
    void ConnectManager();
    void RegisterStoreHandlers();
    void RegisterActions();
    void FillControls();
    void ScheduleRefresh();
    void OnDownloadEntryRemoved(Item* download);
    void OnUploadEntryRemoved(Item* upload);
    void OnUserOnline(ConnectionInfo& info);
    void OnUserOffline(ConnectionInfo& info);
    void ToggleExpand(TransferTree* tree, bool users, const char* id);
    void AddSelectedUsersToList(TransferTree* tree);
    void RemoveSelectedDownloads();
    void RemoveSelectedUploads();
    void ClearCompleteDownloads();
    void OpenLocal(const QString& path);

    TransferTree* m_downloads;
    TransferTree* m_uploads;
    CompleteDownloadsForm* m_completeDownloads;
    QCheckBox* m_clearDownloads = nullptr;
    QCheckBox* m_clearUploads = nullptr;
    QSpinBox* m_uploadSlots = nullptr;
    QCheckBox* m_limitUploads = nullptr;
    QSpinBox* m_uploadLimit = nullptr;
    QTimer* m_refreshTimer;
    std::function<void(const QUrl&)> m_openUrl;
    bool m_initialised = false;
};
