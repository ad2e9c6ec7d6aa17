#include "ui/TransferTree.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

#include "base/PathUtils.h"
#include "base/TextUtils.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ProgressBarDelegate.h"
#include "ui/TransferDisplay.h"

using namespace TransferTypes;

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString UserText(ItemPtr user)
{
    QString text = Q(user.AsString());
    if (!user.IsConnected(ServerTypes::IsOnline))
        text += " [offline]";
    return text;
}
} // namespace

TransferTree::TransferTree(Kind kind, QTreeWidget* tree, QLabel* totals, QObject* parent)
    : QObject(parent), m_kind(kind),
      m_entryType(kind == Kind::Downloads ? DownloadEntry : UploadEntry),
      m_statusType(kind == Kind::Downloads ? DownloadEntryStatus : UploadEntryStatus),
      m_running(kind == Kind::Downloads ? Download::Downloading : Upload::Uploading), m_tree(tree),
      m_totals(totals)
{
    m_tree->setColumnCount(ColumnCount);
    m_tree->setHeaderLabels(
        {"User", "Folder", "File", "Status", "Progress", "   ETA", "Kbs", "Size", "Place"});
    // Names are what a user scans the list for; until the user sizes the
    // columns, give them room enough for a typical track name, and the
    // progress bar for its text.
    m_tree->header()->resizeSection(FolderColumn, 200);
    m_tree->header()->resizeSection(FileColumn, 220);
    m_tree->header()->resizeSection(ProgressColumn, 150);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setUniformRowHeights(true);
    m_tree->setItemDelegateForColumn(ProgressColumn, new ProgressBarDelegate(m_tree));
    connect(m_tree, &QTreeWidget::itemExpanded, this, &TransferTree::OnItemExpanded);
    connect(m_tree, &QTreeWidget::itemCollapsed, this, &TransferTree::OnItemCollapsed);
}

std::string TransferTree::Status(ItemPtr entry) const
{
    return entry[m_statusType].AsString();
}

qint64 TransferTree::Position(ItemPtr entry) const
{
    if (!transferQueueManager)
        return 0;
    return m_kind == Kind::Downloads ? transferQueueManager->GetDownloadPosition(entry)
                                     : transferQueueManager->GetUploadPosition(entry);
}

qint64 TransferTree::Size(ItemPtr entry) const
{
    if (m_kind == Kind::Downloads)
        return entry[FileSize].AsInt64();
    return entry[SharingTypes::SharedFile][SharingTypes::SharedFileSize].AsInt64();
}

qint64 TransferTree::Speed(ItemPtr entry) const
{
    return transferQueueManager ? transferQueueManager->GetTransferSpeed(entry) : 0;
}

ItemPtr TransferTree::FolderOf(ItemPtr entry) const
{
    if (m_kind == Kind::Downloads)
        return entry[RemoteFolder];
    return entry[SharingTypes::SharedFile][SharingTypes::SharedFileFolder];
}

QString TransferTree::FileNameOf(ItemPtr entry) const
{
    if (m_kind == Kind::Downloads)
        return Q(entry[FileName].AsString());
    return Q(entry[SharingTypes::SharedFile][SharingTypes::SharedFileName].AsString());
}

QTreeWidgetItem* TransferTree::UserRow(ItemPtr user)
{
    QTreeWidgetItem*& row = m_userRows[user];
    if (!row) {
        row = new QTreeWidgetItem(m_tree);
        row->setText(UserColumn, UserText(user));
        m_rowUsers[row] = user;
        row->setExpanded(m_expandUsers);
    }
    return row;
}

QTreeWidgetItem* TransferTree::FolderRow(QTreeWidgetItem* userRow, ItemPtr folder)
{
    const auto key = std::make_pair(userRow, folder.Get());
    QTreeWidgetItem*& row = m_folderRows[key];
    if (!row) {
        row = new QTreeWidgetItem(userRow);
        // The innermost folder first, as the search results show it: it is
        // the one that tells folders apart, and a narrow column cuts the
        // path on the right. Local and remote paths read alike that way; the
        // tool tip keeps the path as it stands.
        row->setText(FolderColumn, Q(ReversePathname(folder.AsString())));
        row->setToolTip(FolderColumn, Q(folder.AsString()));
        m_rowFolders[row] = key;
        row->setExpanded(m_expandFolders);
    }
    return row;
}

QTreeWidgetItem* TransferTree::AddEntry(ItemPtr entry)
{
    if (QTreeWidgetItem* existing = EntryRow(entry))
        return existing;
    ItemPtr user = entry[ServerTypes::User];
    if (!user)
        return nullptr;
    QTreeWidgetItem* folderRow = FolderRow(UserRow(user), FolderOf(entry));
    auto* row = new QTreeWidgetItem(folderRow);
    row->setText(FileColumn, FileNameOf(entry));
    row->setText(SizeColumn, CommafyNumber(Size(entry)));
    row->setTextAlignment(SizeColumn, Qt::AlignRight);
    m_entryRows[entry] = row;
    m_rowEntries[row] = entry;
    UpdatePlaceInLine(entry);
    UpdateStatus(entry);
    return row;
}

