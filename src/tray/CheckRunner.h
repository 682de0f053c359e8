#pragma once

#include "mail/MailCheck.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class QThread;

namespace mail {
class AccountSessions;
class SettingsAndSeenState;
class MonitorLog;
} // namespace mail

namespace tray {

// What a finished check hands back: its report, and the interval stored at its end (absent
// when the settings could not be read).
struct CheckResult
{
    mail::CheckReport report;
    std::optional<int> scanEveryMinutes;
};

// Runs checks one at a time in a thread of its own, so the tray menu never waits on a server; a
// slow account's session may go on after its check is reported, and that account is skipped
// until it ends.
// A request that comes while a check runs is kept and run next; a check and a preview asked
// for together run one after the other. Created by the tray program, one for its lifetime.
class CheckRunner : public QObject
{
    Q_OBJECT

public:
    CheckRunner(const QString &storePath, mail::MonitorLog &log, QObject *parent = nullptr);
    ~CheckRunner() override;

    void requestCheck();
    // A dry run: judges and reports, removes nothing.
    void requestPreview();
    bool isRunning() const { return m_thread != nullptr; }
    // The accounts the check under way has begun and not yet ended, in the order begun.
    QStringList accountsInProgress() const { return m_inProgress; }
    // Cancels a check under way (its session ends without QUIT, nothing is removed) and waits
    // for its thread; nothing queued runs afterwards.
    void stop();

    // Tests shorten the server time-outs, and the wait for a slow account (else half the
    // stored interval, five minutes at most).
    void setReplyTimeoutMs(int milliseconds) { m_replyTimeoutMs = milliseconds; }
    void setPatienceMs(int milliseconds)
    {
        m_patienceMs = milliseconds;
        m_patienceFixed = true;
    }

signals:
    void checkStarted(bool dryRun);
    void checkFinished(const tray::CheckResult &result);
    void accountsInProgressChanged(const QStringList &accounts);
    // A slow account's session that outlasted its check has ended: its outcome, for the status
    // and the news of what it removed.
    void lateOutcome(const mail::AccountOutcome &outcome);

private:
    void startNext();
    void start(bool dryRun);
    void threadDone();
    void accountProgress(const QString &address, const std::optional<mail::AccountOutcome> &ended);

    std::unique_ptr<mail::SettingsAndSeenState> m_files;
    // A slow account's session may outlast its check; they all end before m_files goes.
    std::unique_ptr<mail::AccountSessions> m_sessions;
    QThread *m_thread = nullptr;
    std::shared_ptr<CheckResult> m_result;
    QStringList m_inProgress;
    // Accounts reported as still being checked, and outcomes that came before their check's
    // report did.
    QStringList m_late;
    QList<mail::AccountOutcome> m_endedBeforeReport;
    std::atomic<bool> m_cancel{false};
    bool m_checkWaiting = false;
    bool m_previewWaiting = false;
    bool m_stopped = false;
    int m_replyTimeoutMs = 60000;
    int m_patienceMs;
    bool m_patienceFixed = false;
};

} // namespace tray
