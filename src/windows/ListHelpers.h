#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform {
class UserPrompts;
}

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

// Whether a list already holds a name. The store ignores case in names, so an equal name in
// other letters is the same entry and adding it would change nothing.
bool listsName(const QTreeWidget *list, const QByteArray &name);
bool listsName(const QListWidget *list, const QByteArray &name);

// Asks the one question before a removal; true when the answer is Yes.
bool confirmRemoval(platform::UserPrompts &prompts, const QString &question);

// A backslash would make a name a path of nested keys, and so a different entry: such a name
// is refused with the message given, and true returned.
bool refusedForBackslash(platform::UserPrompts &prompts, const QByteArray &name,
                         const QString &caption, const QString &message);
