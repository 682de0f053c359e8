#include "filters/AttachmentFilterPage.h"

#include "filters/Form_AddEditAttachment.h"
#include "platform/System.h"
#include "platform/UserPrompts.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/ActionButton.h"
#include "windows/ListHelpers.h"
#include "windows/WholeNumberField.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

QString AttachmentFilterPage::sizeText(qint32 kilobytes)
{
    return QString::number(kilobytes) + QStringLiteral(" kB");
}

AttachmentFilterPage::AttachmentFilterPage(platform::System &system, const PageActions &actions,
                                           QWidget *parent)
    : Page(QStringLiteral("tsIgnoreAttach"),
           QStringLiteral(" Remove emails that contains attachments"), parent)
    , lvFiles(new QTreeWidget(body()))
    , m_system(system)
{
    lvFiles->setObjectName(QStringLiteral("lvFiles"));
    setUpReportList(
        lvFiles,
        {QStringLiteral("File name"), QStringLiteral("Size from"), QStringLiteral("Size to")},
        {120, 65, 65});
    lvFiles->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    lvFiles->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    lvFiles->setFrameStyle(QFrame::NoFrame);
    lvFiles->viewport()->setCursor(Qt::PointingHandCursor);
    bodyLayout()->addWidget(lvFiles, 1);
    addButtonRow({makeActionButton(actions.add), makeActionButton(actions.edit),
                  makeActionButton(actions.remove)});
    connect(actions.add, &QAction::triggered, this, &AttachmentFilterPage::acAddAttachmentExecute);
    connect(actions.edit, &QAction::triggered, this,
            &AttachmentFilterPage::acEditAttachmentExecute);
    connect(actions.remove, &QAction::triggered, this,
            &AttachmentFilterPage::acRemoveAttachmentExecute);
    connect(lvFiles, &QTreeWidget::itemDoubleClicked, this,
            &AttachmentFilterPage::acEditAttachmentExecute);
}

void AttachmentFilterPage::tsIgnoreAttachShow()
{
    lvFiles->clear();
    QList<QTreeWidgetItem *> rows;
    const store::MessageHold hold(m_system.store, m_system.prompts);
    store::registryAccess(m_system.store, m_system.prompts, [&rows](store::Access &access) {
        const auto parent = access.openOrCreate(store::kAttachmentsKey);
        for (const QByteArray &name : parent->subkeyNames()) {
            const auto pattern = access.openOrCreate(store::attachmentPath(name));
            auto *row = new QTreeWidgetItem({fromStored(name)});
            row->setData(0, kStoredNameRole, name);
            row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            rows.append(row);
            // Sizes fill the next free column, as the list appends its sub-items.
            int column = 1;
            if (pattern->valueExists(store::kSizeFrom))
                row->setText(column++, sizeText(pattern->readInteger(store::kSizeFrom)));
            if (pattern->valueExists(store::kSizeTo))
                row->setText(column, sizeText(pattern->readInteger(store::kSizeTo)));
        }
    });
    lvFiles->addTopLevelItems(rows);
}

void AttachmentFilterPage::acAddAttachmentExecute()
{
    TfrmAddEditAttachment dialog;
    if (m_system.runModal(dialog) != QDialog::Accepted)
        return;

    const QByteArray pattern = toStored(dialog.edFileName->text());
    if (refusedForBackslash(m_system.prompts, pattern, QStringLiteral("Attachment"),
                            QStringLiteral("A file name pattern cannot contain a backslash "
                                           "(\\). The pattern was not added."))
        || listsName(lvFiles, pattern))
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &) {
        const auto key = access.openOrCreate(store::attachmentPath(pattern));
        // Without a size range the new key is the whole change; one that could not be created
        // must still fail the access.
        key->requireWritable();
        if (dialog.cbxSize->isChecked()) {
            key->writeInteger(store::kSizeFrom, dialog.seSizeFrom->value());
            key->writeInteger(store::kSizeTo, dialog.seSizeTo->value());
        }
    });
}

void AttachmentFilterPage::acEditAttachmentExecute()
{
    const QTreeWidgetItem *row = selectedRow(lvFiles);
    if (!row)
        return;
    const QByteArray pattern = row->data(0, kStoredNameRole).toByteArray();

    TfrmAddEditAttachment dialog;
    dialog.edFileName->setEnabled(false);
    store::registryAccess(m_system.store, m_system.prompts, [&](store::Access &access) {
        const auto key = access.openOrCreate(store::attachmentPath(pattern));
        dialog.edFileName->setText(fromStored(pattern));
        if (key->valueExists(store::kSizeFrom)) {
            dialog.seSizeFrom->setValue(key->readInteger(store::kSizeFrom));
            dialog.seSizeTo->setValue(key->readInteger(store::kSizeTo));
            dialog.cbxSize->setChecked(true);
            dialog.cbxSizeClick();
        }
    });

    if (m_system.runModal(dialog) != QDialog::Accepted)
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &) {
        const auto key = access.openOrCreate(store::attachmentPath(pattern));
        if (dialog.cbxSize->isChecked()) {
            key->writeInteger(store::kSizeFrom, dialog.seSizeFrom->value());
            key->writeInteger(store::kSizeTo, dialog.seSizeTo->value());
        } else {
            key->deleteValue(store::kSizeFrom);
            key->deleteValue(store::kSizeTo);
        }
    });
}

void AttachmentFilterPage::acRemoveAttachmentExecute()
{
    const QTreeWidgetItem *row = selectedRow(lvFiles);
    if (!row)
        return;
    const QByteArray pattern = row->data(0, kStoredNameRole).toByteArray();

    if (!confirmRemoval(m_system.prompts, QStringLiteral("Remove selected value?")))
        return;
    changeThenReload(m_system, [&pattern](store::Access &access, platform::UserPrompts &) {
        access.openOrCreate(store::kAttachmentsKey)->deleteKey(pattern);
    });
}
