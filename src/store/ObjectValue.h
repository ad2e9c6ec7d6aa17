#pragma once

#include <cstdint>

#include "ItemPtr.h"
#include "Value.h"

// Items that stand for live objects (sockets, files, views) carry the
// object's full address in decimal. The owner of the object frees it; the
// store never dereferences the value.
template <class T> Value ObjectValue(T* object)
{
    return Value(object);
}

// The object an item stands for, or null for a null handle.
template <class T> T* ObjectFromItem(ItemPtr item)
{
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(item.AsUInt64()));
}
