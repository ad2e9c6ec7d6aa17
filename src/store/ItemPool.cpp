#include "ItemPool.h"

#include <new>

ItemPool::~ItemPool()
{
    for (std::byte* slab : m_slabs)
        ::operator delete(slab, std::align_val_t(SlotBytes));
}

void* ItemPool::Allocate()
{
    if (m_free) {
        FreeSlot* slot = m_free;
        m_free = slot->next;
        return slot;
    }
    if (m_next == m_end) {
        m_slabs.reserve(m_slabs.size() + 1);
        auto* slab =
            static_cast<std::byte*>(::operator new(SlabBytes, std::align_val_t(SlotBytes)));
        m_slabs.push_back(slab);
        m_next = slab;
        m_end = slab + SlabBytes;
    }
    void* slot = m_next;
    m_next += SlotBytes;
    return slot;
}

void ItemPool::Free(void* slot)
{
    m_free = new (slot) FreeSlot{m_free};
}
