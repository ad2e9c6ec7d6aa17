#include "PartnerList.h"

#include <algorithm>
#include <new>
#include <utility>

std::byte* PartnerList::Allocate(std::size_t count)
{
    auto* block =
        static_cast<std::byte*>(::operator new(HeaderBytes(count) + count * sizeof(ItemSet)));
    *reinterpret_cast<TypeId*>(block) = static_cast<TypeId>(count);
    return block;
}

std::size_t PartnerList::LowerBound(TypeId id) const
{
    // A handful of entries: a straight walk beats a binary search.
    const std::size_t count = size();
    const TypeId* ids = m_block ? Ids() : nullptr;
    std::size_t at = 0;
    while (at < count && ids[at] < id)
        ++at;
    return at;
}

ItemSet* PartnerList::Find(TypeId id) const
{
    const std::size_t at = LowerBound(id);
    return at < size() && Ids()[at] == id ? &Sets()[at] : nullptr;
}

ItemSet& PartnerList::Add(TypeId id)
{
    const std::size_t at = LowerBound(id);
    if (at < size() && Ids()[at] == id)
        return Sets()[at];
    Reshape(size() + 1, at);
    Ids()[at] = id;
    return *new (&Sets()[at]) ItemSet();
}

void PartnerList::Remove(TypeId id)
{
    const std::size_t at = LowerBound(id);
    if (at < size() && Ids()[at] == id)
        Reshape(size() - 1, at);
}

void PartnerList::Assign(const TypeId* ids, std::size_t count)
{
    Clear();
    if (count == 0)
        return;
    m_block = Allocate(count);
    std::copy(ids, ids + count, Ids());
    ItemSet* sets = Sets();
    for (std::size_t n = 0; n < count; ++n)
        new (&sets[n]) ItemSet();
}

void PartnerList::Clear()
{
    if (!m_block)
        return;
    std::destroy_n(Sets(), Count());
    ::operator delete(m_block);
    m_block = nullptr;
}

void PartnerList::Reshape(std::size_t count, std::size_t gap)
{
    const std::size_t old = size();
    std::byte* block = count ? Allocate(count) : nullptr;
    if (block) {
        auto* ids = reinterpret_cast<TypeId*>(block) + 1;
        auto* sets = reinterpret_cast<ItemSet*>(block + HeaderBytes(count));
        // Growing leaves slot `gap` for the caller; shrinking drops it.
        const std::size_t skipNew = count > old ? 1 : 0;
        const std::size_t skipOld = count > old ? 0 : 1;
        for (std::size_t n = 0; n < gap; ++n) {
            ids[n] = Ids()[n];
            new (&sets[n]) ItemSet(std::move(Sets()[n]));
        }
        for (std::size_t n = gap + skipOld; n < old; ++n) {
            ids[n - skipOld + skipNew] = Ids()[n];
            new (&sets[n - skipOld + skipNew]) ItemSet(std::move(Sets()[n]));
        }
    }
    Clear();
    m_block = block;
}
