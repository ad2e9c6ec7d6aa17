#include "SnapshotLinker.h"

#include <algorithm>

#include "Data.h"

namespace {

// Sort keys carry the partner's type slot above its address; user-space
// addresses of this platform fit below bit 48, and a store with more types
// than this many is linked pair by pair rather than given a huge table.
constexpr std::uint64_t kAddressMask = (std::uint64_t(1) << 48) - 1;
constexpr std::size_t kMaxSlots = 1024;

} // namespace

Item* SnapshotLinker::ItemOf(std::uint64_t key)
{
    return reinterpret_cast<Item*>(static_cast<std::uintptr_t>(key & kAddressMask));
}

void SnapshotLinker::Link(const std::vector<Item*>& items, std::vector<SnapshotPair>&& pairs)
{
    // Partner sets filled here in bulk bypass the counting connections.
    ++m_data.m_changeCount;
    const auto connectEach = [&](const std::vector<SnapshotPair>& list) {
        for (const SnapshotPair& pair : list)
            items[pair.first]->Connect(items[pair.second]);
    };
    if (!Prepare(items)) {
        connectEach(pairs);
        return;
    }
    // Whether a pair is quiet is asked once: the answer reads both records
    // and often their items, cache misses a second walk would pay again.
    std::vector<bool> quiet(pairs.size());
    std::vector<SnapshotPair> loud;
    Count(pairs, quiet, loud);
    Fill(pairs, quiet);
    if (!SortPartners()) {
        m_partners = std::vector<std::uint64_t>();
        connectEach(pairs);
        return;
    }
    pairs = std::vector<SnapshotPair>();
    for (std::size_t record = 0; record < items.size(); ++record)
        if (m_canonical[record] == record && m_counts[record] != 0)
            Attach(items[record], record);
    m_partners = std::vector<std::uint64_t>();
    connectEach(loud);
}

bool SnapshotLinker::Prepare(const std::vector<Item*>& items)
{
    // A type's slot is its number, so partners sorted by slot come out in
    // the order partner lists keep.
    m_slotTypes = m_data.GetTypes();
    const std::size_t slotCount = m_slotTypes.size();
    m_rules.assign(slotCount * slotCount, Rule());

    // Records of equal value may have been given one item; the item's first
    // record stands for it, found through the id field the saver borrows
    // the same way.
    bool usable = slotCount <= kMaxSlots;
    m_canonical.resize(items.size());
    m_keys.assign(items.size(), 0);
    m_linked.assign(items.size(), false);
    m_items = &items;
    for (std::size_t record = 0; record < items.size() && usable; ++record) {
        Item* item = items[record];
        if (item->m_saveId != 0) {
            m_canonical[record] = item->m_saveId - 1;
            continue;
        }
        item->m_saveId = static_cast<std::uint32_t>(record + 1);
        m_canonical[record] = static_cast<std::uint32_t>(record);
        const auto address = reinterpret_cast<std::uintptr_t>(item);
        usable = (address & ~kAddressMask) == 0;
        const std::uint64_t slot = item->m_type->m_id;
        m_keys[record] = slot << kSlotShift | address;
        m_linked[record] = !item->m_partners.empty();
    }
    Reset(items);
    return usable;
}

void SnapshotLinker::Reset(const std::vector<Item*>& items)
{
    for (Item* item : items)
        item->m_saveId = 0;
}

const SnapshotLinker::Rule& SnapshotLinker::RuleFor(std::uint32_t a, std::uint32_t b)
{
    Rule& rule = m_rules[a * m_slotTypes.size() + b];
    if (rule.known)
        return rule;
    Type* first = m_slotTypes[a];
    Type* second = m_slotTypes[b];
    const RelationInfo& relation = first->GetRelation(second); // unrelated types fail the load
    rule.single = relation.otherEnd == ONE;
    rule.quiet = first->connectedEvent.IsEmpty() && second->connectedEvent.IsEmpty() &&
                 m_data.connectedEvent.IsEmpty() &&
                 !(first->m_pairHandled && second->m_pairHandled);
    rule.known = true;
    return rule;
}

