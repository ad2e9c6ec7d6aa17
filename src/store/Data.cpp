#include "Data.h"

#include <algorithm>
#include <stdexcept>

Data d;

namespace {

// Keeps a depth counter balanced even when a handler throws.
class DepthGuard
{
public:
    explicit DepthGuard(int& depth) : m_depth(depth) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_depth;
};

} // namespace

Data::Data()
{
    // Item handles travel in queued signals between managers and threads.
    qRegisterMetaType<ItemPtr>("ItemPtr");
}

Data::~Data()
{
    // Handlers go first (they may point at objects already gone and must
    // never run again), then the path machinery, then items and types
    // without any events.
    m_connectionHandlers.clear();
    m_disconnectionHandlers.clear();
    for (PathNodeHandlerInfo* info : m_pathInfos) {
        delete info->handler;
        delete info;
    }
    for (PathNodeHandlerInfo* info : m_withdrawnPathInfos) {
        delete info->handler;
        delete info;
    }
    for (Type* type : m_typeList) {
        type->ForEachItem([this](Item* item) {
            item->~Item();
            m_itemPool.Free(item);
        });
        delete type;
    }
}

Type* Data::NewType(const std::string& name, bool primary, bool null, bool createOnGet)
{
    if (m_types.count(name))
        throw new TypeAlreadyExistsException;
    if (m_typeList.size() >= PartnerList::MaxTypes)
        throw std::length_error("too many item types");
    const auto id = static_cast<PartnerList::TypeId>(m_typeList.size());
    Type* type = new Type(this, id, name, primary, null, createOnGet);
    m_types.emplace(name, type);
    m_typeList.push_back(type);
    typeAddedEvent.Notify(type);
    return type;
}

Type* Data::GetType(std::string_view name) const
{
    auto it = m_types.find(name);
    if (it == m_types.end())
        throw new TypeNotFoundException;
    return it->second;
}

Type* Data::HasType(std::string_view name) const
{
    auto it = m_types.find(name);
    return it == m_types.end() ? nullptr : it->second;
}

void Data::RemoveAllItems()
{
    // Most types are empty whenever the whole store is cleared (a snapshot
    // that failed to load), and emptying an empty type still costs a pass.
    for (Type* type : std::vector<Type*>(m_typeList))
        if (type->ItemCount() != 0)
            type->RemoveAllItems();
}

// ---------------------------------------------------------------------------
// Garbage collection

int Data::RemoveItems(const ItemSet& items)
{
    return RemoveEach(std::vector<Item*>(items.begin(), items.end()));
}

int Data::RemoveEach(const std::vector<Item*>& items)
{
    std::unordered_set<Item*> doomed(items.begin(), items.end());
    m_doomed.push_back(&doomed);
    int removed = 0;
    try {
        for (Item* item : items) {
            if (doomed.count(item)) {
                item->Remove();
                ++removed;
            }
        }
    } catch (...) {
        m_doomed.erase(std::find(m_doomed.begin(), m_doomed.end(), &doomed));
        throw;
    }
    m_doomed.erase(std::find(m_doomed.begin(), m_doomed.end(), &doomed));
    return removed;
}

void Data::ItemDestroyed(Item* item)
{
    for (std::unordered_set<Item*>* doomed : m_doomed)
        doomed->erase(item);
}

void Data::Mark(Item* item, std::vector<Type*>& path)
{
    if (item->m_mark == m_gcPass)
        return;
    Type* type = item->m_type;
    if (std::find(path.begin(), path.end(), type) != path.end())
        return;
    path.push_back(type);
    item->m_mark = m_gcPass;
    for (const auto& [partnerType, partners] : item->Connections()) {
        if (partnerType->IsPrimary())
            continue;
        for (Item* partner : partners)
            Mark(partner, path);
    }
    path.pop_back();
}

int Data::RemoveDisconnectedItems()
{
    if (++m_gcPass == 0) {
        for (Type* type : m_typeList)
            type->ForEachItem([](Item* item) { item->m_mark = 0; });
        m_gcPass = 1;
    }
    m_gcRunning = true;
    struct Running
    {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_gcRunning};

    // Items of an owned type need a partner of every owning type.
    std::vector<Item*> orphans;
    for (Type* type : m_typeList) {
        if (!type->HasOwners())
            continue;
        std::vector<Type*> owners;
        for (const auto& [other, relation] : type->m_relations)
            if (relation.owned)
                owners.push_back(other);
        type->ForEachItem([&](Item* item) {
            for (Type* owner : owners)
                if (!item->IsConnected(owner)) {
                    orphans.push_back(item);
                    return;
                }
        });
    }
    std::sort(orphans.begin(), orphans.end());
    int removed = RemoveEach(orphans);

    // Everything reachable from a primary item, along chains that enter no
    // other primary item and repeat no type, stays.
    std::vector<Type*> path;
    for (Type* type : std::vector<Type*>(m_typeList)) {
        if (!type->IsPrimary())
            continue;
        for (Item* root : type->GetItemsInOrder())
            Mark(root, path);
    }

    std::vector<Item*> unreached;
    for (Type* type : m_typeList)
        type->ForEachItem([&](Item* item) {
            if (item->m_mark != m_gcPass)
                unreached.push_back(item);
        });
    std::sort(unreached.begin(), unreached.end());
    removed += RemoveEach(unreached);
    return removed;
}

