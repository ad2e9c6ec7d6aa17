#pragma once

#include <QTreeWidgetItem>

class Item;

// A row of a result tab: a user, one of the user's folders, or a file.
// Its ordering puts the better source first when the tab is sorted, always
// descending, by the "Free" or "K/s" column; file rows, which have neither,
// then fall back to their names in ascending order.
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
    explicit SearchResultListItem(Kind kind, Item* result = nullptr);

    Kind RowKind() const { return static_cast<Kind>(type()); }
    Item* Result() const { return m_result; }
    // The row's own store item ("search_results_user_node" and the like).
    Item* Node() const { return m_node; }
    void SetNode(Item* node) { m_node = node; }
    // Files of a user row the filter lets through.
    int ShownFiles() const { return m_shownFiles; }
    void SetShownFiles(int count) { m_shownFiles = count; }
    // Numbers the columns sort by, kept apart from the shown text.
    void SetSpeed(long long bytesPerSecond) { m_speed = bytesPerSecond; }
    void SetSize(long long bytes) { m_size = bytes; }
    void SetBitrate(int bitrate) { m_bitrate = bitrate; }
    void SetLength(int seconds) { m_length = seconds; }

    // Shows or hides the row for the filter; only a change reaches the view.
    void SetFilteredOut(bool out)
    {
        if (out != m_filteredOut) {
            m_filteredOut = out;
            setHidden(out);
        }
    }
    bool IsFilteredOut() const { return m_filteredOut; }

    // True when `other` is to be listed before this row in the tab's
    // descending sort.
    bool operator<(const QTreeWidgetItem& other) const override;

    // "Y" for a free slot, otherwise the queue length; K/s with one decimal
    // and empty for no speed.
    static QString FreeText(bool available, long long queued);
    static QString SpeedText(long long bytesPerSecond);

private:
    bool ByAvailability(const SearchResultListItem& other) const;
    bool BySpeed(const SearchResultListItem& other) const;
    bool ByName(const SearchResultListItem& other) const;

    Item* m_result;
    Item* m_node = nullptr;
    int m_shownFiles = 0;
    long long m_speed = 0;
    long long m_size = 0;
    int m_bitrate = 0;
    int m_length = 0;
    bool m_filteredOut = false;
};
