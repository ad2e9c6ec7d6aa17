#pragma once

#include <QDialog>

#include "store/DataHandler.h"

class Item;
class QListWidget;
class QSpinBox;

// The download priority of each user-list group. Uploads to users of a
// group with a priority go before all others of lower priority; 0 leaves
// them in the ordinary order.
class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    static constexpr int MaxPriority = 99;
    static constexpr const char* PriorityHelp =
        "Defines the download priority of users belonging to this group. Users who belong to "
        "more than one group will be prioritized by their highest-ranked group.\n\nA priority "
        "of 0 will not affect the order of downloads by users of this group relative to other "
        "downloads. A priority of 1 or more will order downloads by users of this group ahead "
        "of all other downloads, except for ones with a higher priority.";

    explicit UserGroupConfigDialog(QWidget* parent = nullptr);
    ~UserGroupConfigDialog() override;

    QListWidget* Groups() const { return m_groups; }
    QSpinBox* Priority() const { return m_priority; }

public slots:
    void OnPrioritySpinValueChanged(int value);

private slots:
    void OnGroupSelected();

private:
    void OnGroupAdded(Item* group);
    void OnGroupRemoved(Item* group);

    QListWidget* m_groups;
    QSpinBox* m_priority;
};
