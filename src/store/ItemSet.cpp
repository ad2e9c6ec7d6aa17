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
    if (sorted.size() < kPromoteAt)
        result.m_flat = std::move(sorted);
    else
        result.m_large = std::make_unique<ItemBlockList>(sorted);
    return result;
}

ItemSet::ItemSet(const ItemSet& other)
    : m_flat(other.m_flat),
      m_large(other.m_large ? std::make_unique<ItemBlockList>(*other.m_large) : nullptr)
{}

ItemSet& ItemSet::operator=(const ItemSet& other)
{
    if (this != &other) {
        m_flat = other.m_flat;
        m_large = other.m_large ? std::make_unique<ItemBlockList>(*other.m_large) : nullptr;
    }
    return *this;
}

ItemSet::const_iterator ItemSet::At(std::size_t block, std::size_t index) const
{
    if (!m_large) {
        if (index >= m_flat.size())
            return end();
        return const_iterator(m_flat.data() + index, m_flat.data() + m_flat.size(), nullptr,
                              nullptr);
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

ItemSet::const_iterator ItemSet::end() const
{
    return const_iterator();
}

bool ItemSet::contains(Item* item) const
{
    if (m_large)
        return m_large->contains(item);
    return std::binary_search(m_flat.begin(), m_flat.end(), item);
}

ItemSet::const_iterator ItemSet::find(Item* item) const
{
    if (m_large) {
        const ItemBlockList::Position position = m_large->Locate(item);
        return position.found ? At(position.block, position.index) : end();
    }
    auto it = std::lower_bound(m_flat.begin(), m_flat.end(), item);
    if (it == m_flat.end() || *it != item)
        return end();
    return At(0, static_cast<std::size_t>(it - m_flat.begin()));
}

bool ItemSet::insert(Item* item)
{
    if (m_large)
        return m_large->insert(item);
    auto it = std::lower_bound(m_flat.begin(), m_flat.end(), item);
    if (it != m_flat.end() && *it == item)
        return false;
    if (m_flat.size() + 1 >= kPromoteAt) {
        m_flat.insert(it, item);
        m_large = std::make_unique<ItemBlockList>(m_flat);
        std::vector<Item*>().swap(m_flat);
        return true;
    }
    // Most sets hold one partner (a ONE end) or a handful; growing 1, 4,
    // 8, 16... spares the reallocations that dominate building a store.
    if (m_flat.size() == m_flat.capacity()) {
        const std::size_t offset = static_cast<std::size_t>(it - m_flat.begin());
        m_flat.reserve(m_flat.empty() ? 1 : m_flat.size() < 4 ? 4 : m_flat.size() * 2);
        it = m_flat.begin() + static_cast<std::ptrdiff_t>(offset);
    }
    m_flat.insert(it, item);
    return true;
}

bool ItemSet::erase(Item* item)
{
    if (m_large) {
        if (!m_large->erase(item))
            return false;
        if (m_large->size() < kDemoteBelow) {
            m_flat = m_large->ToVector();
            m_large.reset();
        }
        return true;
    }
    auto it = std::lower_bound(m_flat.begin(), m_flat.end(), item);
    if (it == m_flat.end() || *it != item)
        return false;
    m_flat.erase(it);
    if (m_flat.empty())
        std::vector<Item*>().swap(m_flat);
    return true;
}

void ItemSet::clear()
{
    std::vector<Item*>().swap(m_flat);
    m_large.reset();
}

Item* ItemSet::first() const
{
    if (m_large)
        return m_large->first();
    return m_flat.empty() ? nullptr : m_flat.front();
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
    if (!m_large && m_flat.size() + other.size() < kPromoteAt) {
        std::vector<Item*> merged;
        merged.reserve(m_flat.size() + other.size());
        std::set_union(m_flat.begin(), m_flat.end(), other.begin(), other.end(),
                       std::back_inserter(merged));
        m_flat.swap(merged);
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
