#include "ItemIndex.h"

#include <functional>

#include "Item.h"

std::size_t ItemIndex::Hash(std::string_view value)
{
    return std::hash<std::string_view>()(value);
}

std::string_view ItemIndex::ValueOf(const Item* item)
{
    return item->AsString();
}

Item* ItemIndex::Find(std::string_view value) const
{
    if (m_size == 0)
        return nullptr;
    const std::size_t hash = Hash(value);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = m_slots[at];
        if (!slot.item)
            return nullptr;
        if (slot.hash == hash && ValueOf(slot.item) == value)
            return slot.item;
    }
}

void ItemIndex::Insert(Item* item)
{
    if ((m_size + 1) * 4 > m_slots.size() * 3)
        Grow();
    Place(Hash(ValueOf(item)), item);
    ++m_size;
}

void ItemIndex::Place(std::size_t hash, Item* item)
{
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = hash & mask;
    while (m_slots[at].item)
        at = (at + 1) & mask;
    m_slots[at] = Slot{hash, item};
}

void ItemIndex::Grow()
{
    std::vector<Slot> old(m_slots.empty() ? 16 : m_slots.size() * 2);
    old.swap(m_slots);
    for (const Slot& slot : old)
        if (slot.item)
            Place(slot.hash, slot.item);
}

void ItemIndex::Erase(Item* item)
{
    if (m_size == 0)
        return;
    const std::size_t mask = m_slots.size() - 1;
    std::size_t hole = Hash(ValueOf(item)) & mask;
    while (m_slots[hole].item != item) {
        if (!m_slots[hole].item)
            return;
        hole = (hole + 1) & mask;
    }
    // Without tombstones: later slots of the same run move back into the
    // hole unless that would put them before their home slot, so every
    // probe still meets its item before an empty slot.
    for (std::size_t next = (hole + 1) & mask; m_slots[next].item; next = (next + 1) & mask) {
        const std::size_t home = m_slots[next].hash & mask;
        const bool homeAfterHole = ((next - home) & mask) < ((next - hole) & mask);
        if (homeAfterHole)
            continue;
        m_slots[hole] = m_slots[next];
        hole = next;
    }
    m_slots[hole] = Slot();
    --m_size;
}
