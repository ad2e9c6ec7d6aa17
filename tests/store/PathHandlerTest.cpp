#include <string>
#include <vector>

#include <QtTest>

#include "StoreTestSupport.h"

namespace {

// The user-list corner of the program's schema, in a store of its own.
struct Schema
{
    Data data;
    Type* user = data.NewType("user", false, false, true);
    Type* listed = data.NewType("in_user_list", false, true, false);
    Type* online = data.NewType("is_online", false, true, false);
    Type* banned = data.NewType("banned", false, true, false);
    Type* download = data.NewType("download", false, false, true);
    Type* global = data.NewType("global", false, false, true);
    Type* value = data.NewType("global_value", false, false, true);

    Schema()
    {
        user->RelateToType(listed, MANY, ONE, false);
        user->RelateToType(online, MANY, ONE, false);
        user->RelateToType(banned, MANY, ONE, false);
        download->RelateToType(user, MANY, ONE, false);
        global->RelateToType(value, MANY, ONE, false);
    }

    Item* User(const char* name, bool inList)
    {
        Item* item = user->NewItem(name);
        if (inList)
            item->NewItem("in_user_list");
        return item;
    }
};

// Records each root it is called with, and whether that root (when a user)
// was online at the time.
class PathRecorder : public DataHandler
{
public:
    std::vector<std::string> calls;
    std::vector<bool> onlineAtCall;
    bool destroySelf = false;
    int* tally = nullptr; // survives the recorder when it destroys itself

    void OnPath(Item* root)
    {
        if (tally)
            ++*tally;
        calls.push_back(Label(root));
        if (root->GetType()->GetName() == "user")
            onlineAtCall.push_back(root->IsConnected("is_online"));
        if (destroySelf)
            delete this;
    }

    void Register(Data& data, PathNode* root)
    {
        data.AddPathEventHandler(root, MakeHandler(this, &PathRecorder::OnPath));
    }
};

// user, with a condition that it is in the user list and a trigger on is_online.
PathNode* ListedUserGoing(Data& data, PathNodeRelation trigger)
{
    auto* root = new PathNode(&data, "user");
    new PathNode(root, "in_user_list", PathConnected);
    new PathNode(root, "is_online", trigger);
    return root;
}

} // namespace

class PathHandlerTest : public QObject
{
    Q_OBJECT

private slots:
    void ConnectTriggerNeedsTheCondition()
    {
        Schema s;
        Item* early = s.User("early", true);
        early->NewItem("is_online");
        PathRecorder recorder;
        recorder.Register(s.data, ListedUserGoing(s.data, PathTriggerOnConnect));
        QVERIFY(recorder.calls.empty()); // nothing fires for what already holds

        Item* alice = s.User("alice", true);
        Item* flag = alice->NewItem("is_online");
        QVERIFY(SameLines(recorder.calls, {"user=alice"}));

        s.User("bob", false)->NewItem("is_online");
        QCOMPARE(recorder.calls.size(), std::size_t(1));

        // Connected from the flag's side the pattern is the same.
        Item* carol = s.User("carol", true);
        flag->Connect(carol);
        QVERIFY(SameLines(recorder.calls, {"user=alice", "user=carol"}));

        // A condition edge never triggers: joining the list while online.
        Item* dave = s.User("dave", false);
        dave->NewItem("is_online");
        dave->NewItem("in_user_list");
        QCOMPARE(recorder.calls.size(), std::size_t(2));
        QCOMPARE(recorder.onlineAtCall, (std::vector<bool>{true, true}));
    }

    void DisconnectTriggerRunsAfterTheDisconnection()
    {
        Schema s;
        Item* alice = s.User("alice", true);
        Item* bob = s.User("bob", false);
        Item* carol = s.User("carol", true);
        alice->NewItem("is_online");
        bob->NewItem("is_online");
        PathRecorder recorder;
        recorder.Register(s.data, ListedUserGoing(s.data, PathTriggerOnDisconnect));

        carol->NewItem("is_online");
        QVERIFY(recorder.calls.empty());

        alice->Disconnect("is_online");
        bob->Disconnect("is_online");
        QVERIFY(SameLines(recorder.calls, {"user=alice"}));
        QCOMPARE(recorder.onlineAtCall, std::vector<bool>{false});

        // Removing the shared flag takes every listed user offline.
        s.online->GetGlobalNullItem()->Remove();
        QVERIFY(SameLines(recorder.calls, {"user=alice", "user=carol"}));
    }

