#include "ItemBlockList.h"

#include <algorithm>
#include <cstring>

namespace {

// Blocks are plain arrays of pointers: moving members is a memmove.
void MoveMembers(Item** to, Item* const* from, std::size_t count)
{
    if (count)
        std::memmove(to, from, count * sizeof(Item*));
}

} // namespace

ItemBlockList::ItemBlockList(const std::vector<Item*>& sorted)
{
    for (std::size_t at = 0; at < sorted.size(); at += BlockCapacity) {
        auto* block = new Block;
        block->count = static_cast<std::uint32_t>(std::min(BlockCapacity, sorted.size() - at));
        MoveMembers(block->items, sorted.data() + at, block->count);
        InsertBlock(m_blocks.size(), block);
        RefreshLast(m_blocks.size() - 1);
    }
    m_size = sorted.size();
    SyncTail();
}

ItemBlockList::ItemBlockList(const ItemBlockList& other)
    : m_size(other.m_size), m_lasts(other.m_lasts)
{
    m_blocks.reserve(other.m_blocks.size());
    for (const Block* block : other.m_blocks)
        m_blocks.push_back(new Block(*block));
    SyncTail();
}

ItemBlockList::~ItemBlockList()
{
    for (Block* block : m_blocks)
        delete block;
}

std::size_t ItemBlockList::BlockFor(Item* item) const
{
    auto it = std::lower_bound(m_lasts.begin(), m_lasts.end(), item);
    if (it == m_lasts.end())
        return m_lasts.size() - 1;
    return static_cast<std::size_t>(it - m_lasts.begin());
}

ItemBlockList::Position ItemBlockList::Locate(Item* item) const
{
    Position position;
    if (m_size == 0)
        return position;
    position.block = BlockFor(item);
    const Block* block = m_blocks[position.block];
    Item* const* at = std::lower_bound(block->items, block->items + block->count, item);
    position.index = static_cast<std::size_t>(at - block->items);
    position.found = position.index < block->count && *at == item;
    return position;
}

bool ItemBlockList::contains(Item* item) const
{
    return Locate(item).found;
}

bool ItemBlockList::insert(Item* item)
{
    if (m_size != 0 && item > m_tailLast) {
        // Growing at the end: a full last block is followed by a new one
        // rather than split, so that appends leave full blocks behind.
        if (m_tailCount == BlockCapacity) {
            InsertBlock(m_blocks.size(), new Block);
            m_tail = m_blocks.back();
            m_tailCount = 0;
        }
        m_tail->items[m_tailCount] = item;
        m_tail->count = ++m_tailCount;
        m_lasts.back() = item;
        m_tailLast = item;
        ++m_size;
        return true;
    }
    const bool inserted = InsertInside(item);
    SyncTail();
    return inserted;
}

bool ItemBlockList::InsertInside(Item* item)
{
    if (m_size == 0)
        InsertBlock(0, new Block);
    Position position = Locate(item);
    if (position.found)
        return false;
    if (m_blocks[position.block]->count == BlockCapacity) {
        if (Spill(position, item)) {
            ++m_size;
            return true;
        }
        SplitBlock(position.block);
        if (position.index > BlockCapacity / 2) {
            ++position.block;
            position.index -= BlockCapacity / 2;
        }
    }
    Block* block = m_blocks[position.block];
    MoveMembers(block->items + position.index + 1, block->items + position.index,
                block->count - position.index);
    block->items[position.index] = item;
    ++block->count;
    RefreshLast(position.block);
    ++m_size;
    return true;
}

void ItemBlockList::SyncTail()
{
    if (m_blocks.empty()) {
        m_tail = nullptr;
        m_tailLast = nullptr;
        m_tailCount = 0;
        return;
    }
    m_tail = m_blocks.back();
    m_tailCount = m_tail->count;
    m_tailLast = m_lasts.back();
}

