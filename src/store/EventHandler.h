#pragma once

class DataHandler;

// Base of every handler an event holds. A handler whose `removed` flag is set
// is never called again; the event that holds it deletes it the next time it
// notifies, which lets an object withdraw (and even destroy itself) from inside
// one of its own handlers.
class EventHandlerRoot
{
public:
    virtual ~EventHandlerRoot();

    bool removed = false;

private:
    friend class DataHandler;
    DataHandler* m_owner = nullptr; // told when the handler is deleted
};

template <class A> class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(A arg) = 0;
};

// Calls a member function of a target object.
template <class C, class A> class EventHandler : public EventHandlerBase<A>
{
public:
    using Method = void (C::*)(A);
    EventHandler(C* target, Method method) : m_target(target), m_method(method) {}
    void Handle(A arg) override { (m_target->*m_method)(arg); }

private:
    C* m_target;
    Method m_method;
};
