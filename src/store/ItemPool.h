#pragma once

#include <cstddef>
#include <vector>

// The room the store's items live in.
//
// Items are the store's commonest object by far, a couple of million in a
// large share, and every one is reached through sets ordered by address.
// From the general allocator a new item often lands in a hole some freed
// block left behind, below the items made just before it; then each of a
// new shared file's word sets takes it somewhere in the middle rather than
// at the end, which costs a search and a move in every one of them. Here
// items come out of large slabs in rising address order until one is
// freed, one cache line each, so that reading an item's value and its
// partners costs one miss rather than two. Freed room is reused first.
class ItemPool
{
public:
    static constexpr std::size_t SlotBytes = 64;

    ItemPool() = default;
    ItemPool(const ItemPool&) = delete;
    ItemPool& operator=(const ItemPool&) = delete;
    // Every item must have been destroyed by then.
    ~ItemPool();

    void* Allocate();
    void Free(void* slot);

private:
    // Below the size the general allocator hands out as separate mappings,
    // which it places at falling addresses.
    static constexpr std::size_t SlabBytes = 64 * 1024;

    struct FreeSlot
    {
        FreeSlot* next;
    };

    std::vector<std::byte*> m_slabs;
    std::byte* m_next = nullptr;
    std::byte* m_end = nullptr;
    FreeSlot* m_free = nullptr;
};
