#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PartnerList.h"

class Data;
class Item;
class Type;

// Two connected records of a snapshot, as positions in its record list.
struct SnapshotPair
{
    std::uint32_t first;
    std::uint32_t second;
    bool operator<(const SnapshotPair& o) const
    {
        return first != o.first ? first < o.first : second < o.second;
    }
    bool operator==(const SnapshotPair& o) const { return first == o.first && second == o.second; }
};

// Connects the items of a snapshot that was just read.
//
// Connecting pair after pair costs a search and a sorted insert on both
// items for every pair, each one a cache miss in a store of millions of
// items. Here every pair is known in advance: the partners of each item are
// gathered into one array, sorted once, and become the item's partner sets
// at their final size. That is only done where nobody could tell the
// difference: for types no connection handler watches, and where no
// partner an item had before the load must give way. Every other pair is
// connected the ordinary way, with its events, afterwards and in file order. A file that breaks a
// relation's one-partner rule is connected the ordinary way throughout, so
// that the last of the competing partners wins as it always has.
class SnapshotLinker
{
public:
    explicit SnapshotLinker(Data& data) : m_data(data) {}

    // `items[n]` is the item made for record n (records of equal value may
    // share one); `pairs` are sorted, free of repeats, and consumed.
    void Link(const std::vector<Item*>& items, std::vector<SnapshotPair>&& pairs);

private:
    // What a pair of types allows, worked out once per pair of slots.
    struct Rule
    {
        bool known = false;
        bool quiet = false;  // nothing hears a connection between them
        bool single = false; // an item of the first type holds one partner of the second
    };

    bool Prepare(const std::vector<Item*>& items);
    const Rule& RuleFor(std::uint32_t a, std::uint32_t b);
    bool IsQuiet(const SnapshotPair& pair);
    bool Displaces(std::uint32_t record, std::uint32_t own, std::uint32_t other);
    void Count(const std::vector<SnapshotPair>& pairs, std::vector<bool>& quiet,
               std::vector<SnapshotPair>& loud);
    void Fill(const std::vector<SnapshotPair>& pairs, const std::vector<bool>& quiet);
    bool SortPartners();
    void Attach(Item* item, std::size_t record);
    void Reset(const std::vector<Item*>& items);

    static std::uint32_t SlotOf(std::uint64_t key) { return std::uint32_t(key >> kSlotShift); }
    static Item* ItemOf(std::uint64_t key);

    static constexpr int kSlotShift = 48;

    Data& m_data;
    std::vector<Type*> m_slotTypes;         // every type, by number
    std::vector<Rule> m_rules;              // slot pairs
    std::vector<std::uint32_t> m_canonical; // record -> first record of the same item
    // Per first record: the partner's sort key, the type slot above the
    // item's address, and whether the item had partners before linking.
    std::vector<std::uint64_t> m_keys;
    std::vector<bool> m_linked;
    const std::vector<Item*>* m_items = nullptr;
    std::vector<std::size_t> m_offsets;  // partner array range of each record
    std::vector<std::uint32_t> m_counts; // partners of each record after dropping repeats
    std::vector<std::uint64_t> m_partners;
    std::vector<Item*> m_members;               // one partner set being built
    std::vector<PartnerList::TypeId> m_slotIds; // the partner types of one item
};
