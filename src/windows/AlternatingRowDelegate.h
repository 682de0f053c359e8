#pragma once

#include <QStyledItemDelegate>

// Paints each row's background by its index before the default drawing: even rows light grey
// (238, 238, 238), odd rows white, so the colours follow the rows after every reload.
class AlternatingRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    static QColor rowColour(int row);
};
