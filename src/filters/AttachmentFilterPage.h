#pragma once

#include "windows/Page.h"

class QAction;
class QTreeWidget;

namespace platform {
struct System;
}

// Attachment file-name patterns, one key each under Attachments, with an optional size range
// in kB kept as the two values SizeFrom and SizeTo.
class AttachmentFilterPage : public Page
{
    Q_OBJECT

public:
    struct Actions
    {
        QAction *add;
        QAction *edit;
        QAction *remove;
    };

    AttachmentFilterPage(platform::System &system, const Actions &actions,
                         QWidget *parent = nullptr);

    void pageShown() override { tsIgnoreAttachShow(); }

    void tsIgnoreAttachShow();
    void acAddAttachmentExecute();
    void acEditAttachmentExecute();
    void acRemoveAttachmentExecute();

    // A size as the list shows it: the number, a space, kB.
    static QString sizeText(qint32 kilobytes);

    QTreeWidget *lvFiles = nullptr;

private:
    platform::System &m_system;
};
