#include "filters/PatternFilterPage.h"

#include "filters/Form_AddEditContent.h"
#include "filters/Form_AddEditMail.h"
#include "filters/Form_AddEditSubject.h"
#include "platform/System.h"
#include "platform/UserPrompts.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/ActionButton.h"
#include "windows/ListHelpers.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

PatternFilterPage::Configuration PatternFilterPage::addressFilter()
{
    return {"tsIgnoreMail",
            " Remove emails where email address is one of",
            "lbMail",
            store::kMailFilterKey,
            "Remove selected eMail?",
            [] {
                return std::make_unique<TfrmAddEditMail>();
            }};
}

PatternFilterPage::Configuration PatternFilterPage::subjectFilter()
{
    return {"tsIgnoreSubject",
            " Remove emails where subject contains one of words",
            "lbSubject",
            store::kSubjectFilterKey,
            "Remove selected value?",
            [] {
                return std::make_unique<TfrmAddEditSubject>();
            }};
}

PatternFilterPage::Configuration PatternFilterPage::contentFilter()
{
    return {"tsIgnoreContent",
            " Remove emails where body contains one of words",
            "lbContent",
            store::kContentFilterKey,
            "Remove selected value?",
            [] {
                return std::make_unique<TfrmAddEditContent>();
            }};
}

PatternFilterPage::PatternFilterPage(platform::System &system, Configuration configuration,
                                     QAction *add, QAction *remove, QWidget *parent)
    : Page(QLatin1String(configuration.pageName), QLatin1String(configuration.headerText), parent)
    , m_system(system)
    , m_configuration(std::move(configuration))
    , m_list(new QListWidget(body()))
{
    m_list->setObjectName(QLatin1String(m_configuration.listName));
    m_list->setFrameStyle(QFrame::NoFrame);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    bodyLayout()->addWidget(m_list, 1);
    addButtonRow({makeActionButton(add), makeActionButton(remove)});
    connect(add, &QAction::triggered, this, &PatternFilterPage::addExecute);
    connect(remove, &QAction::triggered, this, &PatternFilterPage::removeExecute);
}

void PatternFilterPage::load()
{
    m_list->clear();
    QList<QByteArray> names;
    const store::MessageHold hold(m_system.store, m_system.prompts);
    store::registryAccess(m_system.store, m_system.prompts, [&](store::Access &access) {
        names = access.openOrCreate(m_configuration.key)->valueNames();
    });
    // One line per stored name, inserted in one go; the bytes each line stands for are kept
    // beside its text without telling the view, which shows only the text.
    QStringList lines;
    lines.reserve(names.size());
    for (const QByteArray &name : std::as_const(names))
        lines.append(fromStored(name));
    m_list->addItems(lines);
    const QSignalBlocker quiet(m_list->model());
    for (int i = 0; i < names.size(); ++i)
        m_list->item(i)->setData(kStoredNameRole, names[i]);
}

void PatternFilterPage::addExecute()
{
    const std::unique_ptr<FilterEntryDialog> dialog = m_configuration.makeDialog();
    if (m_system.runModal(*dialog) != QDialog::Accepted)
        return;

    const QByteArray pattern = toStored(dialog->text());
    if (listsName(m_list, pattern))
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &) {
        access.openOrCreate(m_configuration.key)->writeString(pattern, QByteArray());
    });
}

void PatternFilterPage::removeExecute()
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const QByteArray pattern = selected.first()->data(kStoredNameRole).toByteArray();

    if (!confirmRemoval(m_system.prompts, QLatin1String(m_configuration.removeQuestion)))
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &) {
        access.openOrCreate(store::withoutTrailingSeparator(m_configuration.key))
            ->deleteValue(pattern);
    });
}
