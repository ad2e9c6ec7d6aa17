#pragma once

#include <string>
#include <unordered_map>

#include <QStringList>
#include <QTreeWidget>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Item;
class QTreeWidgetItem;
struct ConnectionInfo;

// The list of our shared root folders: one row per "shared_folder" with its
// path and who may see it. It follows the store, so roots added or removed
// anywhere (the add dialog, a loaded snapshot, unsharing) show up at once.
class SharedFoldersView : public QTreeWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharedFoldersView(QWidget* parent = nullptr);
    ~SharedFoldersView() override;

    // Needs the sharing types; lists the roots that already exist and
    // watches for changes from then on.
    void Init();

    // The paths of the selected rows, as shown.
    QStringList SelectedPaths() const;

    // Who may see a root: "Everyone", "User List" and the names of its
    // user-list groups in alphabetical order, joined by ", ".
    static QString AccessText(ItemPtr root);

private:
    void OnSharedFolderAdded(Item* root);
    void OnSharedFolderRemoved(Item* root);
    void OnAccessChanged(ConnectionInfo& info);
    void UpdateRow(Item* root);

    std::unordered_map<Item*, QTreeWidgetItem*> m_rows;
};
