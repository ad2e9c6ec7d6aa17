#include <functional>
#include <stdexcept>
#include <vector>

#include <QtTest>

#include "StoreTestSupport.h"

namespace {

// Counts its calls; optionally withdraws another object's handlers, adds a
// handler for `newcomer` or throws when called.
class Counter : public DataHandler
{
public:
    int calls = 0;
    DataHandler* withdraw = nullptr;
    Event<Item*>* addTo = nullptr;
    Counter* newcomer = nullptr;
    bool throwing = false;
    std::function<void()> then;

    void On(Item*)
    {
        ++calls;
        if (withdraw)
            withdraw->RemoveDataHandlers();
        if (addTo && newcomer) {
            addTo->AddHandler(newcomer->MakeHandler(newcomer, &Counter::On));
            addTo = nullptr;
        }
        if (then) {
            auto once = std::move(then);
            then = nullptr;
            once();
        }
        if (throwing)
            throw std::runtime_error("handler failed");
    }
    void OnPair(ConnectionInfo&) { ++calls; }
};

// Deletes itself from inside its own handler, as a form closing on an event.
class SelfDestructing : public DataHandler
{
public:
    explicit SelfDestructing(int* calls) : m_calls(calls) {}
    void On(Item*)
    {
        ++*m_calls;
        delete this;
    }
    void OnPair(ConnectionInfo&)
    {
        ++*m_calls;
        delete this;
    }

private:
    int* m_calls;
};

// Handlers of one event are called in handler address order.
bool CalledBefore(EventHandlerRoot* a, EventHandlerRoot* b)
{
    return std::less<EventHandlerRoot*>()(a, b);
}

} // namespace

class StoreEventsTest : public QObject
{
    Q_OBJECT

private slots:
    void ItemEventsFireTypeThenStore()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        EventLog log;
        log.WatchType(user);
        log.WatchStore(data);

