#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// The frame the four filter entry dialogs share: picture, one labelled text field, an optional
// note, OK and Cancel. OK is enabled exactly while the field is not empty; Escape cancels.
class FilterEntryDialog : public QDialog
{
    Q_OBJECT

public:
    struct Layout
    {
        const char *objectName;
        const char *caption;
        QSize clientSize;
        const char *fieldName;
        const char *fieldLabel;
        const char *noteExample; // third note line; none for no note
        int noteTop;
    };

    FilterEntryDialog(const Layout &layout, QWidget *parent);

    // The text as typed, untrimmed.
    QString text() const;
    QLineEdit *field() const { return m_field; }

    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void fieldChange();
    // The panel above the buttons, for dialogs that add controls of their own.
    QFrame *upperPanel() const { return m_upper; }
    // Finishes the dialog once a subclass has added its controls.
    void finishLayout(const QList<QWidget *> &tabOrderAfterField);

private:
    QLineEdit *m_field = nullptr;
    QFrame *m_upper = nullptr;
};
