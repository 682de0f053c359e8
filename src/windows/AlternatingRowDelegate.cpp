#include "windows/AlternatingRowDelegate.h"

#include <QPainter>

QColor AlternatingRowDelegate::rowColour(int row)
{
    return row % 2 == 0 ? QColor(238, 238, 238) : QColor(Qt::white);
}

void AlternatingRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    painter->fillRect(option.rect, rowColour(index.row()));
    QStyledItemDelegate::paint(painter, option, index);
}
