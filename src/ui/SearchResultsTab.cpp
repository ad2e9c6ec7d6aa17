#include "ui/SearchResultsTab.h"

#include <algorithm>
#include <set>

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
      m_sortColumn(Row::FreeColumn)
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
    ShowStatus();
}

SearchResultsTab::~SearchResultsTab() = default;

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
    ShowStatus();
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
    ShowStatus();
    if (!m_pending.empty())
        m_sliceTimer->start();
}

void SearchResultsTab::AddResults(ItemPtr searchResults)
{
    ItemPtr user = searchResults[ServerTypes::User];
    Row*& userRow = m_userRows[user];
    const bool newUser = userRow == nullptr;
    if (newUser)
        userRow = NewUserRow(searchResults, user);

    // Rows are gathered under rows not yet in the view wherever possible,
    // so that the view hears of each batch once.
    std::map<Row*, QList<QTreeWidgetItem*>> filesOfKnownFolders;
    QList<QTreeWidgetItem*> newFolders;
    for (Item* result : searchResults.GetItems(SearchResult)) {
        ItemPtr folder = ItemPtr(result)[SearchResultFileFolder];
        Row*& folderRow = m_folderRows[{userRow, folder}];
        const bool newFolder = folderRow == nullptr;
        if (newFolder) {
            folderRow = NewFolderRow(userRow, folder);
            newFolders << folderRow;
        }
        Row* fileRow = NewFileRow(folderRow, result);
        if (newFolder)
            folderRow->addChild(fileRow);
        else
            filesOfKnownFolders[folderRow] << fileRow;
        ++m_resultCount;
    }
    for (auto& [folderRow, files] : filesOfKnownFolders)
        folderRow->addChildren(files);
    userRow->addChildren(newFolders);
    if (newUser)
        m_tree->addTopLevelItem(userRow);

    if (ExpandUsers() && !userRow->isExpanded())
        userRow->setExpanded(true);
    if (ExpandFolders())
        for (QTreeWidgetItem* folderRow : newFolders)
            folderRow->setExpanded(true);
    FilterUser(userRow);
    ScheduleSort();
}

Row* SearchResultsTab::NewUserRow(ItemPtr searchResults, ItemPtr user)
{
    auto* row = new Row(Row::UserRow);
    const long long speed = searchResults[SearchResultsUserSpeed].AsInt64();
    row->setText(Row::UserColumn, Q(user.AsString()));
    row->setText(Row::FreeColumn,
                 Row::FreeText(searchResults[SearchResultsUserAvailable].AsString() == "yes",
                               searchResults[SearchResultsUploadsInQueue].AsInt64()));
    row->setText(Row::SpeedColumn, Row::SpeedText(speed));
    row->setTextAlignment(Row::FreeColumn, Qt::AlignCenter);
    row->setTextAlignment(Row::SpeedColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->SetSpeed(speed);
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
    auto* row = new Row(Row::FolderRow);
    row->setText(Row::FolderColumn, Q(ReversePathname(folder.AsString())));
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
    auto* row = new Row(Row::FileRow, result);
    const long long size = result[SearchResultFileSize].AsInt64();
    const int bitrate = result[Bitrate].AsInt();
    const int length = result[LengthSeconds].AsInt();
    row->setText(Row::FileColumn, Q(result[SearchResultFileName].AsString()));
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
    m_tree->setUpdatesEnabled(false);
    if (kind == Row::UserRow)
        for (auto& [user, row] : m_userRows)
            row->setExpanded(on);
    else
        for (auto& [key, row] : m_folderRows)
            row->setExpanded(on);
    m_tree->setUpdatesEnabled(true);
}

void SearchResultsTab::OnFilterTextChanged(const QString& text)
{
    m_filterParser = FilterParser();
    m_filterParser.Parse(text);
    m_tree->setUpdatesEnabled(false);
    for (auto& [user, row] : m_userRows)
        FilterUser(row);
    m_tree->setUpdatesEnabled(true);
    ShowStatus();
}

bool SearchResultsTab::FilterUser(QTreeWidgetItem* userItem)
{
    Row* userRow = AsRow(userItem);
    int shown = 0;
    FilterParser remaining;
    for (int f = 0; f < userRow->childCount(); ++f) {
        Row* folderRow = AsRow(userRow->child(f));
        const bool folderExcluded =
            m_filterParser.IsMatching(folderRow->text(Row::FolderColumn), &remaining) ==
            FilterParser::TermExcluded;
        int shownInFolder = 0;
        for (int n = 0; n < folderRow->childCount(); ++n) {
            Row* fileRow = AsRow(folderRow->child(n));
            const bool show =
                !folderExcluded &&
                remaining.IsMatching(fileRow->text(Row::FileColumn)) == FilterParser::Matching;
            // Inside an excluded folder the files keep their state: the
            // folder row hides them all.
            if (!folderExcluded)
                fileRow->SetFilteredOut(!show);
            shownInFolder += show ? 1 : 0;
        }
        folderRow->SetFilteredOut(shownInFolder == 0);
        shown += shownInFolder;
    }
    userRow->SetFilteredOut(shown == 0);
    m_shownCount += shown - userRow->ShownFiles();
    userRow->SetShownFiles(shown);
    return shown > 0;
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

void SearchResultsTab::AddResultsOf(QTreeWidgetItem* row, std::vector<Item*>& out)
{
    if (Item* result = AsRow(row)->Result())
        out.push_back(result);
    for (int n = 0; n < row->childCount(); ++n)
        AddResultsOf(row->child(n), out);
}

std::vector<Item*> SearchResultsTab::ResultsUnder(const QList<QTreeWidgetItem*>& rows) const
{
    std::vector<Item*> out;
    std::set<Item*> seen;
    for (QTreeWidgetItem* row : rows) {
        std::vector<Item*> results;
        AddResultsOf(row, results);
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
