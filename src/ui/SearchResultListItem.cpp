#include "ui/SearchResultListItem.h"

#include <algorithm>
#include <climits>

#include <QTreeWidget>

SearchResultListItem::SearchResultListItem(Kind kind, const QString& name, Item* result)
    : QTreeWidgetItem(kind), m_result(result), m_name(name), m_folded(name.toLower())
{}

SearchResultListItem::~SearchResultListItem()
{
    // Members shown are children and go with the row; the others are ours.
    for (SearchResultListItem* member : m_members)
        if (member->parent() != this)
            delete member;
}

void SearchResultListItem::SetSource(bool available, long long queued, long long bytesPerSecond)
{
    m_free = available ? -1 : std::max(0LL, queued);
    m_speed = bytesPerSecond;
    setText(FreeColumn, FreeText(available, queued));
    setText(SpeedColumn, SpeedText(bytesPerSecond));
}

void SearchResultListItem::AddMember(SearchResultListItem* row)
{
    m_members.insert(std::upper_bound(m_members.begin(), m_members.end(), row, NameBefore), row);
}

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

bool SearchResultListItem::NameBefore(const SearchResultListItem* a, const SearchResultListItem* b)
{
    return b->ByName(*a);
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
    if (m_free != other.m_free) {
        // A free slot beats any queue; a shorter queue a longer one.
        const auto rank = [](long long free) { return free == NoFree ? LLONG_MAX : free; };
        return rank(m_free) > rank(other.m_free);
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
    // Reversed, so that names read A to Z in the descending sort.
    return m_name.compare(other.m_name, Qt::CaseInsensitive) > 0;
}
