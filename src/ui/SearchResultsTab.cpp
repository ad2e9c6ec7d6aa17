#include "ui/SearchResultsTab.h"

#include <algorithm>
#include <set>
#include <utility>

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/DelayedInvoker.h"
#include "base/PathUtils.h"
#include "base/TextUtils.h"
#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/SearchFormTypes.h"
#include "ui/SearchResultListItem.h"

using namespace SearchTypes;
using Row = SearchResultListItem;

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

Row* AsRow(QTreeWidgetItem* item)
{
    return static_cast<Row*>(item);
}
} // namespace

SearchResultsTab::SearchResultsTab(const QString& text, bool wishList, QWidget* parent)
    : QWidget(parent), m_text(text), m_wishList(wishList), m_tree(new QTreeWidget(this)),
      m_filter(new QLineEdit(this)), m_status(new QLabel(this)), m_sliceTimer(new QTimer(this)),
      m_showTimer(new QTimer(this)), m_sortColumn(Row::FreeColumn)
{
    m_tree->setObjectName("search_results");
    m_tree->setColumnCount(Row::ColumnCount);
    m_tree->setHeaderLabels(
        {"User", "Free", "K/s", "Folder", "File", "Size", "Attributes", "Bitrate", "Length"});
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setUniformRowHeights(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setAllColumnsShowFocus(true);
    // The tab sorts on its own schedule; a header click picks the column.
    m_tree->header()->setSectionsClickable(true);
    m_tree->header()->setSortIndicatorShown(true);
    m_tree->header()->setSortIndicator(m_sortColumn, Qt::DescendingOrder);
    connect(m_tree->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { SetSortColumn(column); });
    // Rows leave the view whenever the filter changes or new results come;
    // what the user opened or closed must survive that.
    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [](QTreeWidgetItem* row) { AsRow(row)->NoteOpened(true); });
    connect(m_tree, &QTreeWidget::itemCollapsed, this,
            [](QTreeWidgetItem* row) { AsRow(row)->NoteOpened(false); });
    m_tree->header()->resizeSection(Row::UserColumn, 120);
    m_tree->header()->resizeSection(Row::FreeColumn, 40);
    m_tree->header()->resizeSection(Row::SpeedColumn, 60);
    m_tree->header()->resizeSection(Row::FolderColumn, 200);
    m_tree->header()->resizeSection(Row::FileColumn, 220);
    m_tree->header()->resizeSection(Row::SizeColumn, 90);
    m_tree->header()->resizeSection(Row::AttributesColumn, 110);

    m_filter->setObjectName("search_filter");
    m_filter->setPlaceholderText("Filter: words to keep, -words to drop");
    m_filter->setClearButtonEnabled(true);
    connect(m_filter, &QLineEdit::textChanged, this, &SearchResultsTab::OnFilterTextChanged);
    m_status->setObjectName("search_status");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_filter);
    layout->addWidget(m_tree);
    layout->addWidget(m_status);

    m_sliceTimer->setSingleShot(true);
    m_sliceTimer->setInterval(0);
    connect(m_sliceTimer, &QTimer::timeout, this, &SearchResultsTab::AddPendingSlice);
    m_showTimer->setSingleShot(true);
    m_showTimer->setInterval(ShowIntervalMs);
    connect(m_showTimer, &QTimer::timeout, this, &SearchResultsTab::ShowNewRows);
    ShowStatus();
}

SearchResultsTab::~SearchResultsTab()
{
    // Rows in the view go with it; the others are the tab's.
    for (auto& [user, row] : m_userRows)
        if (!row->treeWidget())
            delete row;
}

void SearchResultsTab::Enqueue(ItemPtr searchResults)
{
    m_pending.push_back(searchResults);
    if (!m_sliceTimer->isActive())
        m_sliceTimer->start();
}

void SearchResultsTab::AddAllPending()
{
    m_sliceTimer->stop();
    while (!m_pending.empty()) {
        ItemPtr next = m_pending.front();
        m_pending.pop_front();
        AddResults(next);
    }
    ShowNewRows();
}

void SearchResultsTab::AddPendingSlice()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_pending.empty() && slice.elapsed() < SliceMs) {
        ItemPtr next = m_pending.front();
        m_pending.pop_front();
        AddResults(next);
    }
    if (!m_pending.empty())
        m_sliceTimer->start();
    // The first rows show at once, later ones in steps.
    if (m_tree->topLevelItemCount() == 0)
        ShowNewRows();
    else if (!m_showTimer->isActive())
        m_showTimer->start();
}

void SearchResultsTab::ShowNewRows()
{
    m_showTimer->stop();
    if (!m_unshown.isEmpty()) {
        QList<QTreeWidgetItem*> shown;
        for (QTreeWidgetItem* user : std::exchange(m_unshown, {})) {
            const int files = FilterUser(AsRow(user));
            m_shownCount += files;
            if (files > 0)
                shown << user;
        }
        Insert(shown);
        ScheduleSort();
    }
    ShowStatus();
}

