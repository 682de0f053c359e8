#pragma once

#include "filters/FilterEntryDialog.h"

// Asks for one subject word; the subject filter page builds one for each add.
class TfrmAddEditSubject : public FilterEntryDialog
{
    Q_OBJECT

public:
    explicit TfrmAddEditSubject(QWidget *parent = nullptr);

    void edWordsChange() { fieldChange(); }

    QLineEdit *edWords = nullptr;
};
