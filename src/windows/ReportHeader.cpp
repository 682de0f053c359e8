#include "windows/ReportHeader.h"

#include <QIcon>
#include <QStyleOptionHeader>

ReportHeader::ReportHeader(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent)
{
    // As the header a tree view makes for itself.
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

QSize ReportHeader::sectionSizeFromContents(int logicalIndex) const
{
    if (highlightSections())
        return QHeaderView::sectionSizeFromContents(logicalIndex);
    ensurePolished();
    QAbstractItemModel *items = model();
    const QVariant sizeHint = items->headerData(logicalIndex, orientation(), Qt::SizeHintRole);
    if (sizeHint.isValid())
        return sizeHint.value<QSize>();
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.section = logicalIndex;
    const QVariant font = items->headerData(logicalIndex, orientation(), Qt::FontRole);
    option.fontMetrics =
        QFontMetrics(font.canConvert<QFont>() ? font.value<QFont>() : this->font());
    option.text = items->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    const QVariant decoration = items->headerData(logicalIndex, orientation(), Qt::DecorationRole);
    option.icon = decoration.value<QIcon>();
    if (option.icon.isNull())
        option.icon = decoration.value<QPixmap>();
    if (isSortIndicatorShown())
        option.sortIndicator = QStyleOptionHeader::SortDown;
    return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
}
