#include "ui/WishListView.h"

#include <vector>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "search/WishListSearcher.h"
#include "search/WishListTypes.h"
#include "store/ConnectionInfo.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/SearchFormTypes.h"

using namespace WishListTypes;

WishListView::WishListView(QWidget* parent)
    : QWidget(parent), m_list(new QTreeWidget(this)), m_field(new QLineEdit(this))
{
    m_list->setObjectName("wish_list");
    m_list->setHeaderLabels({"On", "Wish List Search"});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_field->setObjectName("wish_list_field");
    m_field->setPlaceholderText("Text to search for again and again");
    auto* add = new QPushButton("Add to Wish List", this);
    add->setObjectName("add_to_wish_list");
    connect(add, &QPushButton::clicked, this, &WishListView::OnAddToWishListClicked);
    connect(m_field, &QLineEdit::returnPressed, this, &WishListView::OnAddToWishListClicked);

    auto* top = new QHBoxLayout;
    top->addWidget(m_field, 1);
    top->addWidget(add);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(top);
    layout->addWidget(m_list);
    layout->addWidget(new QLabel("Ticked searches are sent again, one at a time, as often as the "
                                 "server allows; their results open a tab when they arrive.",
                                 this));
}

WishListView::~WishListView()
{
    RemoveDataHandlers();
}

void WishListView::Init()
{
    for (Item* entry : d.GetType(WishListItem)->GetItems().SortAlphabetic(true))
        OnWishListItemAdded(entry);
    AddItemAddedHandler(this, WishListItem, &WishListView::OnWishListItemAdded);
    AddItemRemovedHandler(this, WishListItem, &WishListView::OnWishListItemRemoved);
    AddPairConnectionHandler(this, WishListItemEnabled, WishListItem,
                             &WishListView::OnWishListItemEnabled);
    AddPairDisconnectionHandler(this, WishListItemEnabled, WishListItem,
                                &WishListView::OnWishListItemDisabled);
}

void WishListView::OnAddToWishListClicked()
{
    const std::string text = m_field->text().trimmed().toUtf8().toStdString();
    if (text.empty() || WishListSearcher::FindEntry(text))
        return;
    WishListSearcher::AddEntry(text);
    m_field->clear();
}

void WishListView::OnWishListItemAdded(Item* entry)
{
    if (m_rows.count(entry))
        return;
    auto* row = new QTreeWidgetItem;
    row->setText(1, QString::fromStdString(entry->AsString()));
    m_list->addTopLevelItem(row);
    m_list->sortItems(1, Qt::AscendingOrder);
    auto* box = new QCheckBox(m_list);
    box->setChecked(WishListSearcher::IsEnabled(entry));
    m_list->setItemWidget(row, 0, box);
    connect(box, &QCheckBox::stateChanged, this, &WishListView::OnWishListItemCheckStateChanged);
    m_rows[entry] = row;
    m_boxes[box] = entry;

    ItemPtr node = d.GetType(SearchFormTypes::WishListNode)->NewItem(ObjectValue(row));
    node.Connect(entry);
    node.Connect(d.GetType(SearchFormTypes::WishListNodeCheckbox)->NewItem(ObjectValue(box)));
}

void WishListView::OnWishListItemRemoved(Item* entry)
{
    auto found = m_rows.find(entry);
    if (found == m_rows.end())
        return;
    QTreeWidgetItem* row = found->second;
    m_rows.erase(found);
    if (ItemPtr node = d.GetType(SearchFormTypes::WishListNode)->HasItem(ObjectValue(row))) {
        if (ItemPtr box = node[SearchFormTypes::WishListNodeCheckbox]) {
            m_boxes.erase(ObjectFromItem<QCheckBox>(box));
            box.Remove();
        }
        node.Remove();
    }
    delete row;
}

void WishListView::OnWishListItemEnabled(ConnectionInfo& info)
{
    ShowEnabled(info.other, true);
}

void WishListView::OnWishListItemDisabled(ConnectionInfo& info)
{
    ShowEnabled(info.other, false);
}

void WishListView::ShowEnabled(Item* entry, bool enabled)
{
    if (QCheckBox* box = CheckBoxOf(entry->AsString())) {
        const QSignalBlocker quiet(box);
        box->setChecked(enabled);
    }
}

void WishListView::OnWishListItemCheckStateChanged(int state)
{
    auto found = m_boxes.find(qobject_cast<QCheckBox*>(sender()));
    if (found != m_boxes.end())
        WishListSearcher::SetEnabled(found->second, state == Qt::Checked);
}

QCheckBox* WishListView::CheckBoxOf(const std::string& text) const
{
    for (const auto& [box, entry] : m_boxes)
        if (entry->AsString() == text)
            return box;
    return nullptr;
}

ItemPtr WishListView::SelectedEntry() const
{
    QTreeWidgetItem* current = m_list->currentItem();
    for (const auto& [entry, row] : m_rows)
        if (row == current && row->isSelected())
            return entry;
    return ItemPtr();
}

void WishListView::RemoveSelectedEntry()
{
    if (ItemPtr entry = SelectedEntry())
        entry.Remove();
}

void WishListView::SetAllEnabled(bool enabled)
{
    const ItemSet entries = d.GetType(WishListItem)->GetItems();
    for (Item* entry : std::vector<Item*>(entries.begin(), entries.end()))
        WishListSearcher::SetEnabled(entry, enabled);
}