bool ItemBlockList::erase(Item* item)
{
    Position position = Locate(item);
    if (!position.found)
        return false;
    Block* block = m_blocks[position.block];
    --block->count;
    MoveMembers(block->items + position.index, block->items + position.index + 1,
                block->count - position.index);
    --m_size;
    if (block->count == 0)
        EraseBlock(position.block);
    else {
        RefreshLast(position.block);
        MergeIfSparse(position.block);
    }
    SyncTail();
    return true;
}

std::vector<Item*> ItemBlockList::ToVector() const
{
    std::vector<Item*> out;
    out.reserve(m_size);
    for (const Block* block : m_blocks)
        out.insert(out.end(), block->items, block->items + block->count);
    return out;
}

void ItemBlockList::InsertBlock(std::size_t at, Block* block)
{
    const auto offset = static_cast<std::ptrdiff_t>(at);
    m_blocks.insert(m_blocks.begin() + offset, block);
    m_lasts.insert(m_lasts.begin() + offset, nullptr);
}

void ItemBlockList::EraseBlock(std::size_t at)
{
    const auto offset = static_cast<std::ptrdiff_t>(at);
    delete m_blocks[at];
    m_blocks.erase(m_blocks.begin() + offset);
    m_lasts.erase(m_lasts.begin() + offset);
}

bool ItemBlockList::Spill(Position& position, Item* item)
{
    // Items arrive in nearly ascending address order, so a split leaves a
    // half-empty block behind that appends never refill; a large set would
    // settle at little over half its blocks' room. A neighbour with room
    // takes one member instead, and the block keeps its place.
    const std::size_t at = position.block;
    Block* full = m_blocks[at];
    if (at + 1 < m_blocks.size() && m_blocks[at + 1]->count < BlockCapacity) {
        Block* next = m_blocks[at + 1];
        MoveMembers(next->items + 1, next->items, next->count);
        next->items[0] = full->items[BlockCapacity - 1];
        ++next->count;
        --full->count;
    } else if (at > 0 && m_blocks[at - 1]->count < BlockCapacity) {
        Block* previous = m_blocks[at - 1];
        if (position.index == 0) {
            // Between the two blocks: it simply ends the previous one.
            previous->items[previous->count++] = item;
            RefreshLast(at - 1);
            return true;
        }
        previous->items[previous->count++] = full->items[0];
        RefreshLast(at - 1);
        MoveMembers(full->items, full->items + 1, --full->count);
        --position.index;
    } else {
        return false;
    }
    MoveMembers(full->items + position.index + 1, full->items + position.index,
                full->count - position.index);
    full->items[position.index] = item;
    ++full->count;
    RefreshLast(at);
    return true;
}

void ItemBlockList::SplitBlock(std::size_t at)
{
    Block* full = m_blocks[at];
    auto* upper = new Block;
    upper->count = full->count - BlockCapacity / 2;
    MoveMembers(upper->items, full->items + BlockCapacity / 2, upper->count);
    full->count = BlockCapacity / 2;
    InsertBlock(at + 1, upper);
    RefreshLast(at);
    RefreshLast(at + 1);
}

void ItemBlockList::MergeIfSparse(std::size_t at)
{
    // Erasing must not leave a long row of nearly empty blocks behind; a
    // block down to a quarter joins its neighbour when both fit in three
    // quarters of one, which leaves room to grow before the next split.
    if (m_blocks[at]->count > BlockCapacity / 4)
        return;
    auto fits = [this](std::size_t lower) {
        return m_blocks[lower]->count + m_blocks[lower + 1]->count <= BlockCapacity * 3 / 4;
    };
    std::size_t lower;
    if (at + 1 < m_blocks.size() && fits(at))
        lower = at;
    else if (at > 0 && fits(at - 1))
        lower = at - 1;
    else
        return;
    Block* into = m_blocks[lower];
    const Block* from = m_blocks[lower + 1];
    MoveMembers(into->items + into->count, from->items, from->count);
    into->count += from->count;
    RefreshLast(lower);
    EraseBlock(lower + 1);
}
