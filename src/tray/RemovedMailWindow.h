#pragma once

#include "mail/RemovedRecord.h"

#include <QDialog>
#include <QList>

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace tray {

class MessageWindow;

// Lists what the real checks removed, newest first, from the record kept beside the log, and
// gives back a kept copy: to read, to save, or to the mail program. The tray program keeps one
// and shows it again, from its menu or its "removed" notification.
class RemovedMailWindow : public QDialog
{
    Q_OBJECT

public:
    explicit RemovedMailWindow(QString storePath, QWidget *parent = nullptr);

    // Reads the record and the settings again.
    void reload();
    void openCopy();
    void saveCopy();
    // Writes the selected entry's copy to this file, readable by its owner alone.
    bool saveCopyTo(const QString &path);
    void openInMailProgram();
    void allowSender();
    // The file of the selected entry's kept copy, empty when there is none.
    QString selectedCopy() const;
    MessageWindow *messageWindow() const { return m_message; }

    QLabel *lbSummary = nullptr;
    QTreeWidget *tvRemoved = nullptr;
    QLabel *lbCopy = nullptr;
    QPushButton *btnOpen = nullptr;
    QPushButton *btnSaveAs = nullptr;
    QPushButton *btnOpenInMail = nullptr;
    QPushButton *btnAllowSender = nullptr;
    QSpinBox *sbKeepDays = nullptr;
    QSpinBox *sbKeepMB = nullptr;
    QPushButton *btnRefresh = nullptr;
    QPushButton *btnClose = nullptr;

private:
    const mail::RemovedEntry *selectedEntry() const;
    void selectionChanged();
    void keepDaysChanged(int days);
    void keepMegabytesChanged(int megabytes);

    QString m_storePath;
    QList<mail::RemovedEntry> m_entries;
    MessageWindow *m_message = nullptr;
};

} // namespace tray
