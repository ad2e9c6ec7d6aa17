#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <QListView>
#include <QTest>
#include <QTreeWidget>

#include "store/Data.h"
#include "ui/DataDialog.h"
#include "ui/StoreItemListModel.h"

// Users, rooms, a flag and a room ticker written by a user, which leads
// back along the path.
class DataDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ListsTypesAndUnfoldsConnectionsOnDemand();
    void FollowsItemsAddedAndRemoved();
    void LargeSetsComeInBatchesAndByteOrder();

private:
    void ClickType(const QString& name);
    void ClickItem(const QString& text);
    QStringList ListedItems() const;
    static QStringList ChildTexts(const QTreeWidgetItem* row);

    std::unique_ptr<Data> m_store;
    Type* m_user = nullptr;
    Type* m_room = nullptr;
    Type* m_online = nullptr;
    Type* m_ticker = nullptr;
    DataDialog* m_dialog = nullptr;
};

void DataDialogTest::init()
{
    m_store = std::make_unique<Data>();
    m_user = m_store->NewType("user", true, false, false);
    m_room = m_store->NewType("room", false, false, false);
    m_online = m_store->NewType("is_online", false, true, false);
    m_ticker = m_store->NewType("ticker", false, false, false);
    m_user->RelateToType(m_room, MANY, MANY, false);
    m_user->RelateToType(m_online, MANY, ONE, false);
    m_room->RelateToType(m_ticker, ONE, MANY, false);
    m_ticker->RelateToType(m_user, MANY, ONE, false);

    Item* alice = m_user->NewItem("alice");
    Item* bob = m_user->NewItem("bob");
    m_user->NewItem("carol");
    Item* lobby = m_room->NewItem("lobby");
    alice->Connect(lobby);
    alice->Connect(m_room->NewItem("jazz"));
    bob->Connect(lobby);
    alice->NewItem("is_online");
    lobby->Connect(m_ticker->NewItem("welcome"))->Connect(bob);

    m_dialog = new DataDialog(m_store.get());
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
}

void DataDialogTest::cleanup()
{
    delete m_dialog; // before its store
    m_store.reset();
}

void DataDialogTest::ClickType(const QString& name)
{
    QTreeWidget* types = m_dialog->TypeList();
    const QList<QTreeWidgetItem*> rows = types->findItems(name, Qt::MatchExactly);
    QCOMPARE(rows.size(), 1);
    QTest::mouseClick(types->viewport(), Qt::LeftButton, {},
                      types->visualItemRect(rows.front()).center());
}

