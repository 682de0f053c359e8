#include "filters/Form_AddEditAttachment.h"

#include "windows/WholeNumberField.h"

#include <QCheckBox>
#include <QLabel>

TfrmAddEditAttachment::TfrmAddEditAttachment(QWidget *parent)
    : FilterEntryDialog({"frmAddEditAttachment", "Attachment", QSize(272, 202), "edFileName",
                         "File name", "Examples : *.zip, *.pif, doc*.zip", 107},
                        parent)
    , edFileName(field())
    , cbxSize(new QCheckBox(QStringLiteral("Size between"), upperPanel()))
    , seSizeFrom(new WholeNumberField(upperPanel()))
    , seSizeTo(new WholeNumberField(upperPanel()))
    , m_andLabel(new QLabel(QStringLiteral("kB and "), upperPanel()))
    , m_kbLabel(new QLabel(QStringLiteral("kB"), upperPanel()))
{
    cbxSize->setObjectName(QStringLiteral("cbxSize"));
    cbxSize->setGeometry(73, 58, 184, 17);
    seSizeFrom->setObjectName(QStringLiteral("seSizeFrom"));
    seSizeFrom->setGeometry(74, 78, 65, 21);
    seSizeFrom->setAccessibleName(QStringLiteral("Size from, kB"));
    seSizeTo->setObjectName(QStringLiteral("seSizeTo"));
    seSizeTo->setGeometry(182, 78, 65, 21);
    seSizeTo->setAccessibleName(QStringLiteral("Size to, kB"));
    m_andLabel->move(141, 81);
    m_andLabel->setBuddy(seSizeTo);
    m_kbLabel->move(249, 81);
    cbxSizeClick();

    connect(cbxSize, &QCheckBox::toggled, this, &TfrmAddEditAttachment::cbxSizeClick);
    finishLayout({cbxSize, seSizeFrom, seSizeTo});
}

void TfrmAddEditAttachment::cbxSizeClick()
{
    const bool checked = cbxSize->isChecked();
    seSizeFrom->setEnabled(checked);
    seSizeTo->setEnabled(checked);
    m_andLabel->setEnabled(checked);
    m_kbLabel->setEnabled(checked);
}
