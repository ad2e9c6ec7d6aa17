#include "Item.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "Data.h"

namespace {

// Reads the value as standard stream extraction would: leading white space,
// an optional sign, then digits up to the first non-digit; 0 when there is
// no number at all.
long long LeadingNumber(const std::string& text)
{
    return std::strtoll(text.c_str(), nullptr, 10);
}

} // namespace

int Item::AsInt() const
{
    return static_cast<int>(LeadingNumber(m_value));
}

unsigned int Item::AsUInt() const
{
    return static_cast<unsigned int>(std::strtoul(m_value.c_str(), nullptr, 10));
}

long long Item::AsInt64() const
{
    return LeadingNumber(m_value);
}

unsigned long long Item::AsUInt64() const
{
    return std::strtoull(m_value.c_str(), nullptr, 10);
}

const ItemSet* Item::Partners(Type* type) const
{
    return m_partners.Find(type->m_id);
}

Item::ConnectionList Item::Connections() const
{
    return ConnectionList(m_partners, m_type->GetData()->GetTypes());
}

ItemSet* Item::PartnersFor(Type* type, bool create)
{
    return create ? &m_partners.Add(type->m_id) : m_partners.Find(type->m_id);
}

void Item::Link(Item* other)
{
    m_partners.Add(other->m_type->m_id).insert(other);
    ++m_type->m_data->m_changeCount;
}

void Item::Unlink(Item* other)
{
    ItemSet* partners = m_partners.Find(other->m_type->m_id);
    if (!partners)
        return;
    partners->erase(other);
    if (partners->empty())
        m_partners.Remove(other->m_type->m_id);
    ++m_type->m_data->m_changeCount;
}

Item* Item::Connect(Item* other)
{
    const RelationInfo& relation = m_type->GetRelation(other->m_type);
    const ItemSet* mine = Partners(other->m_type);
    if (mine && mine->contains(other))
        return other;

    // A ONE end holds a single partner: the old one is let go first, with
    // its events, so handlers see the old link break before the new one.
    if (relation.otherEnd == ONE && mine)
        Disconnect(mine->first());
    if (relation.thisEnd == ONE)
        if (const ItemSet* theirs = other->Partners(m_type))
            other->Disconnect(theirs->first());

    Link(other);
    other->Link(this);

    Data* data = m_type->GetData();
    ConnectionInfo mineInfo{this, other};
    m_type->connectedEvent.Notify(mineInfo);
    ConnectionInfo storeInfo{this, other};
    data->connectedEvent.Notify(storeInfo);
    ConnectionInfo theirsInfo{other, this};
    other->m_type->connectedEvent.Notify(theirsInfo);
    data->NotifyConnectionEventHandlers(this, other);
    return other;
}

void Item::ConnectAll(const std::vector<Item*>& sorted)
{
    if (sorted.empty())
        return;
    Type* type = sorted.front()->m_type;
    const RelationInfo& relation = m_type->GetRelation(type);
    // Only a set of one type can be laid down whole; anything else, or a
    // connection someone listens to, goes one at a time.
    const bool oneType = std::all_of(sorted.begin(), sorted.end(),
                                     [type](const Item* other) { return other->m_type == type; });
    const bool quiet = oneType && relation.thisEnd != ONE && relation.otherEnd != ONE &&
                       m_type->connectedEvent.IsEmpty() && type->connectedEvent.IsEmpty() &&
                       m_type->m_data->connectedEvent.IsEmpty() &&
                       !(m_type->m_pairHandled && type->m_pairHandled);
    if (!quiet || type == m_type || Partners(type)) {
        for (Item* other : sorted)
            Connect(other);
        return;
    }
    m_partners.Add(type->m_id) = ItemSet::FromSorted(sorted.data(), sorted.size());
    ++m_type->m_data->m_changeCount;
    // Each partner's set of this type sits two cache misses away: its
    // partner block, then the set's rows. Asked for partner by partner, a
    // file's dozen words wait for two dozen misses in turn; asked for all
    // of one step before the next, they overlap.
    for (Item* other : sorted)
        other->m_partners.Prefetch();
    for (Item* other : sorted)
        if (const ItemSet* theirs = other->m_partners.Find(m_type->m_id))
            theirs->Prefetch();
    for (Item* other : sorted)
        other->Link(this);
}

