#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The dialog in which one mail account is entered; the accounts page builds one for each add or
// edit, fills it when editing and reads it after OK. It knows neither the store nor the cipher.
class TfrmAddEditAccount : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAddEditAccount(QWidget *parent = nullptr);

    QLineEdit *edEmail = nullptr;
    QLineEdit *edPop3 = nullptr;
    QLineEdit *edLogin = nullptr;
    QLineEdit *edPassword = nullptr;
    QCheckBox *cbxSSL = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void edEmailChange();
    void edEmailExit();

    // Confirming from the address field fills server and login first, as leaving it would.
    void accept() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
