#include "mail/MailCheck.h"

#include "mail/AccountCheck.h"
#include "mail/MessageBudget.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"
#include "monitor/MonitorNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <sys/stat.h>

namespace mail {

namespace {

constexpr qint64 kWholeMessagesAtOnce = 64 * 1024 * 1024;

} // namespace

bool CheckReport::allChecked() const
{
    if (!settingsProblem.isEmpty())
        return false;
    for (const AccountOutcome &account : accounts) {
        if (!account.checked)
            return false;
    }
    return true;
}

QString CheckReport::summary() const
{
    if (!settingsProblem.isEmpty())
        return QStringLiteral("Settings cannot be read: %1").arg(settingsProblem);
    int failed = 0;
    for (const AccountOutcome &account : accounts)
        failed += account.checked ? 0 : 1;
    QString text =
        QStringLiteral("%1 accounts, %2 messages judged, %3 %4")
            .arg(accounts.size())
            .arg(judged)
            .arg(removed)
            .arg(dryRun ? QStringLiteral("would be removed") : QStringLiteral("removed"));
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    return text;
}

MailCheck::MailCheck(store::Store &store, SeenState &seen, MonitorLog &log, Options options)
    : m_store(store)
    , m_seen(seen)
    , m_log(log)
    , m_options(options)
{}

CheckReport MailCheck::run()
{
    QElapsedTimer clock;
    clock.start();
    CheckReport report;
    report.dryRun = m_options.dryRun;

    QString problem;
    const std::optional<MonitorSettings> settings = readMonitorSettings(m_store, &problem);
    if (!settings) {
        report.settingsProblem = problem;
        m_log.write(QStringLiteral("Check failed: the settings cannot be read (%1)").arg(problem));
        return report;
    }
    const Rules rules(*settings);
    m_log.write(
        QStringLiteral("Check begins%1: %2 accounts")
            .arg(m_options.dryRun ? QStringLiteral(" (dry run, nothing is removed)") : QString())
            .arg(settings->accounts.size()));
    for (const QString &warning : rules.warnings())
        m_log.write(QStringLiteral("Warning: %1").arg(warning));

    TlsTrust trust;
    // Whole messages of all accounts together: judging costs a few times a message's size.
    MessageBudget budget(kWholeMessagesAtOnce);
    AccountCheck::Context context{rules,
                                  m_seen,
                                  m_log,
                                  trust,
                                  m_options.dryRun,
                                  m_options.connectTimeoutMs,
                                  m_options.replyTimeoutMs,
                                  m_options.sessionTimeoutMs,
                                  m_options.cancel,
                                  &budget};
    report.accounts.resize(settings->accounts.size());
    QThreadPool pool;
    pool.setMaxThreadCount(std::max(1, m_options.accountsAtOnce));
    for (qsizetype i = 0; i < settings->accounts.size(); ++i) {
        const AccountSettings &account = settings->accounts[i];
        AccountOutcome *outcome = &report.accounts[i];
        pool.start(
            [&context, &account, outcome] { *outcome = AccountCheck(context).run(account); });
    }
    pool.waitForDone();

    for (const AccountOutcome &account : std::as_const(report.accounts)) {
        report.judged += account.judged;
        report.removed += int(account.matched.size());
    }
    report.milliseconds = clock.elapsed();
    m_log.write(QStringLiteral("Check ends: %1 in %2 s")
                    .arg(report.summary())
                    .arg(double(report.milliseconds) / 1000.0, 0, 'f', 3));
    return report;
}

QString monitorFolder(const QString &storePath)
{
    return QFileInfo(storePath).absolutePath();
}

QString logPathFor(const QString &storePath)
{
    return QDir(monitorFolder(storePath)).filePath(QLatin1String(monitor::kLogFile));
}

QString seenStatePathFor(const QString &storePath)
{
    return QDir(monitorFolder(storePath)).filePath(QStringLiteral("monitor-state.db"));
}

QString storePermissionWarning(const QString &storePath)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(storePath).constData(), &info) != 0)
        return {};
    if ((info.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return {};
    return QStringLiteral("Warning: the settings store %1 can be read by others than its owner, "
                          "and it holds the account passwords (chmod 600 it)")
        .arg(storePath);
}

} // namespace mail
