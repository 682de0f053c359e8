#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace mail {
struct CheckReport;
}

namespace tray {

// Shows what a dry-run check found: per account, the messages the filters would remove, with
// the list and pattern that matched each. The tray program keeps one and shows it again.
class PreviewWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewWindow(QWidget *parent = nullptr);

    void showChecking();
    void showReport(const mail::CheckReport &report);

    QLabel *lbSummary = nullptr;
    QTreeWidget *tvPreview = nullptr;
    QPushButton *btnCheckAgain = nullptr;
    QPushButton *btnClose = nullptr;

signals:
    void checkAgainRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// "MailFilter: *@spam.example", as the log names a rule.
QString ruleText(const QString &list, const QString &pattern);

} // namespace tray
