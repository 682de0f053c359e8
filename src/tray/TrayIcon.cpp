#include "tray/TrayIcon.h"

#include "mail/MailCheck.h"

#include <QAction>
#include <QDateTime>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include <algorithm>

namespace tray {

namespace {

constexpr char kProgramCaption[] = "Ostrove";

QIcon stateIcon(IconState state)
{
    const QString name = iconName(state);
    QIcon icon;
    icon.addFile(QStringLiteral(":/tray/icons/%116.png").arg(name));
    icon.addFile(QStringLiteral(":/tray/icons/%1.png").arg(name));
    return icon;
}

} // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(this))
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    acCheckNow = m_menu->addAction(QStringLiteral("&Check now"));
    acPreview = m_menu->addAction(QStringLiteral("&Preview"));
    acPause = m_menu->addAction(QStringLiteral("Pa&use checks"));
    m_menu->addSeparator();
    acRemovedMail = m_menu->addAction(QStringLiteral("&Removed mail"));
    acAllowedSenders = m_menu->addAction(QStringLiteral("&Allowed senders"));
    acOpenLog = m_menu->addAction(QStringLiteral("Open &log"));
    acSettings = m_menu->addAction(QStringLiteral("&Settings"));
    m_menu->addSeparator();
    acQuit = m_menu->addAction(QStringLiteral("&Quit"));

    m_icon->setIcon(stateIcon(m_state));
    m_icon->setContextMenu(m_menu.get());
    m_icon->setToolTip(QLatin1String(kProgramCaption));
    // A left click is how most desktops expect the menu to open too.
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_removedNoticeShown)
            emit removedNoticeClicked();
    });
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::showStatus(const TrayStatus &status)
{
    m_icon->setToolTip(toolTipText(status, QDateTime::currentDateTime()));
    acPause->setText(status.paused ? QStringLiteral("Resu&me checks")
                                   : QStringLiteral("Pa&use checks"));
    const IconState state = iconState(status);
    if (state != m_state) {
        m_state = state;
        m_icon->setIcon(stateIcon(state));
    }
}

void TrayIcon::announce(const QString &removedNotice, const AccountChanges &changes,
                        const QString &heldNotice)
{
    QStringList lines;
    if (!removedNotice.isEmpty())
        lines.append(removedNotice);
    if (!heldNotice.isEmpty())
        lines.append(heldNotice);
    if (!changes.failing.isEmpty())
        lines.append(QStringLiteral("Cannot be checked: %1")
                         .arg(changes.failing.join(QStringLiteral("; "))));
    if (!changes.recovered.isEmpty())
        lines.append(
            QStringLiteral("Checked again: %1").arg(changes.recovered.join(QStringLiteral(", "))));
    if (lines.isEmpty())
        return;
    m_removedNoticeShown = !removedNotice.isEmpty();
    m_icon->showMessage(QLatin1String(kProgramCaption), lines.join(QLatin1Char('\n')),
                        changes.failing.isEmpty() ? QSystemTrayIcon::Information
                                                  : QSystemTrayIcon::Warning);
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

QString heldMailNotice(const mail::CheckReport &report)
{
    if (report.dryRun)
        return {};
    QStringList rules;
    int held = 0;
    for (const mail::AccountOutcome &account : report.accounts) {
        // Counted per rule: each is released on its own.
        QList<std::pair<QString, int>> counts;
        for (const mail::MatchedMessage &message : account.held) {
            const QString rule =
                QStringLiteral("%1: %2").arg(message.rule.list, message.rule.pattern);
            auto it = std::find_if(counts.begin(), counts.end(),
                                   [&rule](const auto &count) { return count.first == rule; });
            if (it == counts.end())
                counts.append({rule, 1});
            else
                ++it->second;
        }
        for (const auto &[rule, count] : counts)
            rules.append(QStringLiteral("%1: %2 by %3").arg(account.address).arg(count).arg(rule));
        held += int(account.held.size());
    }
    if (held == 0)
        return {};
    return QStringLiteral("%1 held, not removed (%2); see Preview to remove them")
        .arg(mail::countOf(held, "message", "messages"), rules.join(QStringLiteral("; ")));
}

QString iconName(IconState state)
{
    switch (state) {
    case IconState::Failing:
        return QStringLiteral("tray-failing");
    case IconState::SettingsProblem:
        return QStringLiteral("tray-settings");
    case IconState::Paused:
        return QStringLiteral("tray-paused");
    case IconState::Normal:
        break;
    }
    return QStringLiteral("app");
}

} // namespace tray
