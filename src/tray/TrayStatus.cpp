#include "tray/TrayStatus.h"

namespace tray {

namespace {

constexpr qsizetype kMaxReasonChars = 70;
constexpr int kMaxAccountsListed = 5;

// A tooltip is a glance: a long server reply would push the next check's time out of it.
QString shortened(const QString &text)
{
    if (text.size() <= kMaxReasonChars)
        return text;
    qsizetype cut = kMaxReasonChars - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}

QString timeText(const QDateTime &at, const QDateTime &now)
{
    return at.toString(at.date() == now.date() ? QStringLiteral("HH:mm")
                                               : QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

IconState iconState(const TrayStatus &status)
{
    if (status.paused)
        return IconState::Paused;
    if (!status.lastCheck)
        return IconState::Normal;
    if (!status.lastCheck->settingsProblem.isEmpty())
        return IconState::SettingsProblem;
    return status.lastCheck->succeeded() ? IconState::Normal : IconState::Failing;
}

QString toolTipText(const TrayStatus &status, const QDateTime &now)
{
    QStringList lines{QStringLiteral("Ostrove")};
    if (status.lastCheck) {
        lines.append(QStringLiteral("Last check %1: %2")
                         .arg(timeText(status.lastCheckAt, now), status.lastCheck->summary()));
        int listed = 0;
        int more = 0;
        for (const mail::AccountOutcome &account : status.lastCheck->accounts) {
            if (account.checked)
                continue;
            if (listed == kMaxAccountsListed) {
                ++more;
                continue;
            }
            lines.append(QStringLiteral("%1: %2").arg(account.address, shortened(account.failure)));
            ++listed;
        }
        if (more > 0)
            lines.append(QStringLiteral("and %1 more failed").arg(more));
    } else if (!status.checking) {
        lines.append(QStringLiteral("No check yet"));
    }
    if (status.checking)
        lines.append(QStringLiteral("Checking the mailboxes now"));
    if (status.previewing)
        lines.append(QStringLiteral("Preview under way"));
    if (status.paused)
        lines.append(QStringLiteral("Checks paused"));
    else if (status.nextCheckAt.isValid())
        lines.append(QStringLiteral("Next check %1").arg(timeText(status.nextCheckAt, now)));
    return lines.join(QLatin1Char('\n'));
}

QSet<QString> failingAccounts(const mail::CheckReport &report)
{
    QSet<QString> failing;
    for (const mail::AccountOutcome &account : report.accounts) {
        if (!account.checked)
            failing.insert(account.address);
    }
    return failing;
}

AccountChanges accountChanges(const QSet<QString> &failingBefore, const mail::CheckReport &report)
{
    AccountChanges changes;
    // Settings that cannot be read say nothing about the accounts: no change is told.
    if (!report.settingsProblem.isEmpty())
        return changes;
    for (const mail::AccountOutcome &account : report.accounts) {
        if (!account.checked && !failingBefore.contains(account.address))
            changes.failing.append(QStringLiteral("%1: %2").arg(account.address, account.failure));
        else if (account.checked && failingBefore.contains(account.address))
            changes.recovered.append(account.address);
    }
    return changes;
}

} // namespace tray
