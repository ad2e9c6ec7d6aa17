#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ItemSet.h"
#include "PartnerList.h"

class Type;
class Data;

// One node of the store: a type, a value text and the connections to items
// of related types. Items are created only by their type and destroyed only
// by Remove, Type::RemoveAllItems or garbage collection; the store owns them.
class Item
{
public:
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    Type* GetType() const { return m_type; }

    const std::string& AsString() const { return m_value; }
    const char* AsCStr() const { return m_value.c_str(); }
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    unsigned long long AsUInt64() const; // object addresses are read back through this

    // Connections. Connect returns `other`.
    Item* Connect(Item* other);
    // The same as connecting each in turn, for partners of one type given
    // sorted by address without repeats. An item meeting a type for the
    // first time, with nobody listening to the connections, has its set
    // built in one go, which is most of what a new shared file's dozens of
    // search words cost.
    void ConnectAll(const std::vector<Item*>& sorted);
    void Disconnect(Item* other);
    void Disconnect(const char* typeName);
    bool IsConnected(Item* other) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(const char* typeName) const;
    bool IsDisconnectedFromAll() const { return m_partners.empty(); }

    // The connected item of a type (the lowest address when there are several), or null.
    Item* HasItem(const char* typeName) const;
    Item* GetItem(const char* typeName) const { return HasItem(typeName); }
    Item* HasItem(Type* type) const;

    // Attaches a value-less item of a null type, shared or not as the relation says.
    Item* NewItem(const char* typeName);

    void GetConnectedItems(std::map<Type*, ItemSet>& out) const;
    void GetItems(const char* typeName, ItemSet& out) const;
    // The partners of one type, or null when there are none; no copy.
    const ItemSet* Partners(Type* type) const;
    using ConnectionList = PartnerList::Range;
    // Every partner set, in the order the types were declared; no copy.
    ConnectionList Connections() const;

    void Remove();

private:
    friend class Type;
    friend class Data;
    friend class DataSaver;
    friend class SnapshotLinker;

    Item(Type* type, std::string value) : m_type(type), m_value(std::move(value)) {}
    ~Item() = default;

    ItemSet* PartnersFor(Type* type, bool create);
    void Link(Item* other);   // adds other to our set, no events
    void Unlink(Item* other); // takes other out of our set, no events

    Type* m_type;
    std::string m_value;
    // An entry exists only while its set is non-empty.
    PartnerList m_partners;
    std::uint32_t m_mark = 0;   // garbage collection pass that reached this item
    std::uint32_t m_saveId = 0; // id given by the snapshot writer
};