void Item::Disconnect(Item* other)
{
    Unlink(other);
    other->Unlink(this);

    Data* data = m_type->GetData();
    ConnectionInfo mine{this, other};
    m_type->disconnectedEvent.Notify(mine);
    ConnectionInfo store{this, other};
    data->disconnectedEvent.Notify(store);
    ConnectionInfo theirs{other, this};
    other->m_type->disconnectedEvent.Notify(theirs);
    data->NotifyDisconnectionEventHandlers(this, other);
}

void Item::Disconnect(const char* typeName)
{
    Type* type = m_type->GetData()->GetType(typeName);
    const ItemSet* partners = Partners(type);
    if (!partners)
        return;
    ItemSet copy(*partners);
    for (Item* partner : copy) {
        // A handler of an earlier disconnection may already have let this
        // partner go (or removed it); only live links are broken.
        const ItemSet* live = Partners(type);
        if (live && live->contains(partner))
            Disconnect(partner);
    }
}

bool Item::IsConnected(Item* other) const
{
    const ItemSet* partners = Partners(other->m_type);
    return partners && partners->contains(other);
}

bool Item::IsConnected(Type* type) const
{
    return Partners(type) != nullptr;
}

bool Item::IsConnected(const char* typeName) const
{
    return IsConnected(m_type->GetData()->GetType(typeName));
}

Item* Item::HasItem(Type* type) const
{
    if (const ItemSet* partners = Partners(type))
        return partners->first();
    m_type->GetRelation(type); // navigating to an unrelated type is misuse
    return nullptr;
}

Item* Item::HasItem(const char* typeName) const
{
    return HasItem(m_type->GetData()->GetType(typeName));
}

Item* Item::NewItem(const char* typeName)
{
    Type* type = m_type->GetData()->GetType(typeName);
    const RelationInfo& relation = m_type->GetRelation(type);
    if (!type->IsNull())
        throw new NullTypeException;

    if (relation.otherEnd == MANY)
        return Connect(type->NewItem());
    if (Item* existing = HasItem(type))
        return existing;
    if (relation.thisEnd == MANY)
        return Connect(type->GetGlobalNullItem());
    return Connect(type->NewItem());
}

void Item::GetConnectedItems(std::map<Type*, ItemSet>& out) const
{
    out.clear();
    for (const auto& [type, partners] : Connections())
        out.emplace(type, partners);
}

void Item::GetItems(const char* typeName, ItemSet& out) const
{
    Type* type = m_type->GetData()->GetType(typeName);
    if (const ItemSet* partners = Partners(type))
        out = *partners;
    else
        m_type->GetRelation(type);
}

void Item::Remove()
{
    Data* data = m_type->GetData();
    Item* self = this;
    m_type->itemRemovedEvent.Notify(self);
    data->itemRemovedEvent.Notify(self);

    // Handlers of the disconnections may link this item again; a few rounds
    // settle that, and whatever a handler insists on re-linking after that is
    // cut without events so no partner is left pointing at a dead item.
    for (int round = 0; round < 3 && !m_partners.empty(); ++round) {
        std::vector<std::pair<Type*, ItemSet>> copy;
        copy.reserve(m_partners.size());
        for (const auto& [type, partners] : Connections())
            copy.emplace_back(type, partners);
        for (const auto& [type, partners] : copy)
            for (Item* partner : partners) {
                const ItemSet* live = Partners(type);
                if (live && live->contains(partner))
                    Disconnect(partner);
            }
    }
    while (!m_partners.empty()) {
        Item* partner = m_partners.SetAt(0).first();
        Unlink(partner);
        partner->Unlink(this);
    }

    m_type->Forget(this);
    data->ItemDestroyed(this);
    this->~Item();
    data->m_itemPool.Free(this);
}
