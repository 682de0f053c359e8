#pragma once

#include "mail/MailCheck.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace tray {

// Which picture the tray icon shows.
enum class IconState
{
    Normal,
    Failing,         // some account could not be checked
    SettingsProblem, // the settings could not be read: nothing was checked
    Paused,
};

// What the tray icon tells: the last real check (a preview never takes its place), what runs
// now and when the next check is due. Kept by the tray program.
struct TrayStatus
{
    std::optional<mail::CheckReport> lastCheck;
    QDateTime lastCheckAt;
    QDateTime nextCheckAt;
    bool paused = false;
    bool checking = false;
    bool previewing = false;
};

IconState iconState(const TrayStatus &status);
// Several lines: the last check's time and outcome, each failing account and why, the next
// check's time. `now` decides whether times need their date.
QString toolTipText(const TrayStatus &status, const QDateTime &now);

// Accounts that began to fail and accounts that recovered between two real checks, so that
// each change is told once rather than at every check.
struct AccountChanges
{
    QStringList failing;   // "address: why"
    QStringList recovered; // addresses
};
AccountChanges accountChanges(const QSet<QString> &failingBefore, const mail::CheckReport &report);
QSet<QString> failingAccounts(const mail::CheckReport &report);

} // namespace tray
