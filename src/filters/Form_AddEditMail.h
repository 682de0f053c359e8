#pragma once

#include "filters/FilterEntryDialog.h"

// Asks for one sender address pattern; the address filter page builds one for each add.
class TfrmAddEditMail : public FilterEntryDialog
{
    Q_OBJECT

public:
    explicit TfrmAddEditMail(QWidget *parent = nullptr);

    void edEmailChange() { fieldChange(); }

    QLineEdit *edEmail = nullptr;
};
