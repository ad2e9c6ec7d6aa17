#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class Item;

// The members of a large item set, in address order, kept in a row of
// sorted blocks of up to BlockCapacity pointers each.
//
// A set with a hundred thousand members (a word every file of a share
// carries) takes one of them with every file indexed. A node-based tree
// pays an allocation and a chain of cache misses for each; here finding
// the block is a binary search over one small array of block ends, and
// the insertion itself a short move inside one block. Growing at the end,
// the usual case as items are created, fills blocks completely.
class ItemBlockList
{
public:
    static constexpr std::size_t BlockCapacity = 256;

    struct Block
    {
        std::uint32_t count = 0;
        Item* items[BlockCapacity];

        // Asks for every cache line of the members at once. A block of a
        // large store is rarely cached, and a search or walk that is about
        // to read it then waits for its lines together instead of one by one.
        void Prefetch() const
        {
            constexpr std::uint32_t perLine = 64 / sizeof(Item*);
            for (std::uint32_t line = 0; line < count; line += perLine)
                __builtin_prefetch(items + line);
        }
    };

    ItemBlockList() = default;
    // Takes members already sorted by address and free of repeats.
    explicit ItemBlockList(const std::vector<Item*>& sorted);
    ItemBlockList(const ItemBlockList& other);
    ItemBlockList& operator=(const ItemBlockList&) = delete;
    ~ItemBlockList();

    // Asks for what an append reads, for a caller about to append to many
    // sets at once.
    void Prefetch() const
    {
        __builtin_prefetch(this);
        __builtin_prefetch(reinterpret_cast<const char*>(this) + sizeof(*this) - 1);
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    Item* first() const { return m_size ? m_blocks.front()->items[0] : nullptr; }

    bool contains(Item* item) const;
    bool insert(Item* item); // true when it was not there yet
    bool erase(Item* item);  // true when it was there

    // Where an item sits: the block's slot in the row and the position in
    // the block; `found` is false when the item is not a member.
    struct Position
    {
        std::size_t block = 0;
        std::size_t index = 0;
        bool found = false;
    };
    Position Locate(Item* item) const;

    Block* const* Blocks() const { return m_blocks.data(); }
    std::size_t BlockCount() const { return m_blocks.size(); }
    // The highest member of each block, in block order.
    Item* const* Lasts() const { return m_lasts.data(); }
    std::vector<Item*> ToVector() const;

private:
    // The first block whose last member is not below `item`, or the last
    // block when every member is.
    std::size_t BlockFor(Item* item) const;
    void InsertBlock(std::size_t at, Block* block);
    void EraseBlock(std::size_t at);
    // Makes room in a full block by passing a member to a neighbour, then
    // inserts; false when neither neighbour has room.
    bool Spill(Position& position, Item* item);
    void SplitBlock(std::size_t at);
    void MergeIfSparse(std::size_t at);
    void RefreshLast(std::size_t at) { m_lasts[at] = m_blocks[at]->items[m_blocks[at]->count - 1]; }
    // Inserts anywhere but after the highest member.
    bool InsertInside(Item* item);
    // Takes the tail's copy again from the row after any change but an append.
    void SyncTail();

    // The last block, its count and its highest member, copied here: an
    // append, nearly every insert while a share is indexed, then reads
    // nothing but the first of this object's lines (see Prefetch), where
    // going through the row and the block cost two more cache misses on
    // each of a file's words.
    Block* m_tail = nullptr;
    Item* m_tailLast = nullptr;
    std::uint32_t m_tailCount = 0;
    std::size_t m_size = 0;
    std::vector<Item*> m_lasts; // the highest member of each block, for the search
    std::vector<Block*> m_blocks;
};
