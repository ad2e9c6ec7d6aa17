#include "ui/SearchResultListItem.h"

#include <QTreeWidget>

namespace {
// Free texts are "Y" or a queue length; anything else counts as a long queue.
long long QueueOf(const QString& free)
{
    bool number = false;
    const long long queue = free.toLongLong(&number);
    return number ? queue : -1;
}
} // namespace

SearchResultListItem::SearchResultListItem(Kind kind, Item* result)
    : QTreeWidgetItem(kind), m_result(result)
{}

QString SearchResultListItem::FreeText(bool available, long long queued)
{
    return available ? QStringLiteral("Y") : QString::number(queued);
}

QString SearchResultListItem::SpeedText(long long bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return QString();
    return QString::number(static_cast<double>(bytesPerSecond) / 1024.0, 'f', 1);
}

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    // Every row of a tab is one of ours.
    const auto& row = static_cast<const SearchResultListItem&>(other);
    const int column = treeWidget() ? treeWidget()->sortColumn() : FreeColumn;
    switch (column) {
    case FreeColumn:
        return ByAvailability(row);
    case SpeedColumn:
        return BySpeed(row);
    case SizeColumn:
        return m_size != row.m_size ? m_size < row.m_size : ByName(row);
    case BitrateColumn:
        return m_bitrate != row.m_bitrate ? m_bitrate < row.m_bitrate : ByName(row);
    case LengthColumn:
        return m_length != row.m_length ? m_length < row.m_length : ByName(row);
    default:
        return ByName(row);
    }
}

// The sort is descending, so "less" means "listed later".
bool SearchResultListItem::ByAvailability(const SearchResultListItem& other) const
{
    const QString mine = text(FreeColumn);
    const QString theirs = other.text(FreeColumn);
    if (mine != theirs) {
        if (theirs == "Y")
            return true;
        if (mine == "Y")
            return false;
        const long long myQueue = QueueOf(mine);
        const long long theirQueue = QueueOf(theirs);
        if (myQueue < 0 || theirQueue < 0)
            return myQueue < 0 && theirQueue >= 0;
        return myQueue > theirQueue;
    }
    return BySpeed(other);
}

bool SearchResultListItem::BySpeed(const SearchResultListItem& other) const
{
    if (m_speed != other.m_speed)
        return m_speed < other.m_speed;
    return ByName(other);
}

bool SearchResultListItem::ByName(const SearchResultListItem& other) const
{
    // Reversed, so that names read A to Z in the descending sort. Folder
    // and user rows have no file name and go by their own.
    for (int column : {FileColumn, FolderColumn, UserColumn}) {
        const int order = text(column).compare(other.text(column), Qt::CaseInsensitive);
        if (order != 0)
            return order > 0;
    }
    return false;
}
