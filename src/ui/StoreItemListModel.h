#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QAbstractListModel>

class Item;
class Type;

// The items of one store type as a list sorted by value (value-less items by
// identity), for a view that must stay quick on types of a million items.
//
// The store announces items one at a time and a share scan or a garbage
// collection announces them by the hundred thousand, so changes are gathered
// and applied together by ApplyChanges: a few as row insertions and
// removals, many as one reset. A removed item is gone from the store as soon
// as its announcement returns, so until then its row keeps a copy of the
// value and never touches the item again.
class StoreItemListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit StoreItemListModel(QObject* parent = nullptr);

    // Lists every item of `type` (none when null).
    void SetType(Type* type);
    Type* GetType() const { return m_type; }

    // Null for an invalid index or an item removed since the last ApplyChanges.
    Item* ItemAt(const QModelIndex& index) const;
    QModelIndex IndexOf(Item* item) const;

    // Called for items of the listed type only.
    void Add(Item* item);
    void Remove(Item* item);
    bool HasChanges() const { return !m_added.empty() || !m_removed.empty(); }
    // True when the changes were applied as a reset, which loses the view's
    // current row and scroll position.
    bool ApplyChanges();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Text of a row: the value, or "[null]" for a value-less item.
    static QString ItemText(const Item* item);

private:
    // Gathered changes larger than this are applied as one reset.
    static constexpr std::size_t kRowByRowLimit = 64;

    const std::string& ValueOf(Item* item) const;
    bool Before(Item* a, Item* b) const;
    std::size_t LowerBound(Item* item) const;
    void ApplyRowByRow();
    void ApplyAsReset();

    Type* m_type = nullptr;
    std::vector<Item*> m_rows;
    std::unordered_set<Item*> m_added;
    // Removed items still in m_rows, with the value they had.
    std::unordered_map<Item*, std::string> m_removed;
};
