#include "DataDialog.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QListView>
#include <QSplitter>
#include <QTreeWidget>

#include "StoreItemListModel.h"
#include "base/TextUtils.h"
#include "store/Data.h"

namespace {

enum TypeColumn
{
    TypeNameColumn,
    TypeKindColumn,
    TypeCountColumn
};

// Data tree rows carry what they stand for: an item, or for a row that holds
// back the rest of a large partner set, that set's type and how far it got.
constexpr int ItemRole = Qt::UserRole;
constexpr int MoreTypeRole = Qt::UserRole + 1;
constexpr int MoreOffsetRole = Qt::UserRole + 2;

Type* RowType(const QTreeWidgetItem* row, int role)
{
    return reinterpret_cast<Type*>(row->data(0, role).value<quintptr>());
}

QString RowText(const Item* item)
{
    const QString name = QString::fromStdString(item->GetType()->GetName());
    if (item->GetType()->IsNull())
        return "[" + name + ", null]";
    return "[" + name + "] " + QString::fromStdString(item->AsString());
}

QString CountText(std::size_t count)
{
    return count == 0 ? "0" : CommafyNumber(static_cast<long long>(count));
}

bool IsPlaceholder(const QTreeWidgetItem* row)
{
    return row->text(0) == DataDialog::kUnloaded && !DataDialog::RowItem(row) &&
           !RowType(row, MoreTypeRole);
}

bool ByValue(Item* a, Item* b)
{
    const int order = a->AsString().compare(b->AsString());
    return order != 0 ? order < 0 : a < b;
}

// Whether a row for `item` would show anything when opened.
bool HasConnectionsBeyond(const Item* item, const std::set<Type*>& excluded)
{
    for (const auto& [type, partners] : item->Connections())
        if (!excluded.count(type))
            return true;
    return false;
}

} // namespace

DataDialog::DataDialog(Data* store, QWidget* parent)
    : QDialog(parent), m_store(store), m_types(new QTreeWidget), m_items(new QListView),
      m_itemModel(new StoreItemListModel(this)), m_tree(new QTreeWidget)
{
    setWindowTitle("Data");
    setAttribute(Qt::WA_DeleteOnClose);
    QSplitter* panes = CreatePanes();
    for (Type* type : m_store->GetTypes())
        AddTypeRow(type);
    m_types->sortItems(TypeNameColumn, Qt::AscendingOrder);
    SizePanes(panes);

    // The store-wide events cover every type, including types declared
    // while the dialog is open.
    m_store->typeAddedEvent.AddHandler(MakeHandler(this, &DataDialog::OnTypeAdded));
    m_store->itemAddedEvent.AddHandler(MakeHandler(this, &DataDialog::OnItemAdded));
    m_store->itemRemovedEvent.AddHandler(MakeHandler(this, &DataDialog::OnItemRemoved));

    connect(m_types, &QTreeWidget::itemSelectionChanged, this,
            &DataDialog::OnTypeItemSelectionChanged);
    connect(m_items, &QListView::clicked, this, &DataDialog::OnItemClicked);
    // Walking the list with the keyboard shows each item in turn; the list
    // moving its current row while it takes in the store's changes does not.
    connect(m_items->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (!m_applyingChanges && index.isValid())
                    OnItemClicked(index);
            });
    connect(m_tree, &QTreeWidget::itemExpanded, this, &DataDialog::OnDataSubItemExpanded);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, &DataDialog::OnRefresh);
}

