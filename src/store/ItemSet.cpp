#include "ItemSet.h"

#include <algorithm>
#include <map>

#include "Data.h"

ItemSet::ItemSet(std::initializer_list<Item*> items)
{
    for (Item* item : items)
        insert(item);
}

ItemSet ItemSet::FromSorted(std::vector<Item*>&& sorted)
{
    ItemSet result;
    if (sorted.size() < kPromoteAt) {
        result.AssignFlat(sorted.data(), sorted.size());
    } else {
        result.m_large = new ItemBlockList(sorted);
        result.m_capacity = kLargeForm;
    }
    return result;
}

ItemSet ItemSet::FromSorted(Item* const* sorted, std::size_t count)
{
    if (count >= kPromoteAt)
        return FromSorted(std::vector<Item*>(sorted, sorted + count));
    ItemSet result;
    result.AssignFlat(sorted, count);
    return result;
}

ItemSet::ItemSet(const ItemSet& other)
{
    if (other.IsLarge()) {
        m_large = new ItemBlockList(*other.m_large);
        m_capacity = kLargeForm;
    } else {
        AssignFlat(other.Run(), other.m_size);
    }
}

ItemSet::ItemSet(ItemSet&& other) noexcept : m_size(other.m_size), m_capacity(other.m_capacity)
{
    m_run = other.m_run; // whichever member is live, the bits are the same
    other.m_one = nullptr;
    other.m_size = 0;
    other.m_capacity = 0;
}

