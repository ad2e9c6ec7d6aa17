#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

class Item;

// The items of a valued type, found by their value.
//
// A type such as a share's file names or search words holds hundreds of
// thousands of items and is asked for one on nearly every change to the
// index. The table keeps no copy of the values: each slot holds the item
// and the hash of its value, and a value is compared only when the hashes
// agree. Slots sit in one array probed in a line, so a look-up usually costs
// one cache miss for the slot and one for the item it finds.
class ItemIndex
{
public:
    ItemIndex() = default;
    ItemIndex(const ItemIndex&) = delete;
    ItemIndex& operator=(const ItemIndex&) = delete;

    std::size_t size() const { return m_size; }
    Item* Find(std::string_view value) const;
    // The item must not share its value with one already in the index.
    void Insert(Item* item);
    // Takes out this very item; another with the same value stays.
    void Erase(Item* item);

    template <class F> void ForEach(F&& f) const
    {
        for (const Slot& slot : m_slots)
            if (slot.item)
                f(slot.item);
    }

private:
    struct Slot
    {
        std::size_t hash = 0;
        Item* item = nullptr;
    };

    static std::size_t Hash(std::string_view value);
    static std::string_view ValueOf(const Item* item);
    void Place(std::size_t hash, Item* item);
    void Grow();

    std::vector<Slot> m_slots; // a power of two in size, at most three quarters full
    std::size_t m_size = 0;
};