QSplitter* DataDialog::CreatePanes()
{
    m_types->setColumnCount(3);
    m_types->setHeaderLabels({"Type", "Kind", "#"});
    m_types->setRootIsDecorated(false);
    m_types->setSelectionMode(QAbstractItemView::SingleSelection);
    QHeaderView* header = m_types->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(TypeNameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(TypeKindColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(TypeCountColumn, QHeaderView::ResizeToContents);

    m_items->setModel(m_itemModel);
    m_items->setUniformItemSizes(true);
    m_items->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_tree->setColumnCount(1);
    m_tree->setHeaderHidden(true);

    auto* panes = new QSplitter(Qt::Horizontal);
    panes->addWidget(m_types);
    panes->addWidget(m_items);
    panes->addWidget(m_tree);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(panes);
    return panes;
}

void DataDialog::SizePanes(QSplitter* panes)
{
    // The type pane is wide enough for the longest type name and a
    // seven-digit count; the item list and the tree share the rest.
    const QFontMetrics metrics = m_types->fontMetrics();
    int nameWidth = metrics.horizontalAdvance("Type");
    for (Type* type : m_store->GetTypes())
        nameWidth =
            std::max(nameWidth, metrics.horizontalAdvance(QString::fromStdString(type->GetName())));
    const int typesWidth = nameWidth + metrics.horizontalAdvance("value    9,999,999") + 60;
    const int width = std::max(960, typesWidth + 600);
    resize(width, 560);
    panes->setSizes({typesWidth, (width - typesWidth) * 2 / 5, (width - typesWidth) * 3 / 5});
}

DataDialog::~DataDialog()
{
    RemoveDataHandlers();
}

Item* DataDialog::RowItem(const QTreeWidgetItem* row)
{
    return reinterpret_cast<Item*>(row->data(0, ItemRole).value<quintptr>());
}

void DataDialog::AddTypeRow(Type* type)
{
    auto* row = new QTreeWidgetItem;
    row->setText(TypeNameColumn, QString::fromStdString(type->GetName()));
    row->setText(TypeKindColumn, type->IsNull() ? "null   " : "value   ");
    row->setText(TypeCountColumn, CountText(type->ItemCount()));
    row->setTextAlignment(TypeCountColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setData(TypeNameColumn, Qt::UserRole,
                 QVariant::fromValue(reinterpret_cast<quintptr>(type)));
    m_typeRows[type] = row;
    m_types->addTopLevelItem(row);
}

Type* DataDialog::SelectedType() const
{
    const QList<QTreeWidgetItem*> selected = m_types->selectedItems();
    if (selected.size() != 1)
        return nullptr;
    return RowType(selected.front(), Qt::UserRole);
}

void DataDialog::OnTypeItemSelectionChanged()
{
    ClearTree();
    m_itemModel->SetType(SelectedType());
}

void DataDialog::OnItemClicked(const QModelIndex& index)
{
    Item* item = m_itemModel->ItemAt(index);
    if (!item)
        return;
    ClearTree();
    auto* root = new QTreeWidgetItem;
    root->setText(0, RowText(item));
    root->setData(0, ItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
    m_rowsByItem.emplace(item, root);
    m_tree->addTopLevelItem(root);
    AddItemSubnodes(item, root, {item->GetType()});
    root->setExpanded(true);
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* row)
{
    if (row->childCount() != 1 || !IsPlaceholder(row->child(0)))
        return;
    delete row->takeChild(0);
    if (RowType(row, MoreTypeRole)) {
        // The row being opened cannot be taken out while the view is still
        // busy opening it; the next batch replaces it right after.
        m_moreToLoad = row;
        ScheduleRefresh();
        return;
    }
    AddItemSubnodes(RowItem(row), row, PathTypes(row));
    m_tree->setCurrentItem(row);
}

void DataDialog::AddItemSubnodes(Item* item, QTreeWidgetItem* row, const std::set<Type*>& excluded)
{
    std::vector<Type*> types;
    for (const auto& [type, partners] : item->Connections())
        if (!excluded.count(type))
            types.push_back(type);
    std::sort(types.begin(), types.end(),
              [](Type* a, Type* b) { return a->GetName() < b->GetName(); });
    for (Type* type : types)
        row->addChildren(PartnerRows(item, type, 0, excluded));
}

QList<QTreeWidgetItem*> DataDialog::PartnerRows(Item* item, Type* type, std::size_t offset,
                                                const std::set<Type*>& excluded)
{
    QList<QTreeWidgetItem*> rows;
    const ItemSet* partners = item->Partners(type);
    if (!partners)
        return rows;
    // Only the batch shown is put in order, so a set of a million partners
    // costs one pass over it, not a full sort.
    std::vector<Item*> items(partners->begin(), partners->end());
    const std::size_t begin = std::min(offset, items.size());
    const std::size_t end = std::min(items.size(), begin + kRowBatch);
    if (begin > 0)
        std::nth_element(items.begin(), items.begin() + begin, items.end(), ByValue);
    std::partial_sort(items.begin() + begin, items.begin() + end, items.end(), ByValue);

    std::set<Type*> childExcluded = excluded;
    childExcluded.insert(type);
    for (std::size_t i = begin; i < end; ++i) {
        auto* row = new QTreeWidgetItem;
        row->setText(0, RowText(items[i]));
        row->setData(0, ItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(items[i])));
        if (HasConnectionsBeyond(items[i], childExcluded))
            row->addChild(new QTreeWidgetItem(QStringList{kUnloaded}));
        m_rowsByItem.emplace(items[i], row);
        rows << row;
    }
    if (end < items.size()) {
        auto* more = new QTreeWidgetItem;
        more->setText(0, QString("[%1] %2 more")
                             .arg(QString::fromStdString(type->GetName()),
                                  CommafyNumber(static_cast<long long>(items.size() - end))));
        more->setData(0, MoreTypeRole, QVariant::fromValue(reinterpret_cast<quintptr>(type)));
        more->setData(0, MoreOffsetRole, QVariant::fromValue(static_cast<qulonglong>(end)));
        more->addChild(new QTreeWidgetItem(QStringList{kUnloaded}));
        rows << more;
    }
    return rows;
}

void DataDialog::LoadMore(QTreeWidgetItem* more)
{
    QTreeWidgetItem* parent = more->parent();
    Item* item = RowItem(parent);
    Type* type = RowType(more, MoreTypeRole);
    const auto offset = static_cast<std::size_t>(more->data(0, MoreOffsetRole).toULongLong());
    const int at = parent->indexOfChild(more);
    delete parent->takeChild(at);
    parent->insertChildren(at, PartnerRows(item, type, offset, PathTypes(parent)));
}

std::set<Type*> DataDialog::PathTypes(QTreeWidgetItem* row) const
{
    std::set<Type*> types;
    for (; row; row = row->parent())
        if (Item* item = RowItem(row))
            types.insert(item->GetType());
    return types;
}

void DataDialog::OnItemAdded(Item* item)
{
    m_countsToUpdate.insert(item->GetType());
    if (item->GetType() == m_itemModel->GetType())
        m_itemModel->Add(item);
    ScheduleRefresh();
}

void DataDialog::OnItemRemoved(Item* item)
{
    m_countsToUpdate.insert(item->GetType());
    if (item->GetType() == m_itemModel->GetType())
        m_itemModel->Remove(item);
    std::vector<QTreeWidgetItem*> rows;
    auto [first, last] = m_rowsByItem.equal_range(item);
    for (auto it = first; it != last; ++it)
        rows.push_back(it->second);
    // An item never shows up below a row of itself (its type is on the
    // path), so none of these rows is inside another.
    for (QTreeWidgetItem* row : rows) {
        ForgetRows(row);
        delete row;
    }
    ScheduleRefresh();
}

void DataDialog::OnTypeAdded(Type* type)
{
    AddTypeRow(type);
    m_types->sortItems(TypeNameColumn, Qt::AscendingOrder);
}

void DataDialog::OnRefresh()
{
    for (Type* type : m_countsToUpdate)
        m_typeRows[type]->setText(TypeCountColumn, CountText(type->ItemCount()));
    m_countsToUpdate.clear();

    Item* current = m_itemModel->ItemAt(m_items->currentIndex());
    m_applyingChanges = true;
    if (m_itemModel->ApplyChanges() && current) {
        const QModelIndex index = m_itemModel->IndexOf(current);
        m_items->setCurrentIndex(index);
        m_items->scrollTo(index);
    }
    m_applyingChanges = false;

    if (QTreeWidgetItem* more = m_moreToLoad) {
        m_moreToLoad = nullptr;
        LoadMore(more);
    }
}

void DataDialog::ScheduleRefresh()
{
    if (!m_refresh.isActive())
        m_refresh.start();
}

void DataDialog::ForgetRows(QTreeWidgetItem* row)
{
    for (int i = 0; i < row->childCount(); ++i)
        ForgetRows(row->child(i));
    if (row == m_moreToLoad)
        m_moreToLoad = nullptr;
    Item* item = RowItem(row);
    if (!item)
        return;
    auto [first, last] = m_rowsByItem.equal_range(item);
    for (auto it = first; it != last; ++it) {
        if (it->second == row) {
            m_rowsByItem.erase(it);
            return;
        }
    }
}

void DataDialog::ClearTree()
{
    m_tree->clear();
    m_rowsByItem.clear();
    m_moreToLoad = nullptr;
}
