#pragma once

#include <set>

#include "EventHandler.h"

class Item;
class Type;
struct ConnectionInfo;

// Base of every object that registers store handlers. Withdrawing only flags
// the handlers; their events delete them later, so the object may be
// destroyed from inside one of its own handlers.
class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler();

    void RemoveDataHandlers();

    // Creates a handler bound to a member of `target` and records it as ours.
    template <class C, class A> EventHandler<C, A>* MakeHandler(C* target, void (C::*method)(A))
    {
        auto* handler = new EventHandler<C, A>(target, method);
        Register(handler);
        return handler;
    }

    // Shorthands for the registrations every manager makes.
    template <class C>
    void AddItemAddedHandler(C* target, const char* typeName, void (C::*method)(Item*));
    template <class C>
    void AddItemRemovedHandler(C* target, const char* typeName, void (C::*method)(Item*));
    template <class C>
    void AddConnectedHandler(C* target, const char* typeName, void (C::*method)(ConnectionInfo));
    template <class C>
    void AddDisconnectedHandler(C* target, const char* typeName, void (C::*method)(ConnectionInfo));
    template <class C>
    void AddPairConnectionHandler(C* target, const char* a, const char* b,
                                  void (C::*method)(ConnectionInfo&));
    template <class C>
    void AddPairDisconnectionHandler(C* target, const char* a, const char* b,
                                     void (C::*method)(ConnectionInfo&));

private:
    friend class EventHandlerRoot;
    void Register(EventHandlerRoot* handler);
    void Forget(EventHandlerRoot* handler) { m_handlers.erase(handler); }

    std::set<EventHandlerRoot*> m_handlers;
};
