#include "StoreItemListModel.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <utility>

#include "store/Item.h"
#include "store/Type.h"

namespace {

// Sorting a million items by value with a plain comparison costs a cache
// miss into each item and into its text on every one of twenty-odd
// comparisons. Instead the next eight bytes of every text are read once per
// round into the entry itself and the entries sorted on those; only runs that
// tie go on to the next eight bytes. The result is the order of
// std::string::compare, ties broken by address, as the model's look-ups
// expect.
struct SortEntry
{
    std::uint64_t chunk;
    std::string_view text;
    Item* item;
};

std::uint64_t ChunkAt(std::string_view text, std::size_t depth)
{
    std::uint64_t chunk = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = depth + i;
        const auto byte = at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
        chunk = (chunk << 8) | byte;
    }
    return chunk;
}

void SortByValue(std::vector<Item*>& items)
{
    std::vector<SortEntry> entries;
    entries.reserve(items.size());
    for (Item* item : items)
        entries.push_back({0, item->AsString(), item});

    struct Range
    {
        std::size_t begin, end, depth;
    };
    std::vector<Range> pending{{0, entries.size(), 0}};
    while (!pending.empty()) {
        const Range range = pending.back();
        const std::size_t depth = range.depth;
        pending.pop_back();
        const auto first = entries.begin() + static_cast<std::ptrdiff_t>(range.begin);
        const auto last = entries.begin() + static_cast<std::ptrdiff_t>(range.end);
        for (auto it = first; it != last; ++it)
            it->chunk = ChunkAt(it->text, depth);
        std::sort(first, last,
                  [](const SortEntry& a, const SortEntry& b) { return a.chunk < b.chunk; });
        for (auto run = first; run != last;) {
            auto runEnd =
                std::find_if(run, last, [&](const SortEntry& e) { return e.chunk != run->chunk; });
            // Texts that end within these eight bytes are prefixes of the
            // rest of the run (the padding equals their bytes), so they come
            // first, shorter before longer.
            const auto ended = std::partition(
                run, runEnd, [&](const SortEntry& e) { return e.text.size() <= depth + 8; });
            std::sort(run, ended, [](const SortEntry& a, const SortEntry& b) {
                return std::pair(a.text.size(), a.item) < std::pair(b.text.size(), b.item);
            });
            if (runEnd - ended > 1)
                pending.push_back({static_cast<std::size_t>(ended - entries.begin()),
                                   static_cast<std::size_t>(runEnd - entries.begin()), depth + 8});
            run = runEnd;
        }
    }
    for (std::size_t i = 0; i < entries.size(); ++i)
        items[i] = entries[i].item;
}

} // namespace

StoreItemListModel::StoreItemListModel(QObject* parent) : QAbstractListModel(parent) {}

void StoreItemListModel::SetType(Type* type)
{
    beginResetModel();
    m_type = type;
    m_added.clear();
    m_removed.clear();
    m_rows = type ? type->GetItemsInOrder() : std::vector<Item*>();
    SortByValue(m_rows);
    endResetModel();
}

Item* StoreItemListModel::ItemAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()))
        return nullptr;
    Item* item = m_rows[index.row()];
    return m_removed.count(item) ? nullptr : item;
}

QModelIndex StoreItemListModel::IndexOf(Item* item) const
{
    if (!item || item->GetType() != m_type || m_removed.count(item))
        return QModelIndex();
    const std::size_t row = LowerBound(item);
    if (row == m_rows.size() || m_rows[row] != item)
        return QModelIndex();
    return index(static_cast<int>(row));
}

void StoreItemListModel::Add(Item* item)
{
    m_added.insert(item);
}

void StoreItemListModel::Remove(Item* item)
{
    if (m_added.erase(item))
        return;
    m_removed.emplace(item, item->AsString());
}

bool StoreItemListModel::ApplyChanges()
{
    if (!HasChanges())
        return false;
    if (m_added.size() + m_removed.size() <= kRowByRowLimit) {
        ApplyRowByRow();
        return false;
    }
    ApplyAsReset();
    return true;
}

void StoreItemListModel::ApplyRowByRow()
{
    // Removed rows go first, while the gathered values still describe them.
    std::vector<std::size_t> gone;
    for (const auto& [item, value] : m_removed) {
        const std::size_t row = LowerBound(item);
        if (row < m_rows.size() && m_rows[row] == item)
            gone.push_back(row);
    }
    std::sort(gone.rbegin(), gone.rend());
    for (std::size_t row : gone) {
        beginRemoveRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(row));
        endRemoveRows();
    }
    m_removed.clear();

    for (Item* item : m_added) {
        const std::size_t row = LowerBound(item);
        beginInsertRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
        m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(row), item);
        endInsertRows();
    }
    m_added.clear();
}

void StoreItemListModel::ApplyAsReset()
{
    beginResetModel();
    std::erase_if(m_rows, [this](Item* item) { return m_removed.count(item) != 0; });
    m_removed.clear();
    std::vector<Item*> added(m_added.begin(), m_added.end());
    m_added.clear();
    auto before = [this](Item* a, Item* b) { return Before(a, b); };
    SortByValue(added);
    std::vector<Item*> merged;
    merged.reserve(m_rows.size() + added.size());
    std::merge(m_rows.begin(), m_rows.end(), added.begin(), added.end(), std::back_inserter(merged),
               before);
    m_rows.swap(merged);
    endResetModel();
}

int StoreItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant StoreItemListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() ||
        index.row() >= static_cast<int>(m_rows.size()))
        return QVariant();
    Item* item = m_rows[index.row()];
    auto removed = m_removed.find(item);
    if (removed != m_removed.end())
        return QString::fromStdString(removed->second);
    return ItemText(item);
}

QString StoreItemListModel::ItemText(const Item* item)
{
    if (item->GetType()->IsNull())
        return "[null]";
    return QString::fromStdString(item->AsString());
}

const std::string& StoreItemListModel::ValueOf(Item* item) const
{
    if (m_removed.empty())
        return item->AsString();
    auto removed = m_removed.find(item);
    return removed == m_removed.end() ? item->AsString() : removed->second;
}

bool StoreItemListModel::Before(Item* a, Item* b) const
{
    const int order = ValueOf(a).compare(ValueOf(b));
    return order != 0 ? order < 0 : a < b;
}

std::size_t StoreItemListModel::LowerBound(Item* item) const
{
    auto at = std::lower_bound(m_rows.begin(), m_rows.end(), item,
                               [this](Item* a, Item* b) { return Before(a, b); });
    return static_cast<std::size_t>(at - m_rows.begin());
}