void SearchResultsTab::Insert(const QList<QTreeWidgetItem*>& users)
{
    m_tree->addTopLevelItems(users);
    // While the view waits to lay out its rows, opening one only notes it.
    for (QTreeWidgetItem* user : users)
        Reopen(user);
}

void SearchResultsTab::Reopen(QTreeWidgetItem* userRow)
{
    // A row put into the view comes closed, its rows below too.
    if (AsRow(userRow)->OpenedOr(ExpandUsers()))
        userRow->setExpanded(true);
    const bool expandFolders = ExpandFolders();
    for (int n = 0; n < userRow->childCount(); ++n)
        if (AsRow(userRow->child(n))->OpenedOr(expandFolders))
            userRow->child(n)->setExpanded(true);
}

void SearchResultsTab::AddResults(ItemPtr searchResults)
{
    ItemPtr user = searchResults[ServerTypes::User];
    Row*& userRow = m_userRows[user];
    const bool newUser = userRow == nullptr;
    if (newUser) {
        userRow = NewUserRow(searchResults, user);
        m_unshown << userRow;
    }
    // A user already in the view leaves it while its rows change, and comes
    // back where it was when anything of it is left to show; one the filter
    // had dropped may come back with the new rows.
    const bool waiting = newUser || m_unshown.contains(userRow);
    const int place = waiting ? -1 : m_tree->indexOfTopLevelItem(userRow);
    if (place >= 0) {
        m_tree->takeTopLevelItem(place);
        m_shownCount -= FilterUser(userRow);
    }

    for (Item* result : searchResults.GetItems(SearchResult)) {
        ItemPtr folder = ItemPtr(result)[SearchResultFileFolder];
        Row*& folderRow = m_folderRows[{userRow, folder}];
        if (!folderRow) {
            folderRow = NewFolderRow(userRow, folder);
            userRow->AddMember(folderRow);
        }
        folderRow->AddMember(NewFileRow(folderRow, result));
        ++m_resultCount;
    }

    ScheduleSort();
    if (waiting)
        return;
    const int files = FilterUser(userRow);
    m_shownCount += files;
    if (files == 0)
        return;
    m_tree->insertTopLevelItem(place >= 0 ? place : m_tree->topLevelItemCount(), userRow);
    Reopen(userRow);
}

Row* SearchResultsTab::NewUserRow(ItemPtr searchResults, ItemPtr user)
{
    auto* row = new Row(Row::UserRow, Q(user.AsString()));
    row->setText(Row::UserColumn, Q(user.AsString()));
    row->SetSource(searchResults[SearchResultsUserAvailable].AsString() == "yes",
                   searchResults[SearchResultsUploadsInQueue].AsInt64(),
                   searchResults[SearchResultsUserSpeed].AsInt64());
    row->setTextAlignment(Row::FreeColumn, Qt::AlignCenter);
    row->setTextAlignment(Row::SpeedColumn, Qt::AlignRight | Qt::AlignVCenter);
    if (m_widgetItem) {
        ItemPtr node = d.GetType(SearchFormTypes::UserNode)->NewItem(ObjectValue(row));
        node.Connect(m_widgetItem);
        node.Connect(user);
        row->SetNode(node);
    }
    return row;
}

Row* SearchResultsTab::NewFolderRow(Row* userRow, ItemPtr folder)
{
    const QString text = Q(ReversePathname(folder.AsString()));
    auto* row = new Row(Row::FolderRow, text);
    row->setText(Row::FolderColumn, text);
    row->setToolTip(Row::FolderColumn, Q(folder.AsString()));
    if (userRow->Node()) {
        ItemPtr node = d.GetType(SearchFormTypes::FolderNode)->NewItem(ObjectValue(row));
        node.Connect(userRow->Node());
        node.Connect(folder);
        row->SetNode(node);
    }
    return row;
}