QTreeWidgetItem* TransferTree::EntryRow(Item* entry) const
{
    const auto found = m_entryRows.find(entry);
    return found == m_entryRows.end() ? nullptr : found->second;
}

Item* TransferTree::EntryOfRow(QTreeWidgetItem* row) const
{
    const auto found = m_rowEntries.find(row);
    return found == m_rowEntries.end() ? nullptr : found->second;
}

bool TransferTree::IsUserRow(QTreeWidgetItem* row) const
{
    return m_rowUsers.count(row) != 0;
}

std::string TransferTree::UserOfRow(QTreeWidgetItem* row) const
{
    while (row && row->parent())
        row = row->parent();
    const auto found = m_rowUsers.find(row);
    return found == m_rowUsers.end() ? std::string() : found->second->AsString();
}

void TransferTree::RemoveEntry(Item* entry)
{
    QTreeWidgetItem* row = EntryRow(entry);
    if (!row)
        return;
    m_entryRows.erase(entry);
    m_rowEntries.erase(row);
    m_pendingProgress.erase(entry);
    QTreeWidgetItem* parent = row->parent();
    delete row;
    RemoveIfEmpty(parent);
    emit RefreshWanted();
}

void TransferTree::RemoveIfEmpty(QTreeWidgetItem* row)
{
    while (row && row->childCount() == 0) {
        QTreeWidgetItem* parent = row->parent();
        if (const auto folder = m_rowFolders.find(row); folder != m_rowFolders.end()) {
            m_folderRows.erase(folder->second);
            m_rowFolders.erase(folder);
        } else if (const auto user = m_rowUsers.find(row); user != m_rowUsers.end()) {
            m_userRows.erase(user->second);
            m_rowUsers.erase(user);
        }
        delete row;
        row = parent;
    }
    // What is left above has fewer entries to summarise.
    if (row)
        UpdateAncestors(row->child(0), true);
}

void TransferTree::Colour(QTreeWidgetItem* row, const QString& status)
{
    const QColor colour = TransferDisplay::StatusColour(status);
    for (int column = 0; column < ColumnCount; ++column)
        row->setData(column, Qt::ForegroundRole, colour.isValid() ? QVariant(colour) : QVariant());
}

void TransferTree::UpdateStatus(ItemPtr entry)
{
    QTreeWidgetItem* row = EntryRow(entry);
    if (!row)
        return;
    const std::string status = Status(entry);
    const QString text = status == Download::Denied ? Q(entry[DenialReason].AsString()) : Q(status);
    row->setText(StatusColumn, text);
    Colour(row, Q(status));
    if (status != m_running) {
        // No speed or time left for what is not moving, a finished transfer
        // included: its last report still shows what it had left then.
        row->setText(SpeedColumn, QString());
        row->setText(TimeLeftColumn, QString());
    }
    if (status == Download::Complete)
        ShowEntryProgress(row, entry);
    UpdateAncestors(row, true);
    emit RefreshWanted();
}

void TransferTree::UpdatePlaceInLine(ItemPtr entry)
{
    // Only downloads are told their place; an upload entry is not even
    // related to it, and asking would throw out of the manager's handling
    // of the queue request that is adding the row.
    if (m_kind != Kind::Downloads)
        return;
    if (QTreeWidgetItem* row = EntryRow(entry)) {
        ItemPtr place = entry[PlaceInLine];
        row->setText(PlaceColumn, place ? Q(place.AsString()) : QString());
    }
}

void TransferTree::SetUserOnline(Item* user, bool)
{
    const auto found = m_userRows.find(user);
    if (found != m_userRows.end())
        found->second->setText(UserColumn, UserText(user));
}

void TransferTree::NoteProgress(Item* entry)
{
    if (EntryRow(entry))
        m_pendingProgress.insert(entry);
}

void TransferTree::Refresh()
{
    std::set<QTreeWidgetItem*> above;
    for (Item* entry : m_pendingProgress) {
        QTreeWidgetItem* row = EntryRow(entry);
        ShowEntryProgress(row, entry);
        for (QTreeWidgetItem* parent = row->parent(); parent; parent = parent->parent())
            above.insert(parent);
    }
    m_pendingProgress.clear();
    for (QTreeWidgetItem* row : above)
        if (!row->isExpanded())
            ShowSummary(row);
    if (m_totals)
        m_totals->setText(TotalsText());
}

