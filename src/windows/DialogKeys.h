#pragma once

#include <QObject>

class QDialog;

// Sees every key of a dialog before its controls do: Escape, with or without Shift, Ctrl or
// Alt, closes the dialog as cancelled. Plain QDialog reacts to an unmodified Escape only.
class EscapeCancels : public QObject
{
    Q_OBJECT

public:
    // Watches the dialog and every control it holds at the time of the call.
    explicit EscapeCancels(QDialog *dialog);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QDialog *m_dialog;
};
