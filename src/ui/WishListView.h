#pragma once

#include <map>
#include <string>

#include <QWidget>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
struct ConnectionInfo;

// The wish list as a person keeps it: one row per entry with a check box
// that switches the entry on or off, a field to add entries and the
// commands of the tool bar to remove them and switch all at once. Rows
// follow the store, so entries changed elsewhere (a result tab's "Add to
// Wishlist", a loaded snapshot) show up the same way.
class WishListView : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit WishListView(QWidget* parent = nullptr);
    ~WishListView() override;

    // Shows the entries in the store and follows them from then on.
    void Init();

    QTreeWidget* List() const { return m_list; }
    QLineEdit* Field() const { return m_field; }
    QCheckBox* CheckBoxOf(const std::string& text) const;
    // The entry of the selected row; null when none is selected.
    ItemPtr SelectedEntry() const;

    static void SetAllEnabled(bool enabled);

public slots:
    void OnAddToWishListClicked();
    void OnWishListItemCheckStateChanged(int state);
    void RemoveSelectedEntry();

private:
    void OnWishListItemAdded(Item* entry);
    void OnWishListItemRemoved(Item* entry);
    void OnWishListItemEnabled(ConnectionInfo& info);
    void OnWishListItemDisabled(ConnectionInfo& info);
    void ShowEnabled(Item* entry, bool enabled);

    QTreeWidget* m_list;
    QLineEdit* m_field;
    std::map<Item*, QTreeWidgetItem*> m_rows;
    std::map<QCheckBox*, Item*> m_boxes;
};
