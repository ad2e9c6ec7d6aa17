#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QObject>
#include <QString>

#include "store/ItemPtr.h"

class Item;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// One transfer queue as a tree: a row per user, under it a row per folder,
// under that a row per entry. The download and upload lists differ only in
// where an entry's folder, name, size and position come from, which `Kind`
// names. Progress is only noted when it arrives and drawn by `Refresh`, so
// however fast transfers report, the rows are redrawn at the pace of the
// caller's timer.
class TransferTree : public QObject
{
    Q_OBJECT

public:
    enum Column
    {
        UserColumn = 0,
        FolderColumn,
        FileColumn,
        StatusColumn,
        ProgressColumn,
        TimeLeftColumn,
        SpeedColumn,
        SizeColumn,
        PlaceColumn,
        ColumnCount
    };

    enum class Kind
    {
        Downloads,
        Uploads
    };

    TransferTree(Kind kind, QTreeWidget* tree, QLabel* totals, QObject* parent);

    QTreeWidget* Tree() const { return m_tree; }
    // The entry's row, created with its user and folder rows when missing.
    QTreeWidgetItem* AddEntry(ItemPtr entry);
    // Removes the entry's row and every user or folder row left empty. The
    // entry may be half gone: it is only used as a key.
    void RemoveEntry(Item* entry);
    void UpdateStatus(ItemPtr entry);
    void UpdatePlaceInLine(ItemPtr entry);
    void SetUserOnline(Item* user, bool online);
    // Notes new progress; drawn by the next Refresh.
    void NoteProgress(Item* entry);
    // Draws the progress noted since the last call and the totals line.
    void Refresh();

    // Whether new and existing user (or folder) rows are shown expanded.
    void SetExpandUsers(bool on);
    void SetExpandFolders(bool on);
    bool ExpandUsers() const { return m_expandUsers; }
    bool ExpandFolders() const { return m_expandFolders; }

    QTreeWidgetItem* EntryRow(Item* entry) const;
    Item* EntryOfRow(QTreeWidgetItem* row) const;
    // The entries under (or at) the given rows, once each.
    ItemSet EntriesUnder(const QList<QTreeWidgetItem*>& rows) const;
    ItemSet SelectedEntries() const;
    // The user named by a row of any level.
    std::string UserOfRow(QTreeWidgetItem* row) const;
    bool IsUserRow(QTreeWidgetItem* row) const;
    std::vector<Item*> Entries() const;
    QString TotalsText() const;

    // How far the entry is and how fast it goes.
    qint64 Position(ItemPtr entry) const;
    qint64 Size(ItemPtr entry) const;
    qint64 Speed(ItemPtr entry) const;
    std::string Status(ItemPtr entry) const;

signals:
    // Something changed that the next Refresh draws: the totals line sums
    // every entry, so it is drawn at the refresh pace rather than on each
    // of the hundreds of status changes a batch of downloads makes.
    void RefreshWanted();

private slots:
    void OnItemExpanded(QTreeWidgetItem* row);
    void OnItemCollapsed(QTreeWidgetItem* row);

private:
    QTreeWidgetItem* UserRow(ItemPtr user);
    QTreeWidgetItem* FolderRow(QTreeWidgetItem* userRow, ItemPtr folder);
    ItemPtr FolderOf(ItemPtr entry) const;
    QString FileNameOf(ItemPtr entry) const;
    void ShowEntryProgress(QTreeWidgetItem* row, ItemPtr entry);
    void ShowSummary(QTreeWidgetItem* row);
    void ShowAggregateStatus(QTreeWidgetItem* row);
    void UpdateAncestors(QTreeWidgetItem* row, bool withProgress);
    void SetProgress(QTreeWidgetItem* row, qint64 done, qint64 total);
    void ClearSummary(QTreeWidgetItem* row);
    static void Colour(QTreeWidgetItem* row, const QString& status);
    void RemoveIfEmpty(QTreeWidgetItem* row);

    Kind m_kind;
    const char* m_entryType;
    const char* m_statusType;
    const char* m_running;
    QTreeWidget* m_tree;
    QLabel* m_totals;
    bool m_expandUsers = true;
    bool m_expandFolders = true;
    std::map<Item*, QTreeWidgetItem*> m_userRows;
    std::map<std::pair<QTreeWidgetItem*, Item*>, QTreeWidgetItem*> m_folderRows;
    std::map<Item*, QTreeWidgetItem*> m_entryRows;
    std::map<QTreeWidgetItem*, Item*> m_rowEntries;
    // Which store item a user or folder row stands for, to forget it again.
    std::map<QTreeWidgetItem*, Item*> m_rowUsers;
    std::map<QTreeWidgetItem*, std::pair<QTreeWidgetItem*, Item*>> m_rowFolders;
    std::set<Item*> m_pendingProgress;
};
