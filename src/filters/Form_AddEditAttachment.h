#pragma once

#include "filters/FilterEntryDialog.h"

class QCheckBox;
class QLabel;
class WholeNumberField;

// Asks for one attachment file-name pattern and an optional size range in kB; the attachment
// page builds one for each add or edit.
class TfrmAddEditAttachment : public FilterEntryDialog
{
    Q_OBJECT

public:
    explicit TfrmAddEditAttachment(QWidget *parent = nullptr);

    void edFileNameChange() { fieldChange(); }
    void cbxSizeClick();

    QLineEdit *edFileName = nullptr;
    QCheckBox *cbxSize = nullptr;
    WholeNumberField *seSizeFrom = nullptr;
    WholeNumberField *seSizeTo = nullptr;

private:
    QLabel *m_andLabel = nullptr;
    QLabel *m_kbLabel = nullptr;
};
