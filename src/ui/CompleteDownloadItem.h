#pragma once

#include <QDateTime>
#include <QTreeWidgetItem>

// One row of the completed-downloads list. Rows order by completion time
// whatever column the list is sorted on.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    CompleteDownloadItem(const QStringList& texts, const QDateTime& completed);

    bool operator<(const QTreeWidgetItem& other) const override;

private:
    // Seconds since the epoch, worked out once: turning a local time into
    // them consults the time zone, and the list re-sorts on every completed
    // download, which made each completion cost a few thousand such look-ups
    // once the list had some hundreds of rows.
    qint64 m_completed;
};
