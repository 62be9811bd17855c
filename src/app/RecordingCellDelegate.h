#pragma once

#include <QStyledItemDelegate>

// Draws a table cell as the style does, but with its text 4 pixels inside
// the cell on both sides, truncated at the tail, in the model's colour, or in
// the highlighted-text colour on a selected row.
class RecordingCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kTextInset = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