        Item* alice = user->NewItem("alice");
        alice->Remove();
        QVERIFY(SameLines(log.lines, {"type added user=alice", "store added user=alice",
                                      "type removed user=alice", "store removed user=alice"}));
    }

    void FlaggedHandlerIsSkippedAndDeleted()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Event<Item*>& event = flag->itemAddedEvent;

        // A handler that withdraws itself.
        Counter self;
        self.withdraw = &self;
        event.AddHandler(self.MakeHandler(&self, &Counter::On));
        flag->NewItem();
        QCOMPARE(self.calls, 1);
        QCOMPARE(event.HandlerCount(), std::size_t(1)); // flagged, deleted later
        flag->NewItem();
        QCOMPARE(self.calls, 1);
        QCOMPARE(event.HandlerCount(), std::size_t(0));

        // A handler that withdraws another one: that one is not called once
        // flagged, whether or not this pass had reached it yet.
        Counter first, second;
        first.withdraw = &second;
        auto* firstHandler = first.MakeHandler(&first, &Counter::On);
        auto* secondHandler = second.MakeHandler(&second, &Counter::On);
        event.AddHandler(firstHandler);
        event.AddHandler(secondHandler);
        const int secondExpected = CalledBefore(secondHandler, firstHandler) ? 1 : 0;
        flag->NewItem();
        flag->NewItem();
        QCOMPARE(first.calls, 2);
        QCOMPARE(second.calls, secondExpected);
        QCOMPARE(event.HandlerCount(), std::size_t(1));
    }

    void HandlerAddedDuringNotificationWaitsForNextOne()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Counter adder, newcomer;
        adder.addTo = &flag->itemAddedEvent;
        adder.newcomer = &newcomer;
        flag->itemAddedEvent.AddHandler(adder.MakeHandler(&adder, &Counter::On));

        flag->NewItem();
        QCOMPARE(newcomer.calls, 0);
        QCOMPARE(flag->itemAddedEvent.HandlerCount(), std::size_t(2));
        flag->NewItem();
        QCOMPARE(newcomer.calls, 1);
        QCOMPARE(adder.calls, 2);
    }

    void ObjectMayDestroyItselfInItsHandler()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Type* user = data.NewType("user", false, false, true);
        user->RelateToType(flag, MANY, ONE, false);

        int itemCalls = 0;
        auto* form = new SelfDestructing(&itemCalls);
        flag->itemAddedEvent.AddHandler(form->MakeHandler(form, &SelfDestructing::On));
        flag->NewItem();
        flag->NewItem();
        flag->NewItem();
        QCOMPARE(itemCalls, 1);
        QCOMPARE(flag->itemAddedEvent.HandlerCount(), std::size_t(0));

        int pairCalls = 0;
        auto* watcher = new SelfDestructing(&pairCalls);
        data.AddConnectionEventHandler(user, flag,
                                       watcher->MakeHandler(watcher, &SelfDestructing::OnPair));
        user->NewItem("alice")->NewItem("is_online");
        user->NewItem("bob")->NewItem("is_online");
        user->NewItem("carol")->NewItem("is_online");
        QCOMPARE(pairCalls, 1);
    }

    void DestroyedObjectIsNeverCalled()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        int calls = 0;
        {
            Counter gone;
            gone.then = [&] { calls = -1; };
            flag->itemAddedEvent.AddHandler(gone.MakeHandler(&gone, &Counter::On));
        }
        flag->NewItem();
        flag->NewItem();
        QCOMPARE(calls, 0);
        QCOMPARE(flag->itemAddedEvent.HandlerCount(), std::size_t(0));
    }

    // A nested pass of the same event must not free a handler that the outer
    // pass still has to look at.
    void NestedPassKeepsFlaggedHandlerForOuterPass()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Counter outer, victim;
        auto* outerHandler = outer.MakeHandler(&outer, &Counter::On);
        auto* victimHandler = victim.MakeHandler(&victim, &Counter::On);
        data.itemAddedEvent.AddHandler(outerHandler);
        data.itemAddedEvent.AddHandler(victimHandler);
        outer.then = [&] {
            victim.RemoveDataHandlers();
            flag->NewItem(); // nested notification of the same store event
        };
        const int victimExpected = CalledBefore(victimHandler, outerHandler) ? 1 : 0;

        flag->NewItem();
        QCOMPARE(outer.calls, 2);
        QCOMPARE(victim.calls, victimExpected);

        flag->NewItem();
        QCOMPARE(outer.calls, 3);
        QCOMPARE(victim.calls, victimExpected);
        QCOMPARE(data.itemAddedEvent.HandlerCount(), std::size_t(1));
    }

    void HandlerExceptionStopsThePass()
    {
        Data data;
        Type* flag = data.NewType("is_online", false, true, false);
        Counter thrower, bystander;
        thrower.throwing = true;
        auto* throwerHandler = thrower.MakeHandler(&thrower, &Counter::On);
        auto* bystanderHandler = bystander.MakeHandler(&bystander, &Counter::On);
        flag->itemAddedEvent.AddHandler(throwerHandler);
        flag->itemAddedEvent.AddHandler(bystanderHandler);

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, flag->NewItem());
        QCOMPARE(thrower.calls, 1);
        QCOMPARE(bystander.calls, CalledBefore(bystanderHandler, throwerHandler) ? 1 : 0);
        QCOMPARE(flag->ItemCount(), std::size_t(1));

        // The event recovers: later passes run and clear flagged handlers.
        thrower.throwing = false;
        bystander.RemoveDataHandlers();
        flag->NewItem();
        QCOMPARE(thrower.calls, 2);
        QCOMPARE(flag->itemAddedEvent.HandlerCount(), std::size_t(1));
    }

    void PairHandlerNeedsRelatedTypes()
    {
        Data data;
        Type* user = data.NewType("user", false, false, true);
        Type* room = data.NewType("room", false, false, true);
        Counter counter;
        auto* handler = counter.MakeHandler(&counter, &Counter::OnPair);
        QVERIFY(ThrowsPointer<NotRelatedException>(
            [&] { data.AddConnectionEventHandler(user, room, handler); }));
        QVERIFY(ThrowsPointer<NotRelatedException>(
            [&] { data.AddDisconnectionEventHandler(room, user, handler); }));
        delete handler;

        // Once related, a pair handler hears only its own pair.
        Type* flag = data.NewType("is_online", false, true, false);
        user->RelateToType(room, MANY, MANY, false);
        user->RelateToType(flag, MANY, ONE, false);
        data.AddConnectionEventHandler(room, user, counter.MakeHandler(&counter, &Counter::OnPair));
        Item* alice = user->NewItem("alice");
        alice->NewItem("is_online");
        QCOMPARE(counter.calls, 0);
        alice->Connect(room->NewItem("lobby"));
        QCOMPARE(counter.calls, 1);
    }

    // The registration shorthands every manager uses act on the program's store.
    void ShorthandsRegisterOnTheProgramStore()
    {
        Type* user = d.NewType("shorthand_user", false, false, true);
        Type* room = d.NewType("shorthand_room", false, false, true);
        user->RelateToType(room, MANY, MANY, false);

        class Manager : public DataHandler
        {
        public:
            std::vector<std::string> seen;
            void OnAdded(Item* item) { seen.push_back("added " + Label(item)); }
            void OnRemoved(Item* item) { seen.push_back("removed " + Label(item)); }
            void OnConnected(ConnectionInfo info) { seen.push_back(Label("connected", info)); }
            void OnDisconnected(ConnectionInfo info)
            {
                seen.push_back(Label("disconnected", info));
            }
            void OnPair(ConnectionInfo& info) { seen.push_back(Label("pair", info)); }
            void OnPairGone(ConnectionInfo& info) { seen.push_back(Label("pair gone", info)); }
        } manager;
        manager.AddItemAddedHandler(&manager, "shorthand_user", &Manager::OnAdded);
        manager.AddItemRemovedHandler(&manager, "shorthand_user", &Manager::OnRemoved);
        manager.AddConnectedHandler(&manager, "shorthand_user", &Manager::OnConnected);
        manager.AddDisconnectedHandler(&manager, "shorthand_user", &Manager::OnDisconnected);
        manager.AddPairConnectionHandler(&manager, "shorthand_room", "shorthand_user",
                                         &Manager::OnPair);
        manager.AddPairDisconnectionHandler(&manager, "shorthand_room", "shorthand_user",
                                            &Manager::OnPairGone);
        QVERIFY(ThrowsPointer<TypeNotFoundException>(
            [&] { manager.AddItemAddedHandler(&manager, "shorthand_nope", &Manager::OnAdded); }));

        Item* alice = user->NewItem("alice");
        Item* lobby = room->NewItem("lobby");
        alice->Connect(lobby);
        alice->Remove();
        QVERIFY(SameLines(manager.seen, {
                                            "added shorthand_user=alice",
                                            "connected shorthand_user=alice shorthand_room=lobby",
                                            "pair shorthand_room=lobby shorthand_user=alice",
                                            "removed shorthand_user=alice",
                                            "disconnected shorthand_user=alice "
                                            "shorthand_room=lobby",
                                            "pair gone shorthand_room=lobby shorthand_user=alice",
                                        }));

        manager.RemoveDataHandlers();
        user->NewItem("bob")->Connect(lobby);
        QCOMPARE(manager.seen.size(), std::size_t(6));
    }
};

QTEST_GUILESS_MAIN(StoreEventsTest)
#include "StoreEventsTest.moc"
