#pragma once

#include "logwindow/LogFile.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The monitor's log as read-only text, for a desktop with no viewer for text files. Shows the
// last kMaxShownBytes only, and says so. Used by OstroveConf's Statistics and OstroveTray's
// "Open log"; each keeps one, not modal.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    explicit LogWindow(QString path, QWidget *parent = nullptr);

    // Reads the file again.
    void reload();

    QLabel *lbCut = nullptr;
    QPlainTextEdit *edLog = nullptr;
    QPushButton *btnClose = nullptr;

    static constexpr qint64 kMaxShownBytes = 1024 * 1024;

private:
    QString m_path;
};
