#include "service/Daemon.h"

#include "mail/MailCheck.h"
#include "mail/MonitorFiles.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"

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

bool Daemon::waitForNextCheck(std::chrono::seconds interval)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, interval, [this] { return m_stop.load(); });
}

int Daemon::run()
{
    // The journal takes standard error: each log line goes there too.
    mail::MonitorLog log(mail::logPathFor(m_storePath), stderr);
    log.write(QStringLiteral("OstroveService starts"));
    mail::MonitorFiles::warnAboutStore(m_storePath, log);
    mail::MonitorFiles files(m_storePath, log);
    sd_notify(0, "READY=1\nSTATUS=First check under way");

    const std::optional<std::chrono::seconds> forTests = testInterval();
    for (;;) {
        mail::MailCheck::Options options;
        options.cancel = &m_stop;
        const mail::CheckReport report = files.check(options);
        if (m_stop)
            break;
        // The interval is read anew each time, as the configuration program may change it.
        int minutes = mail::kDefaultScanEvery;
        if (const auto current = mail::readMonitorSettings(files.settings(), nullptr))
            minutes = current->scanEveryMinutes;
        const std::chrono::seconds interval = forTests ? *forTests : std::chrono::minutes(minutes);
        const QString status =
            QStringLiteral("Last check: %1; next in %2")
                .arg(report.summary(), forTests ? QStringLiteral("%1 s").arg(interval.count())
                                                : QStringLiteral("%1 min").arg(minutes));
        sd_notifyf(0, "STATUS=%s", qPrintable(status));
        if (!waitForNextCheck(interval))
            break;
    }
    sd_notify(0, "STOPPING=1");
    log.write(QStringLiteral("OstroveService stops"));
    return 0;
}

} // namespace service
