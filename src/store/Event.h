#pragma once

#include <set>
#include <vector>

#include "EventHandler.h"

// An ordered set of handlers, called synchronously by Notify. The event owns
// its handlers. Handlers may be added or flagged while a notification runs:
// each pass walks its own copy of the set, so a handler added during a pass is
// first called on the next one, and a flagged handler is skipped and deleted.
// Deletion waits for the outermost pass, because a nested pass of the same
// event must not free a handler the outer pass still holds in its copy.
template <class A> class Event
{
public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event()
    {
        for (EventHandlerBase<A>* handler : m_handlers)
            delete handler;
    }

    void AddHandler(EventHandlerBase<A>* handler) { m_handlers.insert(handler); }
    bool IsEmpty() const { return m_handlers.empty(); }
    std::size_t HandlerCount() const { return m_handlers.size(); }

    void Notify(A& arg)
    {
        if (m_handlers.empty())
            return;
        std::vector<EventHandlerBase<A>*> pass(m_handlers.begin(), m_handlers.end());
        ++m_depth;
        for (EventHandlerBase<A>* handler : pass) {
            if (!handler->removed) {
                try {
                    handler->Handle(arg);
                } catch (...) {
                    --m_depth;
                    throw;
                }
            } else if (m_depth == 1 && m_handlers.erase(handler)) {
                delete handler;
            }
        }
        --m_depth;
    }

private:
    std::set<EventHandlerBase<A>*> m_handlers;
    int m_depth = 0;
};
