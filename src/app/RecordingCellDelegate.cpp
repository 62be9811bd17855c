#include "RecordingCellDelegate.h"

#include <QApplication>
#include <QPainter>

void RecordingCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QString text = cell.text;
    cell.text.clear();
    const QWidget *widget = cell.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const QRect textRect = cell.rect.adjusted(kTextInset, 0, -kTextInset, 0);
    const bool selected = cell.state & QStyle::State_Selected;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    QColor colour = cell.palette.color(QPalette::Text);
    if (selected)
        colour = cell.palette.color(cell.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive,
                                    QPalette::HighlightedText);
    else if (foreground.canConvert<QBrush>())
        colour = foreground.value<QBrush>().color();

    painter->save();
    painter->setFont(cell.font);
    painter->setPen(colour);
    const QString shown = cell.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width());
    painter->drawText(textRect, int(cell.displayAlignment), shown);
    painter->restore();
}

QSize RecordingCellDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    return {size.width() + 2 * kTextInset, size.height()};
}
