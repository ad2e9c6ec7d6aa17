#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class Item;

// The items of a valued type, found by their value.
//
// A type such as a share's file names or search words holds hundreds of
// thousands of items and is asked for one on nearly every change to the
// index. The table keeps no copy of the values: each slot is one word, the
// item's address with the top bits of its value's hash above it, and a
// value is compared only when those bits agree. Slots sit in one array
// probed in a line, so a look-up usually costs one cache miss for the slot
// and one for the item it finds. Growing and erasing, which need a slot's
// home, hash the item's value again.
class ItemIndex
{
public:
    ItemIndex() = default;
    ItemIndex(const ItemIndex&) = delete;
    ItemIndex& operator=(const ItemIndex&) = delete;

    std::size_t size() const { return m_size; }
    Item* Find(std::string_view value) const;
    // Find for each of `count` values into `found`. The values' slots and
    // items are asked for all together first, so that their cache misses
    // overlap instead of coming one after another.
    void FindAll(const std::string_view* values, std::size_t count, Item** found) const;
    // The item must not share its value with one already in the index.
    void Insert(Item* item);
    // Takes out this very item; another with the same value stays.
    void Erase(Item* item);

    template <class F> void ForEach(F&& f) const
    {
        for (Slot slot : m_slots)
            if (slot)
                f(ItemOf(slot));
    }

private:
    // Addresses of this platform's user space fit below bit 48.
    using Slot = std::uint64_t;
    static constexpr int kTagShift = 48;
    static constexpr Slot kAddressMask = (Slot(1) << kTagShift) - 1;

    static std::size_t Hash(std::string_view value);
    static std::size_t HashOf(const Item* item);
    static std::string_view ValueOf(const Item* item);
    static Item* ItemOf(Slot slot);
    static Slot SlotFor(std::size_t hash, Item* item);
    static Slot TagOf(std::size_t hash) { return Slot(hash) >> kTagShift; }
    Item* Find(std::string_view value, std::size_t hash) const;
    void Place(std::size_t hash, Item* item);
    void Grow();

    std::vector<Slot> m_slots; // a power of two in size, at most three quarters full
    std::size_t m_size = 0;
};