ItemSet& ItemSet::operator=(const ItemSet& other)
{
    if (this != &other) {
        ItemSet copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& other) noexcept
{
    if (this != &other) {
        Release();
        m_run = other.m_run;
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        other.m_one = nullptr;
        other.m_size = 0;
        other.m_capacity = 0;
    }
    return *this;
}

void ItemSet::Release()
{
    if (IsLarge())
        delete m_large;
    else if (m_capacity != 0)
        delete[] m_run;
    m_one = nullptr;
    m_size = 0;
    m_capacity = 0;
}

void ItemSet::AssignFlat(Item* const* items, std::size_t count)
{
    m_size = static_cast<std::uint32_t>(count);
    if (count <= 1) {
        m_one = count ? items[0] : nullptr;
        return;
    }
    m_run = new Item*[count];
    m_capacity = static_cast<std::uint32_t>(count);
    std::copy(items, items + count, m_run);
}

ItemSet::const_iterator ItemSet::At(std::size_t block, std::size_t index) const
{
    if (!IsLarge()) {
        if (index >= m_size)
            return end();
        Item* const* run = Run();
        return const_iterator(run + index, run + m_size, nullptr, nullptr);
    }
    if (block >= m_large->BlockCount())
        return end();
    ItemBlockList::Block* const* blocks = m_large->Blocks();
    Item* const* run = blocks[block]->items;
    return const_iterator(run + index, run + blocks[block]->count, blocks + block,
                          blocks + m_large->BlockCount());
}

ItemSet::const_iterator ItemSet::begin() const
{
    return At(0, 0);
}

namespace {

// The first position from `from` on whose member is not below `item`, or
// `count`. Steps of doubling length find the stretch it lies in, so an item
// close to the last one asked about costs a few comparisons.
std::size_t Gallop(Item* const* members, std::size_t from, std::size_t count, Item* item)
{
    std::size_t low = from;
    std::size_t high = from;
    std::size_t step = 1;
    while (high < count && members[high] < item) {
        low = high + 1;
        high += step;
        step *= 2;
    }
    return static_cast<std::size_t>(
        std::lower_bound(members + low, members + std::min(high, count), item) - members);
}

} // namespace

ItemSet::Seeker::Seeker(const ItemSet& set)
{
    if (!set.IsLarge()) {
        m_run = set.Run();
        m_runSize = set.m_size;
        return;
    }
    m_blocks = set.m_large->Blocks();
    m_lasts = set.m_large->Lasts();
    m_blockCount = set.m_large->BlockCount();
    EnterBlock();
}

void ItemSet::Seeker::EnterBlock()
{
    m_at = 0;
    if (m_block < m_blockCount) {
        m_run = m_blocks[m_block]->items;
        m_runSize = m_blocks[m_block]->count;
        // The searches that follow hop through the block in ways the
        // processor cannot foresee.
        m_blocks[m_block]->Prefetch();
    } else {
        m_runSize = 0;
    }
}

bool ItemSet::Seeker::Contains(Item* item)
{
    if (m_blocks && m_block < m_blockCount && m_lasts[m_block] < item) {
        m_block = Gallop(m_lasts, m_block + 1, m_blockCount, item);
        EnterBlock();
    }
    m_at = Gallop(m_run, m_at, m_runSize, item);
    return m_at < m_runSize && m_run[m_at] == item;
}

bool ItemSet::contains(Item* item) const
{
    if (IsLarge())
        return m_large->contains(item);
    Item* const* run = Run();
    return std::binary_search(run, run + m_size, item);
}

ItemSet::const_iterator ItemSet::find(Item* item) const
{
    if (IsLarge()) {
        const ItemBlockList::Position position = m_large->Locate(item);
        return position.found ? At(position.block, position.index) : end();
    }
    Item* const* run = Run();
    Item* const* it = std::lower_bound(run, run + m_size, item);
    if (it == run + m_size || *it != item)
        return end();
    return At(0, static_cast<std::size_t>(it - run));
}

bool ItemSet::insert(Item* item)
{
    if (IsLarge())
        return m_large->insert(item);
    Item* const* run = Run();
    Item* const* it = std::lower_bound(run, run + m_size, item);
    if (it != run + m_size && *it == item)
        return false;
    const auto at = static_cast<std::size_t>(it - run);
    if (m_size + 1 >= kPromoteAt)
        Promote(at, item);
    else
        InsertFlat(at, item);
    return true;
}

void ItemSet::InsertFlat(std::size_t at, Item* item)
{
    if (m_size == 0) {
        m_one = item;
        m_size = 1;
        return;
    }
    if (m_size < m_capacity) {
        std::copy_backward(m_run + at, m_run + m_size, m_run + m_size + 1);
        m_run[at] = item;
        ++m_size;
        return;
    }
    // Growing by two slots, then by a quarter (3, 5, 7... 15, 17, 21, 27...)
    // rather than doubling: a file's twenty or so words, the commonest
    // small set, leave little unused behind them, for a few more moves of
    // a short array. An odd number of pointers plus the allocator's own
    // word fills its bin.
    const std::uint32_t capacity = (m_size + std::max<std::uint32_t>(2, m_size / 4)) | 1;
    Item** grown = new Item*[capacity];
    Item* const* run = Run();
    std::copy(run, run + at, grown);
    grown[at] = item;
    std::copy(run + at, run + m_size, grown + at + 1);
    if (m_capacity != 0)
        delete[] m_run;
    m_run = grown;
    m_capacity = capacity;
    ++m_size;
}

void ItemSet::Promote(std::size_t at, Item* item)
{
    Item* const* run = Run();
    std::vector<Item*> members(run, run + m_size);
    members.insert(members.begin() + static_cast<std::ptrdiff_t>(at), item);
    auto* large = new ItemBlockList(members);
    Release();
    m_large = large;
    m_capacity = kLargeForm;
}

bool ItemSet::erase(Item* item)
{
    if (IsLarge()) {
        if (!m_large->erase(item))
            return false;
        if (m_large->size() < kDemoteBelow) {
            const std::vector<Item*> members = m_large->ToVector();
            Release();
            AssignFlat(members.data(), members.size());
        }
        return true;
    }
    Item** run = Run();
    Item** it = std::lower_bound(run, run + m_size, item);
    if (it == run + m_size || *it != item)
        return false;
    std::copy(it + 1, run + m_size, it);
    --m_size;
    if (m_capacity == 0) {
        m_one = nullptr;
    } else if (m_size <= 1) {
        // Down to one member, the set holds it in place again.
        Item* last = m_size ? m_run[0] : nullptr;
        delete[] m_run;
        m_capacity = 0;
        m_one = last;
    }
    return true;
}

void ItemSet::clear()
{
    Release();
}

Item* ItemSet::first() const
{
    if (IsLarge())
        return m_large->first();
    return m_size ? Run()[0] : nullptr;
}

bool ItemSet::operator==(const ItemSet& other) const
{
    return size() == other.size() && std::equal(begin(), end(), other.begin());
}

void ItemSet::Add(const ItemSet& other)
{
    if (other.empty())
        return;
    if (empty()) {
        *this = other;
        return;
    }
    if (!IsLarge() && m_size + other.size() < kPromoteAt) {
        std::vector<Item*> merged;
        merged.reserve(m_size + other.size());
        Item* const* run = Run();
        std::set_union(run, run + m_size, other.begin(), other.end(), std::back_inserter(merged));
        Release();
        AssignFlat(merged.data(), merged.size());
        return;
    }
    for (Item* item : other)
        insert(item);
}

ItemSet ItemSet::operator+(const ItemSet& other) const
{
    ItemSet result(*this);
    result.Add(other);
    return result;
}

ItemSet ItemSet::Common(const ItemSet& other) const
{
    auto a = begin(), aEnd = end();
    auto b = other.begin(), bEnd = other.end();
    std::vector<Item*> common;
    while (a != aEnd && b != bEnd) {
        if (*a < *b) {
            ++a;
        } else if (*b < *a) {
            ++b;
        } else {
            common.push_back(*a);
            ++a;
            ++b;
        }
    }
    return FromSorted(std::move(common));
}

void ItemSet::Remove()
{
    if (empty())
        return;
    first()->GetType()->GetData()->RemoveItems(*this);
}

ItemSet ItemSet::FilterConnected(const ItemSet& other, bool keepConnected) const
{
    ItemSet result;
    if (empty())
        return result;
    if (other.empty())
        return keepConnected ? result : *this;

    auto hasPartnerIn = [](Item* item, const ItemSet& set) {
        for (const auto& [type, partners] : item->Connections())
            for (Item* partner : partners)
                if (set.contains(partner))
                    return true;
        return false;
    };

    if (keepConnected && other.size() < size()) {
        // Walk the smaller side: every partner of a member of `other` that
        // lies in this set is connected to it.
        for (Item* item : other)
            for (const auto& [type, partners] : item->Connections())
                for (Item* partner : partners)
                    if (contains(partner))
                        result.insert(partner);
        return result;
    }
    for (Item* item : *this)
        if (hasPartnerIn(item, other) == keepConnected)
            result.insert(item);
    return result;
}

ItemSet ItemSet::Connected(const ItemSet& other) const
{
    return FilterConnected(other, true);
}

ItemSet ItemSet::NotConnected(const ItemSet& other) const
{
    return FilterConnected(other, false);
}

ItemSet ItemSet::Connected(const ItemPtr& item) const
{
    ItemSet result;
    if (item.IsNull())
        return result;
    for (Item* member : *this)
        if (member->IsConnected(item.Get()))
            result.insert(member);
    return result;
}

ItemSet ItemSet::NotConnected(const ItemPtr& item) const
{
    if (item.IsNull())
        return *this;
    ItemSet result;
    for (Item* member : *this)
        if (!member->IsConnected(item.Get()))
            result.insert(member);
    return result;
}

ItemSet ItemSet::Connected(const char* typeName) const
{
    ItemSet result;
    for (Item* member : *this)
        if (member->IsConnected(typeName))
            result.insert(member);
    return result;
}

ItemSet ItemSet::NotConnected(const char* typeName) const
{
    ItemSet result;
    for (Item* member : *this)
        if (!member->IsConnected(typeName))
            result.insert(member);
    return result;
}

ItemSet ItemSet::Connected(const char* typeName, const std::string& value) const
{
    if (empty())
        return ItemSet();
    ItemPtr target = first()->GetType()->GetData()->GetType(typeName)->HasItem(value);
    if (target.IsNull())
        return ItemSet();
    return Connected(target);
}

ItemSet ItemSet::NotConnected(const char* typeName, const std::string& value) const
{
    if (empty())
        return ItemSet();
    ItemPtr target = first()->GetType()->GetData()->GetType(typeName)->HasItem(value);
    if (target.IsNull())
        return ItemSet();
    return NotConnected(target);
}

ItemSet ItemSet::GetItems(const char* typeName) const
{
    ItemSet result;
    for (Item* member : *this) {
        Type* type = member->GetType()->GetData()->GetType(typeName);
        if (const ItemSet* partners = member->Partners(type))
            result.Add(*partners);
        else
            member->GetType()->GetRelation(type); // unrelated types are misuse
    }
    return result;
}

void ItemSet::Disconnect(const char* typeName)
{
    for (Item* member : ItemSet(*this))
        member->Disconnect(typeName);
}

namespace {

// Groups by key, then lays the groups out in key order; inside a group the
// set order holds. Descending output is the exact reverse of ascending.
template <class Key, class KeyOf>
std::list<Item*> SortBy(const ItemSet& set, bool ascending, KeyOf keyOf)
{
    std::map<Key, std::vector<Item*>> groups;
    for (Item* item : set) {
        Key key{};
        if (keyOf(item, key))
            groups[key].push_back(item);
    }
    std::list<Item*> out;
    for (auto& [key, items] : groups)
        for (Item* item : items) {
            if (ascending)
                out.push_back(item);
            else
                out.push_front(item);
        }
    return out;
}

Type* LookUp(const ItemSet& set, const char* typeName)
{
    return set.empty() ? d.GetType(typeName) : set.first()->GetType()->GetData()->GetType(typeName);
}

} // namespace

std::list<Item*> ItemSet::SortAlphabetic(bool ascending) const
{
    return SortBy<std::string>(*this, ascending, [](Item* item, std::string& key) {
        key = item->AsString();
        return true;
    });
}

std::list<Item*> ItemSet::SortNumeric(bool ascending) const
{
    return SortBy<long long>(*this, ascending, [](Item* item, long long& key) {
        key = item->AsInt64();
        return true;
    });
}

std::list<Item*> ItemSet::SortAlphabeticBy(const char* typeName, bool ascending) const
{
    Type* type = LookUp(*this, typeName);
    return SortBy<std::string>(*this, ascending, [type](Item* item, std::string& key) {
        Item* partner = item->HasItem(type);
        if (!partner)
            return false;
        key = partner->AsString();
        return true;
    });
}

std::list<Item*> ItemSet::SortNumericBy(const char* typeName, bool ascending) const
{
    Type* type = LookUp(*this, typeName);
    return SortBy<long long>(*this, ascending, [type](Item* item, long long& key) {
        Item* partner = item->HasItem(type);
        if (!partner)
            return false;
        key = partner->AsInt64();
        return true;
    });
}
