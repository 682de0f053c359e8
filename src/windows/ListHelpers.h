#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QTreeWidget;
class QTreeWidgetItem;

// Conversions at the widget boundary: the store keeps 8-bit names, the widgets show text.
inline QString fromStored(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}
inline QByteArray toStored(const QString &text)
{
    return text.toLocal8Bit();
}

// The name a row or line stands for, byte for byte as stored, kept beside its caption so that a
// name the local encoding cannot show is still found again in the store.
inline constexpr int kStoredNameRole = Qt::UserRole + 1;

// A report list as the pages use it: whole-row single selection that stays visible without the
// focus, fixed columns, rows told to be alike so that large lists fill fast.
void setUpReportList(QTreeWidget *list, const QStringList &columns, const QList<int> &widths);

// The selected row, or none; a current row that is not selected does not count.
QTreeWidgetItem *selectedRow(QTreeWidget *list);
