#include "tray/TrayIcon.h"

#include "mail/MailCheck.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace tray {

namespace {

constexpr char kProgramCaption[] = "Ostrove";

} // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(this))
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    acCheckNow = m_menu->addAction(QStringLiteral("&Check now"));
    acPreview = m_menu->addAction(QStringLiteral("&Preview"));
    acOpenLog = m_menu->addAction(QStringLiteral("Open &log"));
    acSettings = m_menu->addAction(QStringLiteral("&Settings"));
    m_menu->addSeparator();
    acQuit = m_menu->addAction(QStringLiteral("&Quit"));

    QIcon icon;
    icon.addFile(QStringLiteral(":/tray/icons/app16.png"));
    icon.addFile(QStringLiteral(":/tray/icons/app.png"));
    m_icon->setIcon(icon);
    m_icon->setContextMenu(m_menu.get());
    m_icon->setToolTip(QLatin1String(kProgramCaption));
    // A left click is how most desktops expect the menu to open too.
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::showChecking(bool dryRun)
{
    m_icon->setToolTip(dryRun ? QStringLiteral("Ostrove: preview under way")
                              : QStringLiteral("Ostrove: checking the mailboxes"));
}

void TrayIcon::showOutcome(const mail::CheckReport &report)
{
    m_icon->setToolTip(QStringLiteral("Ostrove: %1").arg(report.summary()));
    if (const QString notice = removedMailNotice(report); !notice.isEmpty())
        m_icon->showMessage(QLatin1String(kProgramCaption), notice, QSystemTrayIcon::Information);
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}

QString removedMailNotice(const mail::CheckReport &report)
{
    if (report.dryRun || report.removed == 0)
        return {};
    QStringList accounts;
    for (const mail::AccountOutcome &account : report.accounts) {
        if (!account.matched.isEmpty())
            accounts.append(
                QStringLiteral("%1: %2").arg(account.address).arg(account.matched.size()));
    }
    return QStringLiteral("%1 %2 removed (%3)")
        .arg(report.removed)
        .arg(report.removed == 1 ? QStringLiteral("message") : QStringLiteral("messages"))
        .arg(accounts.join(QStringLiteral(", ")));
}

} // namespace tray
