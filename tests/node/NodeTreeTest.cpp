#include <memory>
#include <vector>

#include <QTest>

#include "LabServerProcess.h"
#include "NodeProcess.h"

// Four headless nodes and the lab server in tree mode: the nodes find their
// parents among each other, and a search typed at one reaches the three
// others down the tree, each exactly once.
class NodeTreeTest : public QObject
{
    Q_OBJECT

private slots:
    void SearchReachesEveryNodeThroughTheTree();
};

namespace {

// The parent a node reports, "-" when it has none.
QString ParentOf(NodeProcess& node)
{
    node.Send("dnet");
    const QStringList fields = node.WaitForPrefix("dnet\t").split('\t');
    return fields.size() == 4 ? fields[1] : QString();
}

} // namespace

void NodeTreeTest::SearchReachesEveryNodeThroughTheTree()
{
    LabServerProcess server;
    QVERIFY(server.Start({"--tree"}));
    std::vector<std::unique_ptr<NodeProcess>> nodes;
    for (int n = 1; n <= 4; ++n) {
        nodes.push_back(std::make_unique<NodeProcess>());
        NodeProcess& node = *nodes.back();
        QVERIFY(node.Start(server.Port()));
        node.Send("ports 0 0");
        QVERIFY(!node.WaitForPrefix("listening\t").isEmpty());
        node.Send(QString("login user%1 secret").arg(n));
        QVERIFY(node.WaitFor("connected"));
    }

    // A node adopts the candidate that first passes it a search, so the
    // tree forms as searches flow; keep searching until every node but the
    // first has a parent.
    bool formed = false;
    for (int round = 0; round < 20 && !formed; ++round) {
        nodes[0]->Send(QString("search warm-up %1").arg(round));
        QTest::qWait(200);
        formed = true;
        for (std::size_t n = 1; n < nodes.size(); ++n)
            formed = formed && ParentOf(*nodes[n]) != "-";
    }
    QVERIFY(formed);
    QCOMPARE(ParentOf(*nodes[0]), QString("-"));

    // Forget everything the warm-up printed, then search from a leaf.
    for (auto& node : nodes) {
        node->Send("no-op marker");
        QVERIFY(node->WaitFor("error\tno-op marker"));
        for (const QString& event : node->Pending())
            QVERIFY(node->WaitFor(event, 0));
    }
    nodes[3]->Send("search needle");
    QVERIFY(nodes[3]->WaitFor("search-started\t1\tneedle"));
    for (int n = 0; n < 3; ++n)
        QVERIFY(nodes[n]->WaitFor("dnet-search\tuser4\t1\tneedle"));

    // Each heard it once: a second copy would have come right behind.
    QTest::qWait(300);
    for (int n = 0; n < 3; ++n)
        QVERIFY(!nodes[n]->Pending().contains("dnet-search\tuser4\t1\tneedle"));
    for (auto& node : nodes)
        QVERIFY(node->Quit());
}

QTEST_GUILESS_MAIN(NodeTreeTest)
#include "NodeTreeTest.moc"
