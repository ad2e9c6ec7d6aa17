#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ItemBlockList.h"

class Item;
class ItemPtr;

// An ordered set of items, ordered by address.
//
// Almost every item has a handful of partners of a type, but a few (the
// shared "is_online" flag, a token such as "mp3" in a large share) have
// hundreds of thousands. Most sets of a large share hold exactly one member
// (a file's folder, name and size, and the file of each name), and there are
// millions of them: a set takes sixteen bytes and keeps a lone member in
// place, with no allocation. A few members live in a sorted heap array; a
// set that grows past a threshold moves into a row of sorted blocks so that
// inserting and erasing stay cheap anywhere. Iteration order is the same
// address order in every form. A lone member held in place moves with the
// set, so iterators do not survive moving the set itself.
class ItemSet
{
public:
    // Walks a run of pointers at a time: the whole vector of a small set,
    // one block after another of a large one. The end is a null position.
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Item*;
        using difference_type = std::ptrdiff_t;
        using pointer = Item* const*;
        using reference = Item* const&;

        const_iterator() = default;
        Item* const& operator*() const { return *m_at; }
        const_iterator& operator++()
        {
            if (++m_at == m_runEnd)
                NextRun();
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator copy = *this;
            ++*this;
            return copy;
        }
        bool operator==(const const_iterator& o) const { return m_at == o.m_at; }
        bool operator!=(const const_iterator& o) const { return !(*this == o); }

    private:
        friend class ItemSet;
        using Block = ItemBlockList::Block;
        const_iterator(Item* const* at, Item* const* runEnd, Block* const* block,
                       Block* const* blocksEnd)
            : m_at(at), m_runEnd(runEnd), m_block(block), m_blocksEnd(blocksEnd)
        {}
        void NextRun()
        {
            if (m_block != m_blocksEnd && ++m_block != m_blocksEnd) {
                m_at = (*m_block)->items;
                m_runEnd = m_at + (*m_block)->count;
                // A walk reads the block after this one too; asked for now,
                // its lines arrive well before they are needed.
                if (m_block + 1 != m_blocksEnd)
                    (*(m_block + 1))->Prefetch();
            } else {
                m_at = nullptr;
            }
        }
        Item* const* m_at = nullptr;
        Item* const* m_runEnd = nullptr;
        Block* const* m_block = nullptr; // null for a small set
        Block* const* m_blocksEnd = nullptr;
    };
    using iterator = const_iterator;
    using value_type = Item*;

    // Answers membership for items asked about in rising address order,
    // going on from where the last answer stopped rather than searching
    // the whole set again: intersecting a large set with a small one then
    // costs a short step for each item of the small one, and the blocks
    // between two items are passed over by their highest members alone,
    // without reading them. The set must not change meanwhile.
    class Seeker
    {
    public:
        explicit Seeker(const ItemSet& set);
        bool Contains(Item* item);

    private:
        using Block = ItemBlockList::Block;
        void EnterBlock();

        Block* const* m_blocks = nullptr; // null for a small set
        Item* const* m_lasts = nullptr;
        std::size_t m_blockCount = 0;
        std::size_t m_block = 0;
        Item* const* m_run = nullptr; // the run being searched
        std::size_t m_runSize = 0;
        std::size_t m_at = 0; // members of the run before this are below the last item asked
    };

    ItemSet() = default;
    ItemSet(std::initializer_list<Item*> items);
    // Takes a vector that is already sorted by address and free of repeats.
    static ItemSet FromSorted(std::vector<Item*>&& sorted);
    static ItemSet FromSorted(Item* const* sorted, std::size_t count);
    ItemSet(const ItemSet& other);
    ItemSet(ItemSet&& other) noexcept;
    ItemSet& operator=(const ItemSet& other);
    ItemSet& operator=(ItemSet&& other) noexcept;
    ~ItemSet() { Release(); }

    // Container basics.
    const_iterator begin() const;
    // Inline: walks compare with it at every step.
    const_iterator end() const { return const_iterator(); }
    std::size_t size() const { return IsLarge() ? m_large->size() : m_size; }
    bool empty() const { return size() == 0; }
    bool contains(Item* item) const;
    std::size_t count(Item* item) const { return contains(item) ? 1 : 0; }
    const_iterator find(Item* item) const;
    bool insert(Item* item); // true when it was not there yet
    bool erase(Item* item);  // true when it was there
    void clear();
    Item* first() const; // lowest address, or null
    bool operator==(const ItemSet& other) const;
    bool operator!=(const ItemSet& other) const { return !(*this == other); }

    // Asks for the lines an insert at the end will read.
    void Prefetch() const
    {
        if (IsLarge())
            m_large->Prefetch();
    }

    // Set algebra.
    void Add(const ItemSet& other);
    ItemSet operator+(const ItemSet& other) const;
    ItemSet Common(const ItemSet& other) const;
    void Remove(); // removes every member from the store

    // Filtering by connections.
    ItemSet Connected(const ItemSet& other) const;
    ItemSet NotConnected(const ItemSet& other) const;
    ItemSet Connected(const ItemPtr& item) const;
    ItemSet NotConnected(const ItemPtr& item) const;
    ItemSet Connected(const char* typeName) const;
    ItemSet NotConnected(const char* typeName) const;
    ItemSet Connected(const char* typeName, const std::string& value) const;
    ItemSet NotConnected(const char* typeName, const std::string& value) const;

    // Navigation.
    ItemSet GetItems(const char* typeName) const;
    void Disconnect(const char* typeName);

    // Sorting; true gives ascending order, false the exact reverse.
    std::list<Item*> SortAlphabetic(bool ascending) const;
    std::list<Item*> SortNumeric(bool ascending) const;
    std::list<Item*> SortAlphabeticBy(const char* typeName, bool ascending) const;
    std::list<Item*> SortNumericBy(const char* typeName, bool ascending) const;

private:
    static constexpr std::size_t kPromoteAt = 256;
    static constexpr std::size_t kDemoteBelow = 64;

    ItemSet FilterConnected(const ItemSet& other, bool keepConnected) const;

    static constexpr std::uint32_t kLargeForm = 0xffffffffu;

    const_iterator At(std::size_t block, std::size_t index) const;
    bool IsLarge() const { return m_capacity == kLargeForm; }
    // The members of a small set, sorted.
    Item* const* Run() const { return m_capacity == 0 ? &m_one : m_run; }
    Item** Run() { return m_capacity == 0 ? &m_one : m_run; }
    // On an emptied set: takes these sorted members as the small form.
    void AssignFlat(Item* const* items, std::size_t count);
    void InsertFlat(std::size_t at, Item* item);
    void Promote(std::size_t at, Item* item);
    // Frees what the set holds and leaves it empty.
    void Release();

    union {
        Item* m_one = nullptr;  // the lone member, while m_capacity is 0
        Item** m_run;           // m_capacity slots, the first m_size used
        ItemBlockList* m_large; // every member, once m_capacity is kLargeForm
    };
    std::uint32_t m_size = 0; // of the small forms
    std::uint32_t m_capacity = 0;
};
