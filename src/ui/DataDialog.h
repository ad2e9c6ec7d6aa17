#pragma once

#include <cstddef>
#include <set>
#include <unordered_map>
#include <vector>

#include <QDialog>
#include <QList>
#include <QTimer>

#include "store/DataHandler.h"

class Data;
class Item;
class QListView;
class QModelIndex;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class StoreItemListModel;
class Type;

// A live look into the store, for finding out what the running program holds:
// every type with its item count, the items of the selected type, and the
// items connected to a chosen item as a tree unfolded one row at a time. It
// never changes the store.
//
// The dialog deletes itself when closed; whoever opens it keeps a guarded
// pointer and makes a new one once it is gone.
class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    // Partners of one type are shown this many rows at a time; the rest wait
    // behind a row that loads the next batch when opened.
    static constexpr std::size_t kRowBatch = 500;
    static constexpr const char* kUnloaded = "~~unloaded~~";

    explicit DataDialog(Data* store, QWidget* parent = nullptr);
    ~DataDialog() override;

    // Adds a row below `row` for every item connected to `item` whose type is
    // not in `excluded`, grouped by type name, in value order.
    void AddItemSubnodes(Item* item, QTreeWidgetItem* row, const std::set<Type*>& excluded);

    // The parts, for tests and for whoever wants to point at a row.
    QTreeWidget* TypeList() const { return m_types; }
    QListView* ItemList() const { return m_items; }
    QTreeWidget* ItemTree() const { return m_tree; }
    // The item a data tree row stands for (null for placeholder rows).
    static Item* RowItem(const QTreeWidgetItem* row);

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(const QModelIndex& index);
    void OnDataSubItemExpanded(QTreeWidgetItem* row);
    // Applies the changes gathered from the store since the last call; runs
    // once per turn of the event loop while the store is changing.
    void OnRefresh();

private:
    void OnItemAdded(Item* item);
    void OnItemRemoved(Item* item);
    void OnTypeAdded(Type* type);

    QSplitter* CreatePanes();
    void SizePanes(QSplitter* panes);
    void AddTypeRow(Type* type);
    Type* SelectedType() const;
    // Rows for the partners of `item` of one type, from `offset` on, one batch.
    QList<QTreeWidgetItem*> PartnerRows(Item* item, Type* type, std::size_t offset,
                                        const std::set<Type*>& excluded);
    void LoadMore(QTreeWidgetItem* more);
    std::set<Type*> PathTypes(QTreeWidgetItem* row) const;
    void ForgetRows(QTreeWidgetItem* row);
    void ClearTree();
    void ScheduleRefresh();

    Data* m_store;
    QTreeWidget* m_types;
    QListView* m_items;
    StoreItemListModel* m_itemModel;
    QTreeWidget* m_tree;
    std::unordered_map<Type*, QTreeWidgetItem*> m_typeRows;
    std::set<Type*> m_countsToUpdate;
    // Every data tree row by the item it shows, to take rows out with their item.
    std::unordered_multimap<Item*, QTreeWidgetItem*> m_rowsByItem;
    // A "more" row opened by the user, replaced by its next batch on refresh.
    QTreeWidgetItem* m_moreToLoad = nullptr;
    QTimer m_refresh;
    bool m_applyingChanges = false;
};
