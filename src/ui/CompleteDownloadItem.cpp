#include "ui/CompleteDownloadItem.h"

#include <limits>

CompleteDownloadItem::CompleteDownloadItem(const QStringList& texts, const QDateTime& completed)
    : QTreeWidgetItem(texts),
      // An unreadable time sorts as the oldest.
      m_completed(completed.isValid() ? completed.toSecsSinceEpoch()
                                      : std::numeric_limits<qint64>::min())
{}

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    const auto* row = dynamic_cast<const CompleteDownloadItem*>(&other);
    if (!row)
        return QTreeWidgetItem::operator<(other);
    return m_completed < row->m_completed;
}
