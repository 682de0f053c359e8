#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace mail {
struct CheckReport;
}

namespace tray {

// The icon in the desktop's tray and its menu; the tooltip tells the last check's outcome.
// Made by the tray program only when the desktop has a tray.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    void showChecking(bool dryRun);
    // The tooltip tells the outcome; removed mail is also announced.
    void showOutcome(const mail::CheckReport &report);

    QMenu *menu() const { return m_menu.get(); }
    QString toolTip() const;

    QAction *acCheckNow = nullptr;
    QAction *acPreview = nullptr;
    QAction *acOpenLog = nullptr;
    QAction *acSettings = nullptr;
    QAction *acQuit = nullptr;

private:
    std::unique_ptr<QMenu> m_menu; // a menu has no parent widget here
    QSystemTrayIcon *m_icon = nullptr;
};

// The message the notification shows after a check that removed mail.
QString removedMailNotice(const mail::CheckReport &report);

} // namespace tray
