#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QtGlobal>

#include "store/Data.h"

// The store throws heap-allocated exceptions by pointer; this runs `f` and
// tells whether it threw exactly an `E*`, freeing the object as a catcher must.
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

inline std::string Label(const std::string& what, const ConnectionInfo& info)
{
    return what + " " + Label(info.item) + " " + Label(info.other);
}

// Records every notification it receives, one line each, in the order the
// store delivers them, so a test can compare the whole sequence at once.
class EventLog : public DataHandler
{
public:
    std::vector<std::string> lines;

    // Item and connection events of one type.
    void WatchType(Type* type)
    {
        type->itemAddedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeAdded));
        type->itemRemovedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeRemoved));
        type->connectedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeConnected));
        type->disconnectedEvent.AddHandler(MakeHandler(this, &EventLog::OnTypeDisconnected));
    }
    // The store-wide events.
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

    void OnTypeAdded(Item* item) { lines.push_back("type added " + Label(item)); }
    void OnTypeRemoved(Item* item) { lines.push_back("type removed " + Label(item)); }
    void OnStoreAdded(Item* item) { lines.push_back("store added " + Label(item)); }
    void OnStoreRemoved(Item* item) { lines.push_back("store removed " + Label(item)); }
    void OnTypeConnected(ConnectionInfo info) { lines.push_back(Label("type connected", info)); }
    void OnTypeDisconnected(ConnectionInfo info)
    {
        lines.push_back(Label("type disconnected", info));
    }
    void OnStoreConnected(ConnectionInfo info) { lines.push_back(Label("store connected", info)); }
    void OnStoreDisconnected(ConnectionInfo info)
    {
        lines.push_back(Label("store disconnected", info));
    }
    void OnPairConnected(ConnectionInfo& info) { lines.push_back(Label("pair connected", info)); }
    void OnPairDisconnected(ConnectionInfo& info)
    {
        lines.push_back(Label("pair disconnected", info));
    }

    // The lines that start with `prefix`, in order.
    std::vector<std::string> Only(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }
};

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
