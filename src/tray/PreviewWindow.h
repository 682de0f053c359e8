#pragma once

#include <QDialog>
#include <QStringList>

class QIcon;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace mail {
struct CheckReport;
}

namespace tray {

// Shows what a dry-run check found: per account, the messages the filters would remove, with
// the list and pattern that matched each. Not modal: the tray menu stays usable. The tray
// program keeps one and shows it again.
class PreviewWindow : public QDialog
{
    Q_OBJECT

public:
    explicit PreviewWindow(QString storePath = {}, QWidget *parent = nullptr);

    // Names the accounts still being checked, so that a slow server is seen for what it is.
    void showChecking(const QStringList &accounts = {});
    // A real check runs: the preview starts once it has ended.
    void showWaiting(const QStringList &accounts = {});
    void showReport(const mail::CheckReport &report);
    // Lets the selected held rule remove what it matched in its account, and asks for a check.
    void releaseHeld();
    // Adds the selected message's sender address to the allowed senders.
    void allowSender();

    QLabel *lbSummary = nullptr;
    QTreeWidget *tvPreview = nullptr;
    QLabel *lbAction = nullptr;
    QPushButton *btnRemoveHeld = nullptr;
    QPushButton *btnAllowSender = nullptr;
    QPushButton *btnCheckAgain = nullptr;
    QPushButton *btnClose = nullptr;

signals:
    void checkAgainRequested();
    void checkNowRequested();

private:
    void selectionChanged();

    QString m_storePath;
};

// "MailFilter: *@spam.example", as the log names a rule.
QString ruleText(const QString &list, const QString &pattern);
// The program's picture, for the tray program's windows.
QIcon programIcon();
// A cell whose text may be cut to the column's width: the text (its first 1,000 characters)
// is its tooltip.
void setCellText(QTreeWidgetItem *item, int column, const QString &text);
// Every column but the last sized to its contents, cut where the shown list is too narrow for
// all of them; the last takes the rest.
void fitColumns(QTreeWidget *tree);

} // namespace tray