bool SnapshotLinker::IsQuiet(const SnapshotPair& pair)
{
    const std::uint32_t a = m_canonical[pair.first];
    const std::uint32_t b = m_canonical[pair.second];
    if (a == b)
        return false;
    const std::uint32_t slotA = SlotOf(m_keys[a]);
    const std::uint32_t slotB = SlotOf(m_keys[b]);
    return RuleFor(slotA, slotB).quiet && !Displaces(a, slotA, slotB) &&
           !Displaces(b, slotB, slotA);
}

// Whether linking would let go of a partner the item had before the load
// (a default, or one an item-added handler gave it): that takes the
// ordinary path, whose events announce the partner leaving.
bool SnapshotLinker::Displaces(std::uint32_t record, std::uint32_t own, std::uint32_t other)
{
    return m_linked[record] && RuleFor(own, other).single &&
           (*m_items)[record]->Partners(m_slotTypes[other]) != nullptr;
}

void SnapshotLinker::Count(const std::vector<SnapshotPair>& pairs, std::vector<bool>& quiet,
                           std::vector<SnapshotPair>& loud)
{
    m_offsets.assign(m_keys.size() + 1, 0);
    for (std::size_t n = 0; n < pairs.size(); ++n) {
        const SnapshotPair& pair = pairs[n];
        quiet[n] = IsQuiet(pair);
        if (quiet[n]) {
            ++m_offsets[m_canonical[pair.first] + 1];
            ++m_offsets[m_canonical[pair.second] + 1];
        } else {
            loud.push_back(pair);
        }
    }
    for (std::size_t n = 1; n < m_offsets.size(); ++n)
        m_offsets[n] += m_offsets[n - 1];
}

void SnapshotLinker::Fill(const std::vector<SnapshotPair>& pairs, const std::vector<bool>& quiet)
{
    m_partners.resize(m_offsets.back());
    std::vector<std::size_t> next(m_offsets.begin(), m_offsets.end() - 1);
    for (std::size_t n = 0; n < pairs.size(); ++n) {
        if (!quiet[n])
            continue;
        const SnapshotPair& pair = pairs[n];
        const std::uint32_t a = m_canonical[pair.first];
        const std::uint32_t b = m_canonical[pair.second];
        m_partners[next[a]++] = m_keys[b];
        m_partners[next[b]++] = m_keys[a];
    }
}

// Sorts each record's partners into type and address order, drops repeats
// (two records of one item may name the same partner), and refuses a file
// that gives an item two partners where the relation allows one.
bool SnapshotLinker::SortPartners()
{
    m_counts.assign(m_keys.size(), 0);
    for (std::size_t record = 0; record < m_keys.size(); ++record) {
        std::uint64_t* begin = m_partners.data() + m_offsets[record];
        std::uint64_t* end = m_partners.data() + m_offsets[record + 1];
        if (begin == end)
            continue;
        std::sort(begin, end);
        end = std::unique(begin, end);
        m_counts[record] = static_cast<std::uint32_t>(end - begin);
        const std::uint32_t own = SlotOf(m_keys[record]);
        for (std::uint64_t* at = begin + 1; at != end; ++at)
            if (SlotOf(*at) == SlotOf(at[-1]) && RuleFor(own, SlotOf(*at)).single)
                return false;
    }
    return true;
}

void SnapshotLinker::Attach(Item* item, std::size_t record)
{
    const std::uint64_t* begin = m_partners.data() + m_offsets[record];
    const std::uint64_t* end = begin + m_counts[record];
    const bool merge = !item->m_partners.empty();
    if (!merge) {
        // The list is made at its final size, then each set in place.
        m_slotIds.clear();
        for (const std::uint64_t* at = begin; at != end; ++at)
            if (at == begin || SlotOf(*at) != SlotOf(at[-1]))
                m_slotIds.push_back(static_cast<PartnerList::TypeId>(SlotOf(*at)));
        item->m_partners.Assign(m_slotIds.data(), m_slotIds.size());
    }
    std::size_t entry = 0;
    for (const std::uint64_t* run = begin; run != end; ++entry) {
        const std::uint32_t slot = SlotOf(*run);
        m_members.clear();
        for (; run != end && SlotOf(*run) == slot; ++run)
            m_members.push_back(ItemOf(*run));
        if (!merge) {
            item->m_partners.SetAt(entry) = ItemSet::FromSorted(m_members.data(), m_members.size());
            continue;
        }
        ItemSet* partners = item->PartnersFor(m_slotTypes[slot], true);
        for (Item* member : m_members)
            partners->insert(member);
    }
}