// ---------------------------------------------------------------------------
// Pair handlers

void Data::AddPairHandler(std::map<TypePair, std::unique_ptr<PairEvent>>& table, Type* a, Type* b,
                          EventHandlerBase<ConnectionInfo&>* handler)
{
    a->GetRelation(b);
    a->m_pairHandled = true;
    b->m_pairHandled = true;
    std::unique_ptr<PairEvent>& event = table[{a, b}];
    if (!event)
        event = std::make_unique<PairEvent>();
    event->AddHandler(handler);
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler)
{
    AddPairHandler(m_connectionHandlers, a, b, handler);
}

void Data::AddDisconnectionEventHandler(Type* a, Type* b,
                                        EventHandlerBase<ConnectionInfo&>* handler)
{
    AddPairHandler(m_disconnectionHandlers, a, b, handler);
}

void Data::NotifyPair(std::map<TypePair, std::unique_ptr<PairEvent>>& table, Item* x, Item* y)
{
    // Nearly every connection is between types no pair handler watches;
    // those need no search of the table.
    if (!x->m_type->m_pairHandled || !y->m_type->m_pairHandled)
        return;
    auto forward = table.find({x->m_type, y->m_type});
    if (forward != table.end()) {
        ConnectionInfo info{x, y};
        forward->second->Notify(info);
    }
    auto backward = table.find({y->m_type, x->m_type});
    if (backward != table.end()) {
        ConnectionInfo info{y, x};
        backward->second->Notify(info);
    }
}

void Data::NotifyConnectionEventHandlers(Item* x, Item* y)
{
    NotifyPair(m_connectionHandlers, x, y);
}

void Data::NotifyDisconnectionEventHandlers(Item* x, Item* y)
{
    NotifyPair(m_disconnectionHandlers, x, y);
}

// ---------------------------------------------------------------------------
// Path handlers

void Data::CollectPathEdges(PathNode* node, PathNodeHandlerInfo* info)
{
    for (const auto& [child, relation] : node->GetChildren()) {
        node->GetType()->GetRelation(child->GetType());
        info->pairs[{node->GetType(), child->GetType()}] = PathNodePairInfo{node, child, relation};
        CollectPathEdges(child, info);
    }
}

void Data::AddPathInterest(bool connection, const TypePair& pair, PathNodeHandlerInfo* info)
{
    auto& interests = connection ? m_pathConnectionInterest : m_pathDisconnectionInterest;
    PathInterest& interest = interests[pair];
    if (!interest.internalHandler) {
        auto* internal = new EventHandler<Data, ConnectionInfo&>(
            this,
            connection ? &Data::OnPathNodeEventConnection : &Data::OnPathNodeEventDisconnection);
        interest.internalHandler = internal;
        if (connection)
            AddConnectionEventHandler(pair.first, pair.second, internal);
        else
            AddDisconnectionEventHandler(pair.first, pair.second, internal);
    }
    interest.infos.insert(info);
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<Item*>* handler)
{
    auto info = std::make_unique<PathNodeHandlerInfo>();
    info->root.reset(root);
    info->handler = handler;
    try {
        CollectPathEdges(root, info.get());
    } catch (...) {
        delete handler;
        throw;
    }
    PathNodeHandlerInfo* registered = info.release();
    m_pathInfos.insert(registered);
    for (const auto& [pair, edge] : registered->pairs) {
        switch (edge.relation) {
        case PathConnectedTrigger:
        case PathTriggerOnConnect:
            AddPathInterest(true, pair, registered);
            break;
        case PathNotConnectedTrigger:
        case PathTriggerOnDisconnect:
            AddPathInterest(false, pair, registered);
            break;
        default:
            break;
        }
    }
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* info)
{
    if (info->withdrawn)
        return;
    info->withdrawn = true;
    for (auto* interests : {&m_pathConnectionInterest, &m_pathDisconnectionInterest}) {
        for (auto it = interests->begin(); it != interests->end();) {
            it->second.infos.erase(info);
            if (it->second.infos.empty()) {
                // The pair event deletes its internal handler at its next
                // notification; a pass in progress may still hold it.
                it->second.internalHandler->removed = true;
                it = interests->erase(it);
            } else {
                ++it;
            }
        }
    }
    m_pathInfos.erase(info);
    m_withdrawnPathInfos.push_back(info);
    if (m_pathDepth == 0)
        FreeWithdrawnPathHandlers();
}

void Data::FreeWithdrawnPathHandlers()
{
    std::vector<PathNodeHandlerInfo*> withdrawn;
    withdrawn.swap(m_withdrawnPathInfos);
    for (PathNodeHandlerInfo* info : withdrawn) {
        delete info->handler;
        delete info;
    }
}

