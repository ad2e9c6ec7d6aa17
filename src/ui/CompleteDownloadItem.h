#pragma once

#include <QDateTime>
#include <QTreeWidgetItem>

// One row of the completed-downloads list. Rows order by completion time
// whatever column the list is sorted on.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    CompleteDownloadItem(QTreeWidget* list, const QStringList& texts, const QDateTime& completed)
        : QTreeWidgetItem(list, texts), m_completed(completed)
    {}

    const QDateTime& Completed() const { return m_completed; }
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    QDateTime m_completed;
};
