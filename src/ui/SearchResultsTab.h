#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <QWidget>

#include "search/FilterParser.h"
#include "store/ItemPtr.h"

class QLabel;
class QLineEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class SearchResultListItem;

// One result tab: the results of one search (or of every repetition of a
// wish-list search) as a tree of users, their folders and the files in
// them, with a filter field and a status line. Result sets are queued as
// they arrive and turned into rows in slices of bounded time, away from the
// view; the rows join the view in a few large steps, because each step
// makes the view lay out every row again. The sort runs after the flood, at
// most once a second.
//
// Rows the filter drops are taken out of the tree rather than hidden: a
// view with tens of thousands of hidden rows looks each one up on every
// layout, while rows that are not there cost nothing.
class SearchResultsTab : public QWidget
{
    Q_OBJECT

public:
    // How long one slice of row building may take.
    static constexpr int SliceMs = 15;
    // How often rows built meanwhile join the view. Each addition makes the
    // view lay out all its rows again, so it is done in a few large steps.
    static constexpr int ShowIntervalMs = 250;
    // How long the sort waits for further results.
    static constexpr int SortDelayMs = 1000;

    SearchResultsTab(const QString& text, bool wishList, QWidget* parent = nullptr);
    ~SearchResultsTab() override;

    // The tab's store item, connected to its options; null until created.
    ItemPtr WidgetItem() const { return m_widgetItem; }
    void SetWidgetItem(ItemPtr item) { m_widgetItem = item; }
    const QString& Text() const { return m_text; }
    bool IsWishList() const { return m_wishList; }

    QTreeWidget* Tree() const { return m_tree; }
    QLineEdit* FilterField() const { return m_filter; }
    QLabel* StatusLine() const { return m_status; }
    QTimer* SliceTimer() const { return m_sliceTimer; }

    // Queues a "search_results" set for rows.
    void Enqueue(ItemPtr searchResults);
    bool HasPending() const { return !m_pending.empty() || !m_unshown.isEmpty(); }
    // Builds rows for every queued set at once (tests, screenshots).
    void AddAllPending();

    int ResultCount() const { return m_resultCount; }
    int UserCount() const { return static_cast<int>(m_userRows.size()); }

    // The sort column, FreeColumn or SpeedColumn, always descending.
    int SortColumn() const { return m_sortColumn; }
    void SetSortColumn(int column);
    bool ExpandUsers() const;
    bool ExpandFolders() const;
    void SetExpandUsers(bool on);
    void SetExpandFolders(bool on);

    // The results under (or at) the rows, once each, in the order of the
    // rows; a user row yields its results sorted by file name.
    std::vector<Item*> ResultsUnder(const QList<QTreeWidgetItem*>& rows) const;
    // The user a row of any level belongs to.
    static std::string UserOfRow(QTreeWidgetItem* row);

public slots:
    void Sort();
    void OnFilterTextChanged(const QString& text);

private slots:
    void AddPendingSlice();
    // Puts the rows built since the last call into the view.
    void ShowNewRows();

private:
    void AddResults(ItemPtr searchResults);
    SearchResultListItem* NewUserRow(ItemPtr searchResults, ItemPtr user);
    SearchResultListItem* NewFolderRow(SearchResultListItem* userRow, ItemPtr folder);
    SearchResultListItem* NewFileRow(SearchResultListItem* folderRow, ItemPtr result);
    void ScheduleSort();
    void ShowStatus();
    // The two-level filter on the rows of a user that is out of the view;
    // the number of its files left shown.
    int FilterUser(SearchResultListItem* userRow) const;
    // Puts user rows into the view, opened as they were left or, when
    // shown for the first time, as the tab's options say.
    void Insert(const QList<QTreeWidgetItem*>& users);
    void Reopen(QTreeWidgetItem* userRow);
    void ExpandAll(int kind, bool on);
    static void AddResultsOf(const SearchResultListItem* row, std::vector<Item*>& out);
    void SetOption(const char* type, bool on);

    QString m_text;
    bool m_wishList;
    ItemPtr m_widgetItem;
    QTreeWidget* m_tree;
    QLineEdit* m_filter;
    QLabel* m_status;
    QTimer* m_sliceTimer;
    QTimer* m_showTimer;
    FilterParser m_filterParser;
    int m_sortColumn;
    int m_resultCount = 0;
    int m_shownCount = 0;
    std::deque<ItemPtr> m_pending;
    // User rows built but not yet in the view.
    QList<QTreeWidgetItem*> m_unshown;
    // Every user row, in the view or not; the tab deletes those that are not.
    std::map<Item*, SearchResultListItem*> m_userRows;
    std::map<std::pair<QTreeWidgetItem*, Item*>, SearchResultListItem*> m_folderRows;
};