    void FixedRootMatchesOnlyItsItem()
    {
        Schema s;
        Item* username = s.global->NewItem("username");
        Item* password = s.global->NewItem("password");
        username->Connect(s.value->NewItem("nobody"));
        PathRecorder recorder;
        auto* root = new PathNode(username);
        new PathNode(root, "global_value", PathConnectedTrigger);
        recorder.Register(s.data, root);
        QVERIFY(recorder.calls.empty());

        username->Connect(s.value->NewItem("alice"));
        QVERIFY(SameLines(recorder.calls, {"global=username"}));
        password->Connect(s.value->NewItem("secret"));
        QCOMPARE(recorder.calls.size(), std::size_t(1));
        s.value->NewItem("bob")->Connect(username);
        QVERIFY(SameLines(recorder.calls, {"global=username", "global=username"}));
        // A relation 0 edge does not trigger on disconnection.
        username->Disconnect("global_value");
        QCOMPARE(recorder.calls.size(), std::size_t(2));
    }

    void ConditionsAreCheckedUpTheTree()
    {
        // download -1- user -1- in_user_list, with user -2- is_online:
        // a user coming online calls the handler with the download.
        Schema s;
        auto* root = new PathNode(&s.data, "download");
        auto* user = new PathNode(root, "user", PathConnected);
        new PathNode(user, "in_user_list", PathConnected);
        new PathNode(user, "is_online", PathTriggerOnConnect);
        PathRecorder recorder;
        recorder.Register(s.data, root);

        Item* alice = s.User("alice", true);
        s.download->NewItem("song.mp3")->Connect(alice);
        Item* carol = s.User("carol", false);
        s.download->NewItem("other.mp3")->Connect(carol);
        Item* bob = s.User("bob", true); // listed, no download

        alice->NewItem("is_online");
        carol->NewItem("is_online");
        bob->NewItem("is_online");
        QVERIFY(SameLines(recorder.calls, {"download=song.mp3"}));
    }

    void NegativeLeafConditionExcludesFlaggedItems()
    {
        Schema s;
        auto* root = new PathNode(&s.data, "user");
        new PathNode(root, "banned", PathNotConnected);
        new PathNode(root, "is_online", PathTriggerOnConnect);
        PathRecorder recorder;
        recorder.Register(s.data, root);

        Item* dave = s.User("dave", false);
        dave->NewItem("banned");
        dave->NewItem("is_online");
        s.User("carol", false)->NewItem("is_online");
        QVERIFY(SameLines(recorder.calls, {"user=carol"}));
    }

    void WithdrawnPathHandlerGoesAtItsNextNotification()
    {
        Schema s;
        PathRecorder recorder;
        recorder.Register(s.data, ListedUserGoing(s.data, PathTriggerOnConnect));
        QCOMPARE(s.data.PathHandlerCount(), std::size_t(1));

        recorder.RemoveDataHandlers();
        QCOMPARE(s.data.PathHandlerCount(), std::size_t(1));
        s.User("alice", true)->NewItem("is_online");
        QVERIFY(recorder.calls.empty());
        QCOMPARE(s.data.PathHandlerCount(), std::size_t(0));

        // An owner may also destroy itself from inside its path handler.
        int formCalls = 0;
        auto* form = new PathRecorder;
        form->destroySelf = true;
        form->tally = &formCalls;
        form->Register(s.data, ListedUserGoing(s.data, PathTriggerOnConnect));
        s.User("bob", true)->NewItem("is_online");
        s.User("carol", true)->NewItem("is_online");
        QCOMPARE(formCalls, 1);
        QCOMPARE(s.data.PathHandlerCount(), std::size_t(0));
    }

    void PatternNamesMustBeRegistered()
    {
        Schema s;
        QVERIFY(ThrowsPointer<TypeNotFoundException>([&] { new PathNode(&s.data, "nope"); }));
        auto* root = new PathNode(&s.data, "user");
        QVERIFY(ThrowsPointer<TypeNotFoundException>(
            [&] { new PathNode(root, "nope", PathConnected); }));
        QVERIFY(root->GetChildren().empty());
        delete root;
    }
};

QTEST_GUILESS_MAIN(PathHandlerTest)
#include "PathHandlerTest.moc"
