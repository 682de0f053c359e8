#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tray {

// Lists what the real checks removed, newest first, from the record kept beside the log. The
// tray program keeps one and shows it again, from its menu or its "removed" notification.
class RemovedMailWindow : public QDialog
{
    Q_OBJECT

public:
    explicit RemovedMailWindow(QString recordPath, QWidget *parent = nullptr);

    // Reads the record again.
    void reload();

    QLabel *lbSummary = nullptr;
    QTreeWidget *tvRemoved = nullptr;
    QPushButton *btnRefresh = nullptr;
    QPushButton *btnClose = nullptr;

private:
    QString m_recordPath;
};

} // namespace tray