void DataDialogTest::ClickItem(const QString& text)
{
    QListView* items = m_dialog->ItemList();
    const QModelIndexList found = items->model()->match(items->model()->index(0, 0),
                                                        Qt::DisplayRole, text, 1, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    items->scrollTo(found.front());
    QTest::mouseClick(items->viewport(), Qt::LeftButton, {},
                      items->visualRect(found.front()).center());
}

QStringList DataDialogTest::ListedItems() const
{
    QStringList texts;
    const QAbstractItemModel* model = m_dialog->ItemList()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

QStringList DataDialogTest::ChildTexts(const QTreeWidgetItem* row)
{
    QStringList texts;
    for (int i = 0; i < row->childCount(); ++i)
        texts << row->child(i)->text(0);
    return texts;
}

void DataDialogTest::ListsTypesAndUnfoldsConnectionsOnDemand()
{
    ClickType("user");
    QCOMPARE(ListedItems(), (QStringList{"alice", "bob", "carol"}));

    QTreeWidget* tree = m_dialog->ItemTree();
    ClickItem("carol");
    QCOMPARE(tree->topLevelItem(0)->text(0), "[user] carol");

    // The tree follows the list's current item.
    QTest::keyClick(m_dialog->ItemList(), Qt::Key_Up);
    QCOMPARE(tree->topLevelItem(0)->text(0), "[user] bob");

    ClickItem("alice");
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QCOMPARE(root->text(0), "[user] alice");
    QCOMPARE(ChildTexts(root), (QStringList{"[is_online, null]", "[room] jazz", "[room] lobby"}));
    // The flag and jazz lead only back to users: nothing to open.
    QCOMPARE(root->child(0)->childCount(), 0);
    QCOMPARE(root->child(1)->childCount(), 0);
    QTreeWidgetItem* lobby = root->child(2);
    QCOMPARE(ChildTexts(lobby), QStringList{DataDialog::kUnloaded});
    tree->setCurrentItem(lobby);
    QTest::keyClick(tree, Qt::Key_Right);
    QVERIFY(lobby->isExpanded());
    // Bob is in the lobby, but users are already on the path.
    QCOMPARE(ChildTexts(lobby), QStringList{"[ticker] welcome"});
    // The ticker's author is a user and its room is the row above: closed.
    QCOMPARE(lobby->child(0)->childCount(), 0);
    // Opening a row a second time adds nothing.
    lobby->setExpanded(false);
    lobby->setExpanded(true);
    QCOMPARE(lobby->childCount(), 1);
}

void DataDialogTest::FollowsItemsAddedAndRemoved()
{
    ClickType("user");
    ClickItem("carol");
    QTreeWidget* tree = m_dialog->ItemTree();

    m_user->NewItem("dave");
    Item* bob = m_user->HasItem("bob").Get();
    bob->Remove();
    m_dialog->OnRefresh();
    QCOMPARE(ListedItems(), (QStringList{"alice", "carol", "dave"}));

    // Within one turn a removed item's row still reads as it was (a new item
    // may live at its address); one added and removed again never shows.
    m_user->HasItem("dave")->Remove();
    m_user->NewItem("zoe");
    m_user->NewItem("eve")->Remove();
    QCOMPARE(ListedItems(), (QStringList{"alice", "carol", "dave"}));
    m_dialog->OnRefresh();
    QCOMPARE(ListedItems(), (QStringList{"alice", "carol", "zoe"}));
    m_user->HasItem("zoe")->Remove();
    m_user->NewItem("dave");
    m_dialog->OnRefresh();
    QCOMPARE(ListedItems(), (QStringList{"alice", "carol", "dave"}));

    // A batch too large to insert row by row keeps the chosen item current.
    for (int i = 0; i < 100; ++i)
        m_user->NewItem(QString("b%1").arg(i, 3, 10, QChar('0')).toStdString());
    m_user->HasItem("alice")->Remove();
    m_dialog->OnRefresh();
    QCOMPARE(ListedItems().size(), 102);
    QCOMPARE(ListedItems().mid(99), (QStringList{"b099", "carol", "dave"}));
    QCOMPARE(m_dialog->ItemList()->currentIndex().data().toString(), "carol");

    // Rows of a removed item leave the tree; removing the shown item empties it.
    ClickType("room");
    ClickItem("lobby");
    QCOMPARE(tree->topLevelItem(0)->childCount(), 1); // the ticker; alice and bob are gone
    m_ticker->HasItem("welcome")->Remove();
    QCOMPARE(tree->topLevelItem(0)->childCount(), 0);
    m_room->HasItem("lobby")->Remove();
    QCOMPARE(tree->topLevelItemCount(), 0);
    m_dialog->OnRefresh();
    QCOMPARE(ListedItems(), QStringList{"jazz"});
}

void DataDialogTest::LargeSetsComeInBatchesAndByteOrder()
{
    const int total = 2 * static_cast<int>(DataDialog::kRowBatch) + 10;
    Type* file = m_store->NewType("file", false, false, false);
    file->RelateToType(m_user, MANY, ONE, false);
    Item* carol = m_user->HasItem("carol").Get();
    // Created in descending order so that store order is not value order.
    for (int i = total - 1; i >= 0; --i)
        carol->Connect(file->NewItem(QString("f%1").arg(i, 5, 10, QChar('0')).toStdString()));

    ClickType("user");
    ClickItem("carol");
    QTreeWidgetItem* root = m_dialog->ItemTree()->topLevelItem(0);
    QCOMPARE(root->childCount(), static_cast<int>(DataDialog::kRowBatch) + 1);
    QCOMPARE(root->child(0)->text(0), "[file] f00000");
    QTreeWidgetItem* more = root->child(root->childCount() - 1);
    QCOMPARE(more->text(0), QString("[file] %1 more").arg(total - DataDialog::kRowBatch));

    more->setExpanded(true);
    m_dialog->OnRefresh();
    QCOMPARE(root->childCount(), 2 * static_cast<int>(DataDialog::kRowBatch) + 1);
    more = root->child(root->childCount() - 1);
    QCOMPARE(more->text(0), "[file] 10 more");
    more->setExpanded(true);
    m_dialog->OnRefresh();
    QCOMPARE(root->childCount(), total);
    for (int i = 0; i < total; ++i)
        QCOMPARE(root->child(i)->text(0), QString("[file] f%1").arg(i, 5, 10, QChar('0')));

    // Texts that are prefixes of others, bytes above 0x7f, an embedded zero,
    // and texts alike for more than sixteen bytes.
    Type* path = m_store->NewType("path", false, false, false);
    std::vector<std::string> values = {"/srv/music/a",
                                       "/srv/music/a/b",
                                       "/srv/music/ab",
                                       std::string("/srv/\0x", 7),
                                       "/srv/music/\xc3\xa9t\xc3\xa9",
                                       "",
                                       "/srv/music/album 10",
                                       "/srv/music/album 9",
                                       "/srv/music/album 1"};
    std::sort(values.begin(), values.end());
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        path->NewItem(*it);

    ClickType("path");
    auto* model = qobject_cast<StoreItemListModel*>(m_dialog->ItemList()->model());
    QCOMPARE(model->rowCount(), static_cast<int>(values.size()));
    for (int row = 0; row < model->rowCount(); ++row)
        QCOMPARE(model->ItemAt(model->index(row))->AsString(), values[row]);
    QCOMPARE(model->IndexOf(path->HasItem("/srv/music/ab").Get()).row(),
             static_cast<int>(std::find(values.begin(), values.end(), "/srv/music/ab") -
                              values.begin()));
}

QTEST_MAIN(DataDialogTest)
#include "DataDialogTest.moc"
