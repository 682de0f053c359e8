#pragma once

#include "filters/FilterEntryDialog.h"

// Asks for one body word; the content filter page builds one for each add.
class TfrmAddEditContent : public FilterEntryDialog
{
    Q_OBJECT

public:
    explicit TfrmAddEditContent(QWidget *parent = nullptr);

    void edWordsChange() { fieldChange(); }

    QLineEdit *edWords = nullptr;
};
