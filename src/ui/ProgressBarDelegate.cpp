#include "ui/ProgressBarDelegate.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

ProgressBarDelegate::ProgressBarDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ProgressBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const QVariant percent = index.data(PercentRole);
    if (!percent.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The selection shows behind the bar as it does in the other cells.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(widget);
    bar.state = option.state | QStyle::State_Horizontal;
    const int height = std::min(option.rect.height(), MaxBarHeight);
    bar.rect = QRect(option.rect.left() + 1, option.rect.center().y() - height / 2 + 1,
                     option.rect.width() - 2, height);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = std::clamp(percent.toInt(), 0, 100);
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}
