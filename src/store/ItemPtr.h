#pragma once

#include <string>

#include <QMetaType>

#include "Item.h"
#include "ItemSet.h"

// A copyable handle on one item, possibly null. The conversions are
// null-safe; navigation and connection forward to the item without checking,
// except operator[], which yields a null handle on a null handle.
class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* item) : m_item(item) {}
    ItemPtr(const ItemSet& set) : m_item(set.first()) {} // the first member

    Item* Get() const { return m_item; }
    operator Item*() const { return m_item; }
    Item* operator->() const { return m_item; }
    bool IsNull() const { return m_item == nullptr; }
    explicit operator bool() const { return m_item != nullptr; }
    bool operator==(const ItemPtr& o) const { return m_item == o.m_item; }
    bool operator!=(const ItemPtr& o) const { return m_item != o.m_item; }
    bool operator==(Item* o) const { return m_item == o; }
    bool operator!=(Item* o) const { return m_item != o; }

    std::string AsString() const { return m_item ? m_item->AsString() : std::string(); }
    const char* AsCStr() const { return m_item ? m_item->AsCStr() : ""; }
    int AsInt() const { return m_item ? m_item->AsInt() : 0; }
    unsigned int AsUInt() const { return m_item ? m_item->AsUInt() : 0; }
    long long AsInt64() const { return m_item ? m_item->AsInt64() : 0; }
    unsigned long long AsUInt64() const { return m_item ? m_item->AsUInt64() : 0; }

    ItemPtr Connect(ItemPtr other) const { return m_item->Connect(other.m_item); }
    ItemPtr operator+=(ItemPtr other) const { return Connect(other); }
    void Disconnect(ItemPtr other) const { m_item->Disconnect(other.m_item); }
    void operator-=(ItemPtr other) const { Disconnect(other); }
    void Disconnect(const char* typeName) const { m_item->Disconnect(typeName); }
    bool IsConnected(ItemPtr other) const { return m_item->IsConnected(other.m_item); }
    bool IsConnected(const char* typeName) const { return m_item->IsConnected(typeName); }
    ItemPtr HasItem(const char* typeName) const { return m_item->HasItem(typeName); }
    ItemPtr GetItem(const char* typeName) const { return m_item->GetItem(typeName); }
    ItemPtr operator[](const char* typeName) const
    {
        return m_item ? m_item->HasItem(typeName) : nullptr;
    }
    ItemPtr NewItem(const char* typeName) const { return m_item->NewItem(typeName); }
    ItemSet GetItems(const char* typeName) const
    {
        ItemSet out;
        m_item->GetItems(typeName, out);
        return out;
    }
    void GetItems(const char* typeName, ItemSet& out) const { m_item->GetItems(typeName, out); }
    void Remove() const { m_item->Remove(); }

private:
    Item* m_item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)