void Data::OnPathNodeEventConnection(ConnectionInfo& info)
{
    OnPathNodeEvent(m_pathConnectionInterest, info);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& info)
{
    OnPathNodeEvent(m_pathDisconnectionInterest, info);
}

void Data::OnPathNodeEvent(std::map<TypePair, PathInterest>& interests, ConnectionInfo& info)
{
    Item* x = info.item;
    Item* y = info.other;
    const TypePair pair{x->m_type, y->m_type};
    auto found = interests.find(pair);
    if (found == interests.end())
        return;
    std::vector<PathNodeHandlerInfo*> pass(found->second.infos.begin(), found->second.infos.end());
    {
        DepthGuard depth(m_pathDepth);
        for (PathNodeHandlerInfo* handlerInfo : pass) {
            if (handlerInfo->withdrawn)
                continue;
            if (handlerInfo->handler->removed) {
                RemovePathEventHandler(handlerInfo);
                continue;
            }
            const PathNodePairInfo& edge = handlerInfo->pairs.at(pair);
            Item* root = nullptr;
            if (VerifyUp(x, edge.parent, edge.child, root) && VerifyDown(y, edge.child, nullptr))
                handlerInfo->handler->Handle(root);
        }
    }
    if (m_pathDepth == 0)
        FreeWithdrawnPathHandlers();
}

bool Data::VerifyDown(Item* item, PathNode* node, PathNode* excluded) const
{
    if (node->GetFixedItem() && node->GetFixedItem() != item)
        return false;
    for (const auto& [child, relation] : node->GetChildren()) {
        if (child == excluded)
            continue;
        const ItemSet* partners = item->Partners(child->GetType());
        switch (relation) {
        case PathConnectedTrigger:
        case PathConnected: {
            if (!partners)
                return false;
            bool found = false;
            for (Item* partner : *partners)
                if (VerifyDown(partner, child, nullptr)) {
                    found = true;
                    break;
                }
            if (!found)
                return false;
            break;
        }
        case PathNotConnectedTrigger:
        case PathNotConnected: {
            if (!partners)
                break;
            bool all = true;
            for (Item* partner : *partners)
                if (!VerifyDown(partner, child, nullptr)) {
                    all = false;
                    break;
                }
            if (all)
                return false;
            break;
        }
        default:
            break;
        }
    }
    return true;
}

bool Data::VerifyUp(Item* item, PathNode* node, PathNode* excluded, Item*& root) const
{
    if (node->GetFixedItem() && node->GetFixedItem() != item)
        return false;
    if (!VerifyDown(item, node, excluded))
        return false;
    PathNode* parent = node->GetParent();
    if (!parent) {
        root = item;
        return true;
    }
    const ItemSet* partners = item->Partners(parent->GetType());
    switch (node->GetRelation()) {
    case PathConnectedTrigger:
    case PathConnected:
        if (partners)
            for (Item* partner : *partners)
                if (VerifyUp(partner, parent, node, root))
                    return true;
        return false;
    case PathNotConnectedTrigger:
    case PathNotConnected:
        if (!partners)
            return true;
        for (Item* partner : *partners)
            if (!VerifyUp(partner, parent, node, root))
                return true;
        return false;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Queries

ItemSet Data::GetItemSubset(const ItemSet& items, const char* typeName) const
{
    Type* type = GetType(typeName);
    if (items.empty())
        return ItemSet();
    std::vector<std::pair<std::size_t, const ItemSet*>> members;
    members.reserve(items.size());
    for (Item* member : items) {
        const ItemSet* partners = member->Partners(type);
        if (!partners) {
            member->m_type->GetRelation(type);
            return ItemSet();
        }
        members.emplace_back(partners->size(), partners);
    }
    std::stable_sort(members.begin(), members.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    ItemSet result = *members.front().second;
    for (std::size_t n = 1; n < members.size() && !result.empty(); ++n) {
        const ItemSet& next = *members[n].second;
        if (result.size() * 16 < next.size()) {
            // Few candidates against a large set (a common token such as
            // "mp3"): look each candidate up instead of walking the set.
            std::vector<Item*> kept;
            for (Item* candidate : result)
                if (next.contains(candidate))
                    kept.push_back(candidate);
            result = ItemSet::FromSorted(std::move(kept));
        } else {
            result = result.Common(next);
        }
    }
    return result;
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, const char* typeName) const
{
    return GetItemSubset(ItemSet{a.Get(), b.Get()}, typeName);
}

ItemSet Data::GetItems(ItemSet& items, const char* typeName) const
{
    return items.GetItems(typeName);
}

ItemPtr Data::GetItem(const ItemSet& items, const char* typeName) const
{
    return GetItemSubset(items, typeName);
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* typeName) const
{
    return GetItems(a, b, typeName);
}

ItemSet g(const char* typeName)
{
    return d.GetType(typeName)->GetItems();
}

ItemSet i(const char* typeName, const std::string& value)
{
    ItemSet result;
    if (Item* item = d.GetType(typeName)->HasItem(value))
        result.insert(item);
    return result;
}
