#pragma once

#include "windows/Page.h"

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
    // The page's buttons show the actions, and the actions run the page's handlers.
    AttachmentFilterPage(platform::System &system, const PageActions &actions,
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
