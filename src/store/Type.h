#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ConnectionInfo.h"
#include "Event.h"
#include "ItemIndex.h"
#include "ItemSet.h"
#include "OneOrMany.h"
#include "Value.h"

class Data;
class Item;
class ItemPtr;

// A named kind of item. Valued types keep at most one item per value; null
// types hold value-less items told apart by identity and serve as flags.
class Type
{
public:
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;

    Event<Item*> itemAddedEvent;
    Event<Item*> itemRemovedEvent;
    Event<ConnectionInfo> connectedEvent;
    Event<ConnectionInfo> disconnectedEvent;

    Data* GetData() const { return m_data; }
    const std::string& GetName() const { return m_name; }
    bool IsPrimary() const { return m_primary; }
    bool IsNull() const { return m_null; }
    bool IsCreateOnGet() const { return m_createOnGet; }

    // Valued types.
    // Taken by value so that a value made for the call becomes the item's
    // own without another copy.
    Item* GetItem(Value v);
    Item* NewItem(Value v);
    ItemPtr HasItem(const Value& v) const;
    ItemPtr operator[](const Value& v);
    // GetItem for each value in turn, into `items` in the same order;
    // looking up many at once costs less than one after another.
    void GetItems(const std::vector<std::string_view>& values, std::vector<Item*>& items);

    // Null types.
    Item* NewItem();
    Item* GetGlobalNullItem();

    ItemSet GetItems() const;
    void GetItems(ItemSet& out) const;
    // The items in address order as a plain vector: what bulk walks (saving,
    // collecting garbage) need, without building a set.
    std::vector<Item*> GetItemsInOrder() const;
    std::size_t ItemCount() const;
    void RemoveAllItems();

    // Relations.
    void RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owns);
    const RelationInfo& GetRelation(Type* other) const;
    bool IsRelated(Type* other) const { return m_relations.count(other) != 0; }
    void GetRelatedTypes(std::map<Type*, RelationInfo>& out) const { out = m_relations; }
    bool HasOwners() const { return m_ownerCount != 0; }

private:
    friend class Data;
    friend class Item;
    friend class SnapshotLinker;

    Type(Data* data, std::uint16_t id, std::string name, bool primary, bool null, bool createOnGet);
    ~Type();

    Item* Create(std::string value);
    void Forget(Item* item); // takes a removed item out of the type's collection
    template <class F> void ForEachItem(F&& f) const;

    Data* m_data;
    std::uint16_t m_id; // place in the store's declaration order; partner lists keep it
    std::string m_name;
    bool m_primary;
    bool m_null;
    bool m_createOnGet;
    std::map<Type*, RelationInfo> m_relations;
    int m_ownerCount = 0;
    bool m_pairHandled = false; // some connection or disconnection pair handler names this type
    ItemIndex m_valued;
    ItemSet m_nullItems;
};

template <class F> void Type::ForEachItem(F&& f) const
{
    if (m_null) {
        for (Item* item : m_nullItems)
            f(item);
    } else {
        m_valued.ForEach(f);
    }
}