void TransferTree::SetProgress(QTreeWidgetItem* row, qint64 done, qint64 total)
{
    // Unchanged values do not reach the view, so a transfer that has not
    // moved since the last refresh costs nothing to draw.
    row->setData(ProgressColumn, ProgressBarDelegate::PercentRole,
                 TransferDisplay::ProgressPercent(done, total));
    row->setText(ProgressColumn, TransferDisplay::ProgressText(done, total));
}

void TransferTree::ShowEntryProgress(QTreeWidgetItem* row, ItemPtr entry)
{
    const qint64 size = Size(entry);
    const qint64 position = Position(entry);
    SetProgress(row, position, size);
    if (Status(entry) != m_running)
        return;
    const qint64 speed = Speed(entry);
    row->setText(SpeedColumn, TransferDisplay::SpeedText(speed));
    row->setText(TimeLeftColumn, TransferDisplay::TimeLeftText(size - position, speed));
}

void TransferTree::ShowSummary(QTreeWidgetItem* row)
{
    qint64 done = 0;
    qint64 total = 0;
    qint64 speed = 0;
    for (Item* entryItem : EntriesUnder({row})) {
        ItemPtr entry = entryItem;
        const std::string status = Status(entry);
        const qint64 size = Size(entry);
        if (status == Download::Complete) {
            done += size;
            total += size;
        } else if (status == Download::Queued || status == m_running ||
                   status == Download::Aborted) {
            done += Position(entry);
            total += size;
        }
        if (status == m_running)
            speed += Speed(entry);
    }
    if (total == 0)
        return;
    SetProgress(row, done, total);
    // The row's own speed: what its running entries move together.
    row->setText(SpeedColumn, speed ? TransferDisplay::SpeedText(speed) : QString());
    row->setText(TimeLeftColumn, TransferDisplay::TimeLeftText(total - done, speed));
}

void TransferTree::ShowAggregateStatus(QTreeWidgetItem* row)
{
    std::vector<std::string> statuses;
    for (Item* entry : EntriesUnder({row}))
        statuses.push_back(Status(entry));
    const QString status = TransferDisplay::AggregateStatus(statuses, m_running);
    row->setText(StatusColumn, status);
    Colour(row, status);
}

void TransferTree::UpdateAncestors(QTreeWidgetItem* row, bool withProgress)
{
    if (!row)
        return;
    for (QTreeWidgetItem* parent = row->parent(); parent; parent = parent->parent()) {
        if (parent->isExpanded())
            continue;
        ShowAggregateStatus(parent);
        if (withProgress)
            ShowSummary(parent);
    }
}

void TransferTree::ClearSummary(QTreeWidgetItem* row)
{
    for (int column : {StatusColumn, TimeLeftColumn, SpeedColumn})
        row->setText(column, QString());
    Colour(row, QString());
    row->setData(ProgressColumn, ProgressBarDelegate::PercentRole, QVariant());
    row->setText(ProgressColumn, QString());
}

void TransferTree::OnItemExpanded(QTreeWidgetItem* row)
{
    if (!EntryOfRow(row))
        ClearSummary(row);
}

void TransferTree::OnItemCollapsed(QTreeWidgetItem* row)
{
    if (!EntryOfRow(row))
        ShowAggregateStatus(row);
}

void TransferTree::SetExpandUsers(bool on)
{
    m_expandUsers = on;
    for (const auto& [user, row] : m_userRows)
        row->setExpanded(on);
}

void TransferTree::SetExpandFolders(bool on)
{
    m_expandFolders = on;
    for (const auto& [key, row] : m_folderRows)
        row->setExpanded(on);
}

ItemSet TransferTree::EntriesUnder(const QList<QTreeWidgetItem*>& rows) const
{
    ItemSet entries;
    std::vector<QTreeWidgetItem*> pending(rows.begin(), rows.end());
    while (!pending.empty()) {
        QTreeWidgetItem* row = pending.back();
        pending.pop_back();
        if (Item* entry = EntryOfRow(row))
            entries.insert(entry);
        for (int i = 0; i < row->childCount(); ++i)
            pending.push_back(row->child(i));
    }
    return entries;
}

ItemSet TransferTree::SelectedEntries() const
{
    return EntriesUnder(m_tree->selectedItems());
}

std::vector<Item*> TransferTree::Entries() const
{
    std::vector<Item*> entries;
    for (const auto& [entry, row] : m_entryRows)
        entries.push_back(entry);
    return entries;
}

QString TransferTree::TotalsText() const
{
    int running = 0;
    qint64 speed = 0;
    qint64 remaining = 0;
    for (const auto& [entryItem, row] : m_entryRows) {
        ItemPtr entry = entryItem;
        if (Status(entry) != m_running)
            continue;
        ++running;
        speed += Speed(entry);
        remaining += Size(entry) - Position(entry);
    }
    return QString("%1 running, %2 Kbs, time left%3")
        .arg(running)
        .arg(TransferDisplay::SpeedText(speed))
        .arg(TransferDisplay::TimeLeftText(remaining, speed));
}
