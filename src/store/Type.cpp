#include "Type.h"

#include <algorithm>
#include <new>

#include "Data.h"

Type::Type(Data* data, std::uint16_t id, std::string name, bool primary, bool null,
           bool createOnGet)
    : m_data(data), m_id(id), m_name(std::move(name)), m_primary(primary), m_null(null),
      m_createOnGet(createOnGet)
{}

Type::~Type() = default;

static_assert(sizeof(Item) <= ItemPool::SlotBytes, "an item fills one slot of the pool");

Item* Type::Create(std::string value)
{
    Item* item = new (m_data->m_itemPool.Allocate()) Item(this, std::move(value));
    ++m_data->m_changeCount;
    if (m_data->m_gcRunning)
        item->m_mark = m_data->m_gcPass;
    if (m_null)
        m_nullItems.insert(item);
    else
        m_valued.Insert(item);
    itemAddedEvent.Notify(item);
    Item* announced = item;
    m_data->itemAddedEvent.Notify(announced);
    return item;
}

void Type::Forget(Item* item)
{
    ++m_data->m_changeCount;
    if (m_null) {
        m_nullItems.erase(item);
        return;
    }
    m_valued.Erase(item);
}

Item* Type::GetItem(Value v)
{
    if (m_null)
        throw new NullTypeException;
    if (Item* item = m_valued.Find(v.Text()))
        return item;
    return m_createOnGet ? Create(v.Take()) : nullptr;
}

Item* Type::NewItem(Value v)
{
    if (m_null)
        throw new NullTypeException;
    if (Item* item = m_valued.Find(v.Text()))
        return item;
    return Create(v.Take());
}

ItemPtr Type::HasItem(const Value& v) const
{
    if (m_null)
        throw new NullTypeException;
    Item* item = m_valued.Find(v.Text());
    return item ? ItemPtr(item) : ItemPtr();
}

void Type::GetItems(const std::vector<std::string_view>& values, std::vector<Item*>& items)
{
    if (m_null)
        throw new NullTypeException;
    items.resize(values.size());
    m_valued.FindAll(values.data(), values.size(), items.data());
    // A value given twice and missing is made once: the second look-up
    // finds the item the first one made.
    for (std::size_t n = 0; n < values.size(); ++n)
        if (!items[n])
            items[n] = GetItem(std::string(values[n]));
}

ItemPtr Type::operator[](const Value& v)
{
    return GetItem(v);
}

Item* Type::NewItem()
{
    if (!m_null)
        throw new NullTypeException;
    return Create(std::string());
}

Item* Type::GetGlobalNullItem()
{
    if (!m_null)
        throw new NullTypeException;
    if (Item* shared = m_nullItems.first())
        return shared;
    return NewItem();
}

ItemSet Type::GetItems() const
{
    if (m_null)
        return m_nullItems;
    return ItemSet::FromSorted(GetItemsInOrder());
}

std::vector<Item*> Type::GetItemsInOrder() const
{
    if (m_null)
        return std::vector<Item*>(m_nullItems.begin(), m_nullItems.end());
    std::vector<Item*> items;
    items.reserve(m_valued.size());
    m_valued.ForEach([&items](Item* item) { items.push_back(item); });
    std::sort(items.begin(), items.end());
    return items;
}

void Type::GetItems(ItemSet& out) const
{
    if (m_null) {
        out = m_nullItems;
        return;
    }
    out.Add(GetItems());
}

std::size_t Type::ItemCount() const
{
    return m_null ? m_nullItems.size() : m_valued.size();
}

void Type::RemoveAllItems()
{
    m_data->RemoveItems(GetItems());
}

void Type::RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owns)
{
    if (IsRelated(other) || other->IsRelated(this))
        throw new AlreadyRelatedException;
    m_relations[other] = RelationInfo{thisEnd, otherEnd, owns, false};
    other->m_relations[this] = RelationInfo{otherEnd, thisEnd, false, owns};
    if (owns)
        ++other->m_ownerCount;
}

const RelationInfo& Type::GetRelation(Type* other) const
{
    auto it = m_relations.find(other);
    if (it == m_relations.end())
        throw new NotRelatedException;
    return it->second;
}