Row* SearchResultsTab::NewFileRow(Row* folderRow, ItemPtr result)
{
    const QString name = Q(result[SearchResultFileName].AsString());
    auto* row = new Row(Row::FileRow, name, result);
    const long long size = result[SearchResultFileSize].AsInt64();
    const int bitrate = result[Bitrate].AsInt();
    const int length = result[LengthSeconds].AsInt();
    row->setText(Row::FileColumn, name);
    row->setText(Row::SizeColumn, CommafyNumber(size));
    row->setTextAlignment(Row::SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(Row::AttributesColumn, Q(FileItemDisplay::GetFileItemDisplayString(result)));
    if (bitrate > 0)
        row->setText(Row::BitrateColumn, QString::number(bitrate));
    if (length > 0)
        row->setText(Row::LengthColumn, Q(FormatSeconds(length)));
    row->SetSize(size);
    row->SetBitrate(bitrate);
    row->SetLength(length);
    if (folderRow->Node()) {
        ItemPtr node = d.GetType(SearchFormTypes::ResultNode)->NewItem(ObjectValue(row));
        node.Connect(folderRow->Node());
        node.Connect(result);
        row->SetNode(node);
    }
    return row;
}

void SearchResultsTab::ScheduleSort()
{
    if (delayedInvoker)
        delayedInvoker->Invoke(this, SLOT(Sort()), SortDelayMs);
}

void SearchResultsTab::Sort()
{
    // Folders and files are kept in name order as they are added, which is
    // what both orderings by source want below the users; only the users
    // move then. Other columns order every level.
    if (m_sortColumn == Row::FreeColumn || m_sortColumn == Row::SpeedColumn)
        m_tree->invisibleRootItem()->sortChildren(m_sortColumn, Qt::DescendingOrder);
    else
        m_tree->sortItems(m_sortColumn, Qt::DescendingOrder);
}

void SearchResultsTab::SetSortColumn(int column)
{
    m_sortColumn = column;
    m_tree->header()->setSortIndicator(column, Qt::DescendingOrder);
    Sort();
}

bool SearchResultsTab::ExpandUsers() const
{
    return !m_widgetItem || m_widgetItem[SearchFormTypes::ExpandUsers].AsString() != "no";
}

bool SearchResultsTab::ExpandFolders() const
{
    return !m_widgetItem || m_widgetItem[SearchFormTypes::ExpandFolders].AsString() != "no";
}

void SearchResultsTab::SetOption(const char* type, bool on)
{
    if (m_widgetItem)
        m_widgetItem.Connect(d.GetType(type)->GetItem(on ? "yes" : "no"));
}

void SearchResultsTab::SetExpandUsers(bool on)
{
    SetOption(SearchFormTypes::ExpandUsers, on);
    ExpandAll(Row::UserRow, on);
}

void SearchResultsTab::SetExpandFolders(bool on)
{
    SetOption(SearchFormTypes::ExpandFolders, on);
    ExpandAll(Row::FolderRow, on);
}

void SearchResultsTab::ExpandAll(int kind, bool on)
{
    // The option overrides what was done by hand, also to rows the filter
    // keeps out of the view now.
    m_tree->setUpdatesEnabled(false);
    auto apply = [on](Row* row) {
        row->NoteOpened(on);
        if (row->treeWidget())
            row->setExpanded(on);
    };
    if (kind == Row::UserRow)
        for (auto& [user, row] : m_userRows)
            apply(row);
    else
        for (auto& [key, row] : m_folderRows)
            apply(row);
    m_tree->setUpdatesEnabled(true);
}

void SearchResultsTab::OnFilterTextChanged(const QString& text)
{
    m_filterParser = FilterParser();
    m_filterParser.Parse(text);
    m_filterParser.ExpectFoldedTexts();
    // Everything leaves the view at once and what matches comes back in one
    // step; rows still being built are filtered when they join.
    m_tree->setUpdatesEnabled(false);
    m_tree->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> shown;
    m_shownCount = 0;
    for (auto& [user, row] : m_userRows) {
        if (m_unshown.contains(row))
            continue;
        const int files = FilterUser(row);
        m_shownCount += files;
        if (files > 0)
            shown << row;
    }
    Insert(shown);
    Sort();
    m_tree->setUpdatesEnabled(true);
    ShowStatus();
}

int SearchResultsTab::FilterUser(Row* userRow) const
{
    int files = 0;
    FilterParser remaining;
    userRow->ShowMembers([&](Row* folderRow) {
        if (m_filterParser.IsMatching(folderRow->FoldedName(), &remaining) ==
            FilterParser::TermExcluded)
            return false;
        const int shown = folderRow->ShowMembers([&](Row* fileRow) {
            return remaining.IsMatching(fileRow->FoldedName()) == FilterParser::Matching;
        });
        files += shown;
        return shown > 0;
    });
    return files;
}

void SearchResultsTab::ShowStatus()
{
    QString text =
        QString("%1 results from %2 users")
            .arg(CommafyNumber(m_resultCount).isEmpty() ? "0" : CommafyNumber(m_resultCount))
            .arg(UserCount());
    if (!m_filterParser.IsEmpty())
        text += QString(", %1 shown").arg(m_shownCount);
    if (!m_pending.empty())
        text += QString(", %1 more arriving").arg(m_pending.size());
    m_status->setText(text);
}

std::string SearchResultsTab::UserOfRow(QTreeWidgetItem* row)
{
    while (row && row->parent())
        row = row->parent();
    return row ? row->text(Row::UserColumn).toStdString() : std::string();
}

void SearchResultsTab::AddResultsOf(const Row* row, std::vector<Item*>& out)
{
    if (Item* result = row->Result())
        out.push_back(result);
    for (const Row* member : row->Members())
        AddResultsOf(member, out);
}

std::vector<Item*> SearchResultsTab::ResultsUnder(const QList<QTreeWidgetItem*>& rows) const
{
    std::vector<Item*> out;
    std::set<Item*> seen;
    for (QTreeWidgetItem* row : rows) {
        std::vector<Item*> results;
        // Everything in the row, also what the filter hides.
        AddResultsOf(AsRow(row), results);
        if (AsRow(row)->RowKind() == Row::UserRow)
            std::stable_sort(results.begin(), results.end(), [](Item* a, Item* b) {
                return ItemPtr(a)[SearchResultFileName].AsString() <
                       ItemPtr(b)[SearchResultFileName].AsString();
            });
        for (Item* result : results)
            if (seen.insert(result).second)
                out.push_back(result);
    }
    return out;
}
