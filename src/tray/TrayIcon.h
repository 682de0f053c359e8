#pragma once

#include "tray/TrayStatus.h"

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

// The icon in the desktop's tray and its menu; the tooltip tells the last check's outcome and
// the picture its state. Made by the tray program once the desktop has a tray.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    void showStatus(const TrayStatus &status);
    // One notification for what a check removed and the accounts that began to fail or
    // recovered, and mail held; nothing when there is none. Clicking it after removals opens
    // their list.
    void announce(const QString &removedNotice, const AccountChanges &changes,
                  const QString &heldNotice = {});

    QMenu *menu() const { return m_menu.get(); }
    QString toolTip() const;
    IconState state() const { return m_state; }

    QAction *acCheckNow = nullptr;
    QAction *acPreview = nullptr;
    QAction *acPause = nullptr;
    QAction *acRemovedMail = nullptr;
    QAction *acAllowedSenders = nullptr;
    QAction *acOpenLog = nullptr;
    QAction *acSettings = nullptr;
    QAction *acQuit = nullptr;

signals:
    void removedNoticeClicked();

private:
    std::unique_ptr<QMenu> m_menu; // a menu has no parent widget here
    QSystemTrayIcon *m_icon = nullptr;
    IconState m_state = IconState::Normal;
    bool m_removedNoticeShown = false;
};

// The message the notification shows after a check that removed mail.
QString removedMailNotice(const mail::CheckReport &report);
// The message the notification shows after a check that held mail: each rule held, its count.
QString heldMailNotice(const mail::CheckReport &report);
// The picture of each state, as a resource path stem ("app", "tray-failing", ...).
QString iconName(IconState state);

} // namespace tray
