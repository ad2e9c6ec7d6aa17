#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ConnectionInfo.h"
#include "DataHandler.h"
#include "Event.h"
#include "Exceptions.h"
#include "Item.h"
#include "ItemPool.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "OneOrMany.h"
#include "PathNode.h"
#include "Type.h"
#include "Value.h"

// Bookkeeping for one registered path handler.
struct PathNodePairInfo
{
    PathNode* parent = nullptr;
    PathNode* child = nullptr;
    PathNodeRelation relation = PathConnectedTrigger;
};

struct PathNodeHandlerInfo
{
    std::map<std::pair<Type*, Type*>, PathNodePairInfo> pairs;
    EventHandlerBase<Item*>* handler = nullptr;
    std::unique_ptr<PathNode> root;
    bool withdrawn = false;
};

// The item store: every piece of program state is an item of a named type,
// linked to items of related types. Only the event-loop thread touches it.
class Data
{
public:
    Data();
    virtual ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    Event<Type*> typeAddedEvent;
    Event<Item*> itemAddedEvent;
    Event<Item*> itemRemovedEvent;
    Event<ConnectionInfo> connectedEvent;
    Event<ConnectionInfo> disconnectedEvent;

    // Types.
    Type* NewType(const std::string& name, bool primary, bool null, bool createOnGet);
    // Looked up without building a string: type names are mostly literals,
    // and many are too long to be stored without an allocation.
    Type* GetType(std::string_view name) const;
    Type* HasType(std::string_view name) const;
    // The registered types in the order they were declared; this is the
    // "type table order" that garbage collection and saving walk.
    const std::vector<Type*>& GetTypes() const { return m_typeList; }
    void RemoveAllItems();

    // Grows with every item created or removed and every connection made or
    // broken (loading included), so that a saver can tell an unchanged
    // store from one that needs writing again.
    std::uint64_t ChangeCount() const { return m_changeCount; }

    // Garbage collection; returns the number of items removed.
    int RemoveDisconnectedItems();
    // Removes every member still in the store when its turn comes (a handler
    // may remove later members first); returns how many it removed.
    int RemoveItems(const ItemSet& items);

    // Pair handlers: called with (item of type a, item of type b).
    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void NotifyConnectionEventHandlers(Item* x, Item* y);
    void NotifyDisconnectionEventHandlers(Item* x, Item* y);

    // Path handlers: the store takes ownership of the tree and the handler.
    void AddPathEventHandler(PathNode* root, EventHandlerBase<Item*>* handler);
    std::size_t PathHandlerCount() const { return m_pathInfos.size(); }

    // Queries.
    ItemSet GetItemSubset(const ItemSet& items, const char* typeName) const;
    ItemSet GetItems(ItemPtr a, ItemPtr b, const char* typeName) const;
    ItemSet GetItems(ItemSet& items, const char* typeName) const;
    ItemPtr GetItem(const ItemSet& items, const char* typeName) const;
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* typeName) const;

private:
    friend class Item;
    friend class Type;
    friend class SnapshotLinker;

    using TypePair = std::pair<Type*, Type*>;
    using PairEvent = Event<ConnectionInfo&>;
    struct PathInterest
    {
        std::set<PathNodeHandlerInfo*> infos;
        EventHandlerBase<ConnectionInfo&>* internalHandler = nullptr;
    };

    void NotifyPair(std::map<TypePair, std::unique_ptr<PairEvent>>& table, Item* x, Item* y);
    void AddPairHandler(std::map<TypePair, std::unique_ptr<PairEvent>>& table, Type* a, Type* b,
                        EventHandlerBase<ConnectionInfo&>* handler);

    void OnPathNodeEventConnection(ConnectionInfo& info);
    void OnPathNodeEventDisconnection(ConnectionInfo& info);
    void OnPathNodeEvent(std::map<TypePair, PathInterest>& interests, ConnectionInfo& info);
    void AddPathInterest(bool connection, const TypePair& pair, PathNodeHandlerInfo* info);
    void RemovePathEventHandler(PathNodeHandlerInfo* info);
    void CollectPathEdges(PathNode* node, PathNodeHandlerInfo* info);
    bool VerifyDown(Item* item, PathNode* node, PathNode* excluded) const;
    bool VerifyUp(Item* item, PathNode* node, PathNode* excluded, Item*& root) const;
    void FreeWithdrawnPathHandlers();

    void ItemDestroyed(Item* item); // lets a running collection forget the item
    void Mark(Item* item, std::vector<Type*>& path);
    int RemoveEach(const std::vector<Item*>& items);

    struct NameHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const
        {
            return std::hash<std::string_view>()(name);
        }
    };
    std::unordered_map<std::string, Type*, NameHash, std::equal_to<>> m_types;
    std::vector<Type*> m_typeList;
    // Where every item lives; the destructor's body destroys them all first.
    ItemPool m_itemPool;

    std::map<TypePair, std::unique_ptr<PairEvent>> m_connectionHandlers;
    std::map<TypePair, std::unique_ptr<PairEvent>> m_disconnectionHandlers;

    std::set<PathNodeHandlerInfo*> m_pathInfos;
    std::map<TypePair, PathInterest> m_pathConnectionInterest;
    std::map<TypePair, PathInterest> m_pathDisconnectionInterest;
    std::vector<PathNodeHandlerInfo*> m_withdrawnPathInfos;
    int m_pathDepth = 0;

    // Garbage collection state: the items a running collection is about to
    // remove, so that one removed early by a handler is not removed twice.
    std::vector<std::unordered_set<Item*>*> m_doomed;
    std::uint32_t m_gcPass = 0;
    std::uint64_t m_changeCount = 0;
    bool m_gcRunning = false; // items created meanwhile count as reached
};

// The program's one store.
extern Data d;

// Short forms used throughout the managers: every item of a type, and the
// item of a type with a value (as a set of zero or one, never created).
ItemSet g(const char* typeName);
ItemSet i(const char* typeName, const std::string& value);

template <class C>
void DataHandler::AddItemAddedHandler(C* target, const char* typeName, void (C::*method)(Item*))
{
    d.GetType(typeName)->itemAddedEvent.AddHandler(MakeHandler(target, method));
}

template <class C>
void DataHandler::AddItemRemovedHandler(C* target, const char* typeName, void (C::*method)(Item*))
{
    d.GetType(typeName)->itemRemovedEvent.AddHandler(MakeHandler(target, method));
}

template <class C>
void DataHandler::AddConnectedHandler(C* target, const char* typeName,
                                      void (C::*method)(ConnectionInfo))
{
    d.GetType(typeName)->connectedEvent.AddHandler(MakeHandler(target, method));
}

template <class C>
void DataHandler::AddDisconnectedHandler(C* target, const char* typeName,
                                         void (C::*method)(ConnectionInfo))
{
    d.GetType(typeName)->disconnectedEvent.AddHandler(MakeHandler(target, method));
}

template <class C>
void DataHandler::AddPairConnectionHandler(C* target, const char* a, const char* b,
                                           void (C::*method)(ConnectionInfo&))
{
    d.AddConnectionEventHandler(d.GetType(a), d.GetType(b), MakeHandler(target, method));
}

template <class C>
void DataHandler::AddPairDisconnectionHandler(C* target, const char* a, const char* b,
                                              void (C::*method)(ConnectionInfo&))
{
    d.AddDisconnectionEventHandler(d.GetType(a), d.GetType(b), MakeHandler(target, method));
}
