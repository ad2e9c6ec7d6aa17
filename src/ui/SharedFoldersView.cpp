#include "SharedFoldersView.h"

#include <algorithm>
#include <vector>

#include <QHeaderView>

#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

namespace {
enum Column
{
    PathColumn,
    AccessColumn
};
} // namespace

SharedFoldersView::SharedFoldersView(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(2);
    setHeaderLabels({"Folder", "Accessible to"});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(true);
    sortByColumn(PathColumn, Qt::AscendingOrder);
    header()->setSectionResizeMode(PathColumn, QHeaderView::Stretch);
}

SharedFoldersView::~SharedFoldersView()
{
    RemoveDataHandlers();
}

void SharedFoldersView::Init()
{
    using namespace SharingTypes;
    AddItemAddedHandler(this, SharedFolder, &SharedFoldersView::OnSharedFolderAdded);
    AddItemRemovedHandler(this, SharedFolder, &SharedFoldersView::OnSharedFolderRemoved);
    for (const char* access : {SharedPublic, SharedUserlist, ServerTypes::UserListGroup}) {
        AddPairConnectionHandler(this, SharedFolder, access, &SharedFoldersView::OnAccessChanged);
        AddPairDisconnectionHandler(this, SharedFolder, access,
                                    &SharedFoldersView::OnAccessChanged);
    }
    for (Item* root : g(SharedFolder))
        OnSharedFolderAdded(root);
}

QStringList SharedFoldersView::SelectedPaths() const
{
    QStringList paths;
    for (QTreeWidgetItem* row : selectedItems())
        paths << row->text(PathColumn);
    return paths;
}

QString SharedFoldersView::AccessText(ItemPtr root)
{
    QStringList parts;
    if (root.IsConnected(SharingTypes::SharedPublic))
        parts << "Everyone";
    if (root.IsConnected(SharingTypes::SharedUserlist))
        parts << "User List";
    std::vector<std::string> groups;
    for (Item* group : root.GetItems(ServerTypes::UserListGroup))
        groups.push_back(group->AsString());
    std::sort(groups.begin(), groups.end());
    for (const std::string& group : groups)
        parts << QString::fromStdString(group);
    return parts.join(", ");
}

void SharedFoldersView::OnSharedFolderAdded(Item* root)
{
    if (m_rows.count(root))
        return;
    auto* row = new QTreeWidgetItem;
    row->setText(PathColumn, QString::fromStdString(root->AsString()));
    m_rows.emplace(root, row);
    addTopLevelItem(row);
    UpdateRow(root);
}

void SharedFoldersView::OnSharedFolderRemoved(Item* root)
{
    auto it = m_rows.find(root);
    if (it == m_rows.end())
        return;
    delete it->second;
    m_rows.erase(it);
}

void SharedFoldersView::OnAccessChanged(ConnectionInfo& info)
{
    UpdateRow(info.item);
}

void SharedFoldersView::UpdateRow(Item* root)
{
    // A root being removed loses its links after its row is gone.
    auto it = m_rows.find(root);
    if (it != m_rows.end())
        it->second->setText(AccessColumn, AccessText(root));
}
