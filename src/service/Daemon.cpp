#include "service/Daemon.h"

#include "contract/MonitorContract.h"
#include "mail/AccountSessions.h"
#include "mail/MailCheck.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"
#include "mail/SettingsAndSeenState.h"
#include "service/StoreWatch.h"

#include <QDateTime>

#include <cstdio>
#include <systemd/sd-daemon.h>

namespace service {

Daemon::Daemon(QString storePath)
    : m_storePath(std::move(storePath))
{}

std::optional<std::chrono::seconds> Daemon::testInterval()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("OSTROVE_TEST_INTERVAL_SECONDS", &ok);
    if (!ok || seconds <= 0)
        return std::nullopt;
    return std::chrono::seconds(seconds);
}

void Daemon::requestStop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
}

void Daemon::settingsChanged()
{
    {
        std::lock_guard lock(m_mutex);
        m_settingsChanged = true;
    }
    m_wake.notify_all();
}

Daemon::Wake Daemon::waitForNextCheck(std::chrono::steady_clock::time_point due)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, due, [this] { return m_stop.load() || m_settingsChanged; });
    if (m_stop)
        return Wake::Stop;
    if (m_settingsChanged) {
        m_settingsChanged = false;
        return Wake::SettingsChanged;
    }
    return Wake::Due;
}

int Daemon::run()
{
    // The journal takes standard error: each log line goes there too.
    mail::MonitorLog log(contract::logPathFor(m_storePath), stderr);
    log.write(QStringLiteral("OstroveService starts"));
    mail::SettingsAndSeenState::warnAboutStore(m_storePath, log);
    mail::SettingsAndSeenState files(m_storePath, log);
    // After the files: a slow account's session, which may outlast its check, uses them.
    mail::AccountSessions sessions;
    const StoreWatch watch(m_storePath, [this] { settingsChanged(); });
    sd_notify(0, "READY=1\nSTATUS=First check under way");

    const std::optional<std::chrono::seconds> forTests = testInterval();
    std::chrono::seconds interval = forTests ? *forTests : std::chrono::minutes(15);
    for (;;) {
        // Checks start an interval after the previous start, however long that check took.
        const auto started = std::chrono::steady_clock::now();
        mail::MailCheck::Options options;
        options.cancel = &m_stop;
        options.sessions = &sessions;
        // A slow server is not waited for past half the interval: the other accounts are
        // checked on time, and that one is skipped while its session goes on.
        options.patienceMs = mail::MailCheck::patienceFor(interval);
        const mail::CheckReport report = files.check(options);
        if (m_stop)
            break;
        // The interval as this check read it: the configuration program may change it.
        int minutes = report.settingsProblem.isEmpty() ? report.scanEveryMinutes
                                                       : contract::kDefaultScanEvery;
        Wake wake = Wake::SettingsChanged;
        while (wake == Wake::SettingsChanged) {
            interval = forTests ? *forTests : std::chrono::minutes(minutes);
            const QString status =
                QStringLiteral("Last check: %1; next in %2")
                    .arg(report.summary(), forTests ? QStringLiteral("%1 s").arg(interval.count())
                                                    : QStringLiteral("%1 min").arg(minutes));
            sd_notifyf(0, "STATUS=%s", qPrintable(status));
            // Still due an interval after the last check's start, with a changed interval too.
            wake = waitForNextCheck(started + interval);
            if (wake != Wake::SettingsChanged)
                break;
            // A store missing for a moment (replaced whole) reads as an empty tree: no interval.
            if (!mail::settingsFileProblem(m_storePath).isEmpty())
                continue;
            QString error;
            const std::optional<mail::MonitorSettings> settings =
                mail::readMonitorSettings(files.settings(), &error);
            if (!settings || settings->scanEveryMinutes == minutes)
                continue;
            minutes = settings->scanEveryMinutes;
            log.write(QStringLiteral("Interval changed to %1 min").arg(minutes));
        }
        if (wake == Wake::Stop)
            break;
    }
    sd_notify(0, "STOPPING=1");
    log.write(QStringLiteral("OstroveService stops"));
    return 0;
}

} // namespace service
