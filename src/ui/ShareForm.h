#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "search/FilterParser.h"
#include "store/ItemPtr.h"

class QLabel;
class QLineEdit;
class QPoint;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// One received listing: the user's folder tree on the left, the files of
// the chosen folder on the right, a filter above both. Files and whole
// folders go to the download queue from here.
//
// A listing may hold a hundred thousand files in thousands of folders, so
// the form reads the store once into a compact folder table and makes rows
// only when they come into view: a folder's children when it is expanded,
// a folder's files when it is chosen.
class ShareForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr const char* ExpandLevelText = "Expand Level";
    static constexpr const char* ExpandLevelDepthText = "Expand Level [%1]";
    enum FileColumns
    {
        FileColumn = 0,
        SizeColumn = 1,
        AttributesColumn = 2
    };

    // Rows of a folder's file list made per turn of the event loop.
    static constexpr std::size_t FileSliceRows = 2000;

    ShareForm(Item* share, QWidget* parent);
    ~ShareForm() override;

    ItemPtr Share() const { return m_share; }
    const std::string& User() const { return m_user; }
    QTreeWidget* Folders() const { return m_folders; }
    QTreeWidget* Files() const { return m_files; }
    QLineEdit* FilterField() const { return m_filter; }
    // Whether a long file list is still being filled, a slice per turn.
    bool IsFillingFiles() const { return !m_pendingFiles.empty(); }
    // The row of the folder with this path as the peer sent it, made (with
    // the rows above it) when it does not exist yet; null when unknown.
    QTreeWidgetItem* FolderRow(const std::string& path);
    // The listing folder a folder row stands for.
    ItemPtr FolderOfRow(QTreeWidgetItem* row) const;
    // Levels of folders Expand Level has opened so far, counting the top
    // folders as the first (0 before the first press and after Expand All
    // or Collapse All), and the deepest level there is.
    int ExpandDepth() const { return m_expandDepth; }
    int DeepestLevel() const { return m_deepest; }
    QString ExpandLevelButtonText() const;

    // Queues the folder's files: level 0 for the folder the user chose and
    // 1 below it, so files deep down keep their folder and its parent.
    void DownloadFolder(ItemPtr folder, bool below);
    void DownloadSelectedFiles();
    void DownloadSelectedFolders();
    void ExpandAll();
    void CollapseAll();
    void ExpandLevel();

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void OnFilterTextChanged(const QString& text);
    void OnActionBarTriggered(const std::string& action);

signals:
    // The text Expand Level should show changed.
    void ExpandLevelTextChanged(const QString& text);
    // A download command of the user's queued this many files.
    void DownloadsQueued(int count);

private slots:
    void OnFolderExpanded(QTreeWidgetItem* row);
    void OnFolderContextMenu(const QPoint& position);
    void OnFileContextMenu(const QPoint& position);
    void AddFileSlice();

private:
    struct Folder
    {
        Item* item = nullptr;
        QString name; // the last component; the whole path for a top folder
        int parent = -1;
        int depth = 1;
        std::vector<int> children;
        int fileCount = 0;
        QTreeWidgetItem* row = nullptr;
        bool childRowsMade = false;
        bool hidden = false;
        bool rowHidden = false;
        // What the file names of this folder still have to match.
        FilterParser remaining;
    };

    void SetUpWidgets();
    void LayOut();
    void ConnectWidgets();
    void RegisterActions();
    void ReadListing();
    void SortChildren(std::vector<int>& children) const;
    QTreeWidgetItem* MakeRow(int folder);
    void MakeRows(const std::vector<int>& folders, QTreeWidgetItem* parentRow);
    void MakeChildRows(int folder);
    void MakeAllRows();
    int FolderIndexOfRow(QTreeWidgetItem* row) const;
    void FillFiles(int folder);
    void ClearFiles();
    bool FilterFolderNode(int folder, const FilterParser& parser);
    const QStringList& FileNames(int folder);
    void ShowRowState(Folder& folder);
    void SetExpandDepth(int depth);
    void QueueFile(ItemPtr file, const std::string& folderName, int level);
    void ShowSummary();

    ItemPtr m_share;
    ItemPtr m_tabItem;
    // The items standing for our rows, tied to their folders and files.
    // They are kept here rather than tied to the tab as well: one item
    // with a hundred thousand partners makes every further tie slower.
    std::vector<Item*> m_folderNodes;
    std::vector<Item*> m_fileNodes;
    std::string m_user;
    QLineEdit* m_filter;
    QLabel* m_summary;
    QTreeWidget* m_folders;
    QTreeWidget* m_files;
    QTimer* m_fileSlicer;
    QIcon m_folderIcon;
    // The chosen folder's files, in name order, and the next to get a row.
    std::vector<Item*> m_pendingFiles;
    std::size_t m_nextFile = 0;
    std::vector<Folder> m_table;
    std::vector<int> m_tops;
    // File names per folder, read once the filter is first used.
    std::vector<QStringList> m_fileNames;
    bool m_filtering = false;
    int m_shownFolder = -1;
    int m_expandDepth = 0;
    int m_deepest = 0;
    long long m_totalSize = 0;
    int m_totalFiles = 0;
    int m_queued = 0;
};
