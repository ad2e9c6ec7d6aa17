#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QtGlobal>

#include "store/Data.h"

// The store throws heap-allocated exceptions by pointer: did `f` throw an `E*`?
template <class E, class F> bool ThrowsPointer(F&& f)
{
    try {
        std::forward<F>(f)();
    } catch (E* e) {
        delete e;
        return true;
    } catch (...) {
        return false;
    }
    return false;
}

// "type=value", or the type name alone for a value-less item.
inline std::string Label(Item* item)
{
    if (!item)
        return "null";
    const std::string& name = item->GetType()->GetName();
    return item->GetType()->IsNull() ? name : name + "=" + item->AsString();
}

// Records every notification it receives, one line each, in delivery order.
class EventLog : public DataHandler
{
public:
    std::vector<std::string> lines;

    void WatchType(Type* type)
    {
        type->itemAddedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeAdded));
        type->itemRemovedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeRemoved));
        type->connectedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeConnected));
        type->disconnectedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeDisconnected));
    }
    void WatchStore(Data& data)
    {
        data.itemAddedEvent.AddHandler(MakeHandler(this, &EventLog::OnStoreAdded));
        data.itemRemovedEvent.AddHandler(MakeHandler(this, &EventLog::OnStoreRemoved));
        data.connectedEvent.AddHandler(MakeHandler(this, &EventLog::OnStoreConnected));
        data.disconnectedEvent.AddHandler(MakeHandler(this, &EventLog::OnStoreDisconnected));
    }
    // Pair handlers for (a, b) only; watch (b, a) with a second call.
    void WatchPair(Data& data, Type* a, Type* b)
    {
        data.AddConnectionEventHandler(a, b, MakeHandler(this, &EventLog::OnPairConnected));
        data.AddDisconnectionEventHandler(a, b, MakeHandler(this, &EventLog::OnPairDisconnected));
    }

    void OnTypeAdded(Item* item) { Put("type added", item); }
    void OnTypeRemoved(Item* item) { Put("type removed", item); }
    void OnStoreAdded(Item* item) { Put("store added", item); }
    void OnStoreRemoved(Item* item) { Put("store removed", item); }
    void OnTypeConnected(ConnectionInfo info) { Put("type connected", info); }
    void OnTypeDisconnected(ConnectionInfo info) { Put("type disconnected", info); }
    void OnStoreConnected(ConnectionInfo info) { Put("store connected", info); }
    void OnStoreDisconnected(ConnectionInfo info) { Put("store disconnected", info); }
    void OnPairConnected(ConnectionInfo& info) { Put("pair connected", info); }
    void OnPairDisconnected(ConnectionInfo& info) { Put("pair disconnected", info); }
    void Put(const std::string& what, Item* item) { lines.push_back(what + " " + Label(item)); }
    void Put(const std::string& what, const ConnectionInfo& info)
    {
        lines.push_back(what + " " + Label(info.item) + " " + Label(info.other));
    }

    std::vector<std::string> Only(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }
};

// Runs the test's own code for each item notification it is registered for.
class ItemProbe : public DataHandler
{
public:
    std::function<void(Item*)> on;
    void On(Item* item) { on(item); }
    EventHandlerBase<Item*>* Handler() { return MakeHandler(this, &ItemProbe::On); }
};

// What `a` "connected"/"disconnected" `b` sends to every watcher, in order.
inline std::vector<std::string> Notifications(const std::string& verb, Item* a, Item* b)
{
    const std::string ab = " " + Label(a) + " " + Label(b), ba = " " + Label(b) + " " + Label(a);
    return {"type " + verb + ab, "store " + verb + ab, "type " + verb + ba, "pair " + verb + ab,
            "pair " + verb + ba};
}

// QCOMPARE prints std::vector<std::string> poorly; compare and show both.
inline bool SameLines(const std::vector<std::string>& got, const std::vector<std::string>& want)
{
    if (got == want)
        return true;
    qWarning("expected:");
    for (const std::string& line : want)
        qWarning("  %s", line.c_str());
    qWarning("got:");
    for (const std::string& line : got)
        qWarning("  %s", line.c_str());
    return false;
}

// The store keeps sets, partner lists and ties in item address order.
inline std::vector<Item*> InAddressOrder(std::vector<Item*> items)
{
    std::sort(items.begin(), items.end(), std::less<Item*>());
    return items;
}

// Users in rooms with a shared online flag, in a store of its own.
struct Chat
{
    Data data;
    Type* user = data.NewType("user", false, false, true);
    Type* room = data.NewType("room", false, false, true);
    Type* online = data.NewType("is_online", false, true, false);

    Chat()
    {
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(online, MANY, ONE, false);
    }
};
