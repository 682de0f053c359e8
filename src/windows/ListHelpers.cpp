#include "windows/ListHelpers.h"

#include "platform/UserPrompts.h"
#include "store/NameFolding.h"
#include "windows/AlternatingRowDelegate.h"

#include <QHeaderView>
#include <QListWidget>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTreeWidget>

namespace {

// Qt sizes header sections for bold captions, in case a section is drawn highlighted; ours never
// are (highlighting stays off). Each section is given the size of its caption in the font it is
// drawn in instead, so that a start does not load a second font face only to measure the header.
// The captions are fixed: the sizes are set once, beside them.
void sizeHeaderForItsOwnFont(QTreeWidget *list)
{
    QHeaderView *header = list->header();
    header->ensurePolished();
    QTreeWidgetItem *captions = list->headerItem();
    QStyleOptionHeader option;
    option.initFrom(header);
    option.orientation = header->orientation();
    for (int column = 0; column < captions->columnCount(); ++column) {
        option.section = column;
        option.text = captions->text(column);
        captions->setData(
            column, Qt::SizeHintRole,
            header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header));
    }
}

} // namespace

void setUpReportList(QTreeWidget *list, const QStringList &columns, const QList<int> &widths)
{
    list->setColumnCount(static_cast<int>(columns.size()));
    list->setHeaderLabels(columns);
    sizeHeaderForItsOwnFont(list);
    for (int i = 0; i < widths.size(); ++i)
        list->setColumnWidth(i, widths[i]);
    list->header()->setStretchLastSection(false); // the designed widths, also of the last column
    list->header()->setSectionsClickable(false);
    list->header()->setSectionsMovable(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setItemDelegate(new AlternatingRowDelegate(list));
    QPalette colours = list->palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    list->setPalette(colours);
}

QTreeWidgetItem *selectedRow(QTreeWidget *list)
{
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

bool listsName(const QTreeWidget *list, const QByteArray &name)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (store::sameName(list->topLevelItem(i)->data(0, kStoredNameRole).toByteArray(), name))
            return true;
    }
    return false;
}

bool listsName(const QListWidget *list, const QByteArray &name)
{
    for (int i = 0; i < list->count(); ++i) {
        if (store::sameName(list->item(i)->data(kStoredNameRole).toByteArray(), name))
            return true;
    }
    return false;
}

bool confirmRemoval(platform::UserPrompts &prompts, const QString &question)
{
    return prompts.show({QStringLiteral("Remove"), question, platform::Prompt::Icon::Question,
                         platform::Prompt::Buttons::YesNo})
           == platform::Answer::Yes;
}

bool refusedForBackslash(platform::UserPrompts &prompts, const QByteArray &name,
                         const QString &caption, const QString &message)
{
    if (!name.contains('\\'))
        return false;
    prompts.show(
        {caption, message, platform::Prompt::Icon::Exclamation, platform::Prompt::Buttons::Ok});
    return true;
}
