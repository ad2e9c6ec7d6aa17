#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ItemSet.h"

class Type;

// The partner sets of one item, one per type it has partners of, in the
// order the types were declared.
//
// Every item carries one, and a large share has millions of items with one
// to four partner types each. A vector would cost its three words inside
// the item plus a block that doubles as it grows; here the list is a single
// pointer to one block of exactly the needed size: a count and the types'
// numbers in front, the sets behind. An item without partners holds a null
// pointer. Items gain a partner type rarely and lose one rarely, so moving
// to a block one entry larger or smaller each time costs little.
class PartnerList
{
public:
    using TypeId = std::uint16_t;
    static constexpr std::size_t MaxTypes = 0xffff;

    // One entry as callers see it: the type and its partners.
    struct Entry
    {
        Type* first;
        const ItemSet& second;
    };

    class const_iterator
    {
    public:
        Entry operator*() const
        {
            return Entry{(*m_types)[m_list->IdAt(m_at)], m_list->SetAt(m_at)};
        }
        const_iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return m_at == o.m_at; }
        bool operator!=(const const_iterator& o) const { return m_at != o.m_at; }

    private:
        friend class PartnerList;
        const_iterator(const PartnerList* list, const std::vector<Type*>* types, std::size_t at)
            : m_list(list), m_types(types), m_at(at)
        {}
        const PartnerList* m_list;
        const std::vector<Type*>* m_types; // the store's types, by number
        std::size_t m_at;
    };

    // The entries with their types looked up in the store's type table.
    class Range
    {
    public:
        Range(const PartnerList& list, const std::vector<Type*>& types)
            : m_list(list), m_types(types)
        {}
        const_iterator begin() const { return const_iterator(&m_list, &m_types, 0); }
        const_iterator end() const { return const_iterator(&m_list, &m_types, m_list.size()); }
        bool empty() const { return m_list.empty(); }
        std::size_t size() const { return m_list.size(); }

    private:
        const PartnerList& m_list;
        const std::vector<Type*>& m_types;
    };

    PartnerList() = default;
    PartnerList(const PartnerList&) = delete;
    PartnerList& operator=(const PartnerList&) = delete;
    ~PartnerList() { Clear(); }

    bool empty() const { return m_block == nullptr; }
    std::size_t size() const { return m_block ? Count() : 0; }
    TypeId IdAt(std::size_t n) const { return Ids()[n]; }
    ItemSet& SetAt(std::size_t n) const { return Sets()[n]; }

    // Asks for the block's first line, which holds the types' numbers and,
    // for an item of few partner types, the sets as well.
    void Prefetch() const { __builtin_prefetch(m_block); }

    // The partners of a type, or null when there are none.
    ItemSet* Find(TypeId id) const;
    // The partners of a type, an empty set made for it if there was none.
    ItemSet& Add(TypeId id);
    // Drops the entry of a type together with its set.
    void Remove(TypeId id);
    // On an empty list: one empty set for each of these ascending numbers.
    void Assign(const TypeId* ids, std::size_t count);
    void Clear();

private:
    // The block: the count, the numbers, padding to a whole word, the sets.
    static std::size_t HeaderBytes(std::size_t count)
    {
        return (sizeof(TypeId) * (count + 1) + alignof(ItemSet) - 1) & ~(alignof(ItemSet) - 1);
    }
    static std::byte* Allocate(std::size_t count);
    std::size_t Count() const { return *reinterpret_cast<const TypeId*>(m_block); }
    TypeId* Ids() const { return reinterpret_cast<TypeId*>(m_block) + 1; }
    ItemSet* Sets() const { return reinterpret_cast<ItemSet*>(m_block + HeaderBytes(Count())); }
    // Position of the first entry whose number is not below `id`.
    std::size_t LowerBound(TypeId id) const;
    // Moves the entries into a block of `count` entries, leaving a gap at
    // `gap` when growing or skipping the entry at `gap` when shrinking.
    void Reshape(std::size_t count, std::size_t gap);

    std::byte* m_block = nullptr;
};
