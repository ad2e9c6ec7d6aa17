#include "ItemPool.h"

#include <algorithm>
#include <new>

// Freed and not yet handed out slots are poisoned in sanitizer builds, so a
// use of a removed item is still reported although the pool, not the
// general allocator, owns its memory. Without the sanitizer these are no-ops.
#include <sanitizer/asan_interface.h>

ItemPool::~ItemPool()
{
    for (std::byte* slab : m_slabs) {
        ASAN_UNPOISON_MEMORY_REGION(slab, SlabBytes);
        ::operator delete(slab, std::align_val_t(SlotBytes));
    }
}

void* ItemPool::Allocate()
{
    if (m_free) {
        FreeSlot* slot = m_free;
        ASAN_UNPOISON_MEMORY_REGION(slot, SlotBytes);
        m_free = slot->next;
        return slot;
    }
    if (m_next == m_end) {
        // Room in the list first, so that a failed growth leaks no slab;
        // doubled, so that a million items' slabs are not copied each time.
        if (m_slabs.size() == m_slabs.capacity())
            m_slabs.reserve(std::max<std::size_t>(64, 2 * m_slabs.capacity()));
        auto* slab =
            static_cast<std::byte*>(::operator new(SlabBytes, std::align_val_t(SlotBytes)));
        ASAN_POISON_MEMORY_REGION(slab, SlabBytes);
        m_slabs.push_back(slab);
        m_next = slab;
        m_end = slab + SlabBytes;
    }
    void* slot = m_next;
    m_next += SlotBytes;
    ASAN_UNPOISON_MEMORY_REGION(slot, SlotBytes);
    return slot;
}

void ItemPool::Free(void* slot)
{
    m_free = new (slot) FreeSlot{m_free};
    ASAN_POISON_MEMORY_REGION(slot, SlotBytes);
}
