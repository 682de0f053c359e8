#pragma once

#include "windows/wnd_DefaultWindow.h"

class QLineEdit;

// Who made the program; opened modally from the main window's About button.
class TfrmAbout : public TfrmRODefault
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *parent = nullptr);

    void btnCancelClick();

    QLineEdit *edFirma = nullptr;
    QLineEdit *edWWW = nullptr;
    QLineEdit *edMail = nullptr;
};
