#include "ItemIndex.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "Item.h"

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t) &&
                  sizeof(Item*) == sizeof(std::uint64_t),
              "slots pack an address and hash bits into one 64-bit word");

std::size_t ItemIndex::Hash(std::string_view value)
{
    return std::hash<std::string_view>()(value);
}

std::string_view ItemIndex::ValueOf(const Item* item)
{
    return item->AsString();
}

std::size_t ItemIndex::HashOf(const Item* item)
{
    return Hash(ValueOf(item));
}

Item* ItemIndex::ItemOf(Slot slot)
{
    return reinterpret_cast<Item*>(static_cast<std::uintptr_t>(slot & kAddressMask));
}

ItemIndex::Slot ItemIndex::SlotFor(std::size_t hash, Item* item)
{
    const auto address = static_cast<Slot>(reinterpret_cast<std::uintptr_t>(item));
    if (address & ~kAddressMask)
        throw std::runtime_error("item address beyond 48 bits");
    return TagOf(hash) << kTagShift | address;
}

Item* ItemIndex::Find(std::string_view value) const
{
    return m_size == 0 ? nullptr : Find(value, Hash(value));
}

void ItemIndex::FindAll(const std::string_view* values, std::size_t count, Item** found) const
{
    constexpr std::size_t group = 32;
    std::size_t hashes[group];
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t start = 0; start < count; start += group) {
        const std::size_t size = std::min(group, count - start);
        if (m_size == 0) {
            std::fill(found + start, found + start + size, nullptr);
            continue;
        }
        for (std::size_t n = 0; n < size; ++n) {
            hashes[n] = Hash(values[start + n]);
            __builtin_prefetch(&m_slots[hashes[n] & mask]);
        }
        // The first item whose tag agrees is nearly always the one sought.
        for (std::size_t n = 0; n < size; ++n) {
            const Slot tag = TagOf(hashes[n]);
            for (std::size_t at = hashes[n] & mask; m_slots[at]; at = (at + 1) & mask)
                if (m_slots[at] >> kTagShift == tag) {
                    __builtin_prefetch(ItemOf(m_slots[at]));
                    break;
                }
        }
        for (std::size_t n = 0; n < size; ++n)
            found[start + n] = Find(values[start + n], hashes[n]);
    }
}

Item* ItemIndex::Find(std::string_view value, std::size_t hash) const
{
    const Slot tag = TagOf(hash);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot slot = m_slots[at];
        if (!slot)
            return nullptr;
        if (slot >> kTagShift == tag && ValueOf(ItemOf(slot)) == value)
            return ItemOf(slot);
    }
}

void ItemIndex::Insert(Item* item)
{
    if ((m_size + 1) * 4 > m_slots.size() * 3)
        Grow();
    Place(HashOf(item), item);
    ++m_size;
}

void ItemIndex::Place(std::size_t hash, Item* item)
{
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = hash & mask;
    while (m_slots[at])
        at = (at + 1) & mask;
    m_slots[at] = SlotFor(hash, item);
}

void ItemIndex::Grow()
{
    std::vector<Slot> old(m_slots.empty() ? 16 : m_slots.size() * 2);
    old.swap(m_slots);
    // Hashing an item again reads the item, then its value's text when
    // that does not fit inside the item: two cache misses in a row for
    // each of up to millions of items. Asked for well ahead, the items'
    // lines and then their texts arrive while earlier ones are placed.
    constexpr std::size_t itemsAhead = 16;
    constexpr std::size_t textsAhead = 8;
    const std::size_t count = old.size();
    for (std::size_t at = 0; at < count; ++at) {
        if (at + itemsAhead < count && old[at + itemsAhead])
            __builtin_prefetch(ItemOf(old[at + itemsAhead]));
        if (at + textsAhead < count && old[at + textsAhead])
            __builtin_prefetch(ValueOf(ItemOf(old[at + textsAhead])).data());
        if (old[at])
            Place(HashOf(ItemOf(old[at])), ItemOf(old[at]));
    }
}

void ItemIndex::Erase(Item* item)
{
    if (m_size == 0)
        return;
    const std::size_t mask = m_slots.size() - 1;
    std::size_t hole = HashOf(item) & mask;
    while (ItemOf(m_slots[hole]) != item) {
        if (!m_slots[hole])
            return;
        hole = (hole + 1) & mask;
    }
    // Without tombstones: later slots of the same run move back into the
    // hole unless that would put them before their home slot, so every
    // probe still meets its item before an empty slot.
    for (std::size_t next = (hole + 1) & mask; m_slots[next]; next = (next + 1) & mask) {
        const std::size_t home = HashOf(ItemOf(m_slots[next])) & mask;
        const bool homeAfterHole = ((next - home) & mask) < ((next - hole) & mask);
        if (homeAfterHole)
            continue;
        m_slots[hole] = m_slots[next];
        hole = next;
    }
    m_slots[hole] = 0;
    --m_size;
}
