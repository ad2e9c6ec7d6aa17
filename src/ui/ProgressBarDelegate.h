#pragma once

#include <QStyledItemDelegate>

// Draws a progress bar in the cells that carry a percentage under
// `PercentRole`, with the cell's text on it; other cells are drawn as usual.
// Painting the bar from the row's data, rather than placing a bar widget in
// every row, keeps a list of hundreds of running transfers cheap: only the
// rows in sight are drawn, once per repaint of the list, and a new
// percentage is just a changed value.
class ProgressBarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int PercentRole = Qt::UserRole + 1;
    // Taller bars would make the rows of the list uneven.
    static constexpr int MaxBarHeight = 14;

    explicit ProgressBarDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
