#include "ui/CompleteDownloadItem.h"

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    const auto* row = dynamic_cast<const CompleteDownloadItem*>(&other);
    if (!row)
        return QTreeWidgetItem::operator<(other);
    // An unreadable time sorts as the oldest.
    return m_completed.toSecsSinceEpoch() < row->m_completed.toSecsSinceEpoch();
}
