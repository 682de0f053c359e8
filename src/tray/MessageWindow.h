#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace tray {

// A kept copy of a removed message, read only: sender, subject, the text of its plain-text
// parts, its attachments by name and size, and its header as it came. Nothing is loaded from
// elsewhere. Made by the removed mail window, which shows it again for each message opened.
class MessageWindow : public QDialog
{
    Q_OBJECT

public:
    explicit MessageWindow(QWidget *parent = nullptr);

    // False when the file cannot be read; the window then says so.
    bool showFile(const QString &path);

    QLabel *lbFrom = nullptr;
    QLabel *lbSubject = nullptr;
    QPlainTextEdit *edText = nullptr;
    QListWidget *lbAttachments = nullptr;
    QPlainTextEdit *edHeader = nullptr;
    QPushButton *btnClose = nullptr;
};

} // namespace tray
