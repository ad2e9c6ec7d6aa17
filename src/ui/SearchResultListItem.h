#pragma once

#include <optional>
#include <vector>

#include <QTreeWidgetItem>

class Item;

// A row of a result tab: a user, one of the user's folders, or a file.
// Its ordering puts the better source first when the tab is sorted, always
// descending, by the "Free" or "K/s" column; rows without either (folders
// and files) then fall back to their names in ascending order. The keys it
// sorts by are kept as plain values, so that sorting a large tab does not
// go through the shown texts.
//
// A user or folder row keeps all its rows below, in name order, whether
// the filter lets them show or not; only the shown ones are its children.
class SearchResultListItem : public QTreeWidgetItem
{
public:
    enum Column
    {
        UserColumn = 0,
        FreeColumn,
        SpeedColumn,
        FolderColumn,
        FileColumn,
        SizeColumn,
        AttributesColumn,
        BitrateColumn,
        LengthColumn,
        ColumnCount
    };

    enum Kind
    {
        UserRow = QTreeWidgetItem::UserType + 1,
        FolderRow,
        FileRow
    };

    // A file row stands for one "search_result"; the other rows for none.
    // `name` is what rows of the kind are ordered by among themselves.
    SearchResultListItem(Kind kind, const QString& name, Item* result = nullptr);
    ~SearchResultListItem() override;
    SearchResultListItem(const SearchResultListItem&) = delete;
    SearchResultListItem& operator=(const SearchResultListItem&) = delete;

    Kind RowKind() const { return static_cast<Kind>(type()); }
    // The user name, folder text or file name the row shows.
    const QString& Name() const { return m_name; }
    // The same lower-cased, for filters that expect folded texts.
    const QString& FoldedName() const { return m_folded; }
    Item* Result() const { return m_result; }
    // The row's own store item ("search_results_user_node" and the like).
    Item* Node() const { return m_node; }
    void SetNode(Item* node) { m_node = node; }

    // Fills the Free and K/s columns of a user row.
    void SetSource(bool available, long long queued, long long bytesPerSecond);
    // Numbers the other columns sort by, kept apart from the shown text.
    void SetSize(long long bytes) { m_size = bytes; }
    void SetBitrate(int bitrate) { m_bitrate = bitrate; }
    void SetLength(int seconds) { m_length = seconds; }

    // Every row below, shown or not, in name order.
    const std::vector<SearchResultListItem*>& Members() const { return m_members; }
    void AddMember(SearchResultListItem* row);
    // Makes the members for which `shown` holds the children, in order.
    template <class F> int ShowMembers(F&& shown);

    // Whether the row was open when last seen in the view. A row loses its
    // open state when it leaves the view; only one never shown yet takes the
    // tab's options when it joins.
    void NoteOpened(bool open) { m_opened = open; }
    bool OpenedOr(bool fallback) const { return m_opened.value_or(fallback); }

    // True when `other` is to be listed before this row in the tab's
    // descending sort.
    bool operator<(const QTreeWidgetItem& other) const override;
    // Name order, for lists built before they join the view.
    static bool NameBefore(const SearchResultListItem* a, const SearchResultListItem* b);

    // "Y" for a free slot, otherwise the queue length; K/s with one decimal
    // and empty for no speed.
    static QString FreeText(bool available, long long queued);
    static QString SpeedText(long long bytesPerSecond);

private:
    // -1 for a free slot, the queue length, or NoFree for rows without one.
    static constexpr long long NoFree = -2;

    bool ByAvailability(const SearchResultListItem& other) const;
    bool BySpeed(const SearchResultListItem& other) const;
    bool ByName(const SearchResultListItem& other) const;

    Item* m_result;
    Item* m_node = nullptr;
    QString m_name;
    QString m_folded;
    long long m_free = NoFree;
    long long m_speed = 0;
    long long m_size = 0;
    int m_bitrate = 0;
    int m_length = 0;
    std::optional<bool> m_opened;
    std::vector<SearchResultListItem*> m_members;
};

template <class F> int SearchResultListItem::ShowMembers(F&& shown)
{
    QList<QTreeWidgetItem*> rows;
    for (SearchResultListItem* member : m_members)
        if (shown(member))
            rows << member;
    // Moving rows is what costs; most keystrokes leave most rows alone.
    bool same = rows.size() == childCount();
    for (int n = 0; same && n < rows.size(); ++n)
        same = child(n) == rows[n];
    if (!same) {
        takeChildren();
        addChildren(rows);
    }
    return static_cast<int>(rows.size());
}
