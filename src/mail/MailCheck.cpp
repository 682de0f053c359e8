#include "mail/MailCheck.h"

#include "contract/MonitorContract.h"
#include "mail/AccountCheck.h"
#include "mail/AccountSessions.h"
#include "mail/MessageBudget.h"
#include "mail/MonitorLog.h"
#include "mail/RemovedCopies.h"
#include "mail/Settings.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <memory>
#include <semaphore>
#include <sys/stat.h>
#include <vector>

namespace mail {

// One check's rules, trust and budget, shared by its accounts' sessions.
struct CheckInProgress
{
    CheckInProgress(const MonitorSettings &read, SeenState &seen, MonitorLog &log,
                    const MailCheck::Options &options)
        : settings(read)
        , rules(read)
        , budget(options.wholeMessageBytes, options.wholeMessageWaitMs)
        , context{rules,
                  seen,
                  log,
                  trust,
                  options.dryRun,
                  options.connectTimeoutMs,
                  options.replyTimeoutMs,
                  options.sessionTimeoutMs,
                  nullptr,
                  &budget,
                  options.removedRecord}
        , copies(options.dryRun || options.removedCopiesFolder.isEmpty()
                         || read.keepRemovedDays <= 0
                     ? std::nullopt
                     : std::make_optional<RemovedCopies>(
                         options.removedCopiesFolder, read.keepRemovedDays,
                         qint64(read.keepRemovedMegabytes) * 1024 * 1024))
        , slots(std::max(1, options.accountsAtOnce))
        , outcomes(read.accounts.size())
        , done(std::make_unique<std::atomic<bool>[]>(size_t(read.accounts.size())))
        , progress(options.accountProgress)
    {
        if (copies)
            context.copies = &*copies;
    }

    void runAccount(qsizetype index)
    {
        const QString address = QString::fromLocal8Bit(settings.accounts[index].address);
        if (progress)
            progress(address, nullptr);
        const auto ended = qScopeGuard([&] {
            if (progress)
                progress(address, &outcomes[index]);
        });
        // So many accounts at once, the others wait their turn (or the stop).
        while (!slots.try_acquire_for(std::chrono::milliseconds(50))) {
            if (context.cancel && context.cancel->load()) {
                outcomes[index].address = QString::fromLocal8Bit(settings.accounts[index].address);
                outcomes[index].failure = QStringLiteral("stopped");
                done[index] = true;
                return;
            }
        }
        outcomes[index] = AccountCheck(context).run(settings.accounts[index]);
        slots.release();
        done[index] = true;
    }

    const MonitorSettings settings;
    const Rules rules;
    TlsTrust trust;
    MessageBudget budget;
    AccountCheck::Context context;
    std::optional<RemovedCopies> copies;
    std::counting_semaphore<1024> slots;
    std::vector<AccountOutcome> outcomes;
    std::unique_ptr<std::atomic<bool>[]> done;
    const std::function<void(const QString &, const AccountOutcome *)> progress;
};

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

QString countOf(qsizetype count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString CheckReport::summary() const
{
    if (!settingsProblem.isEmpty()) {
        const QString sentence = settingsProblemSentence(settingsProblem);
        if (sentence.startsWith(u"the settings cannot be read: "))
            return QStringLiteral("Settings cannot be read: %1").arg(settingsProblem);
        return sentence.at(0).toUpper() + sentence.mid(1);
    }
    int failed = 0;
    int slow = 0;
    int unreadable = 0;
    int notKept = 0;
    qsizetype held = 0;
    for (const AccountOutcome &account : accounts) {
        held += account.held.size();
        failed += account.checked || account.stillRunning ? 0 : 1;
        slow += account.stillRunning ? 1 : 0;
        unreadable += account.unreadable;
        notKept += account.notKept;
    }
    QString text = accounts.isEmpty() ? QStringLiteral("no accounts are set up")
                                      : QStringLiteral("%1, %2 judged, %3 %4")
                                            .arg(countOf(accounts.size(), "account", "accounts"),
                                                 countOf(judged, "message", "messages"))
                                            .arg(removed)
                                            .arg(dryRun ? QStringLiteral("would be removed")
                                                        : QStringLiteral("removed"));
    if (unreadable > 0)
        text += QStringLiteral(", %1 could not be read").arg(unreadable);
    if (held > 0)
        text += QStringLiteral(", %1 held").arg(held);
    if (notKept > 0)
        text += QStringLiteral(", %1 not removed: no copy could be kept").arg(notKept);
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    if (slow > 0)
        text += QStringLiteral(", %1 still being checked").arg(slow);
    if (!logProblem.isEmpty())
        text += QStringLiteral(", the log cannot be written (%1)").arg(logProblem);
    return text;
}

MailCheck::MailCheck(store::Store &store, SeenState &seen, MonitorLog &log, Options options)
    : m_store(store)
    , m_seen(seen)
    , m_log(log)
    , m_options(std::move(options))
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
        m_log.write(QStringLiteral("Check failed: %1").arg(settingsProblemSentence(problem)));
        return report;
    }
    report.scanEveryMinutes = settings->scanEveryMinutes;
    report.autorun = settings->autorun;
    // What the accounts' sessions use lives as long as the last of them, which may outlast
    // this check when its server is slow.
    auto check = std::make_shared<CheckInProgress>(*settings, m_seen, m_log, m_options);
    m_log.write(
        QStringLiteral("Check begins%1: %2")
            .arg(m_options.dryRun ? QStringLiteral(" (dry run, nothing is removed)") : QString(),
                 countOf(settings->accounts.size(), "account", "accounts")));
    if (settings->accounts.isEmpty())
        m_log.write(QStringLiteral("Check: no accounts are set up"));
    for (const QString &warning : check->rules.warnings())
        m_log.write(QStringLiteral("Warning: %1").arg(warning));

    std::optional<AccountSessions> ownSessions;
    AccountSessions *sessions = m_options.sessions;
    if (!sessions)
        sessions = &ownSessions.emplace();
    check->context.cancel = sessions->stopFlag();
    const qsizetype count = settings->accounts.size();
    report.accounts.resize(count);
    QList<bool> started(count, false);
    for (qsizetype i = 0; i < count; ++i) {
        const AccountSettings &account = check->settings.accounts[i];
        started[i] =
            sessions->start(accountIdentity(account), [check, i] { check->runAccount(i); });
        if (!started[i]) {
            AccountOutcome &outcome = report.accounts[i];
            outcome.address = QString::fromLocal8Bit(account.address);
            outcome.failure = QStringLiteral("not checked: its previous check is still running");
            m_log.write(QStringLiteral("%1: %2").arg(outcome.address, outcome.failure));
        }
    }
    const QDeadlineTimer patience = m_options.patienceMs < 0
                                        ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(m_options.patienceMs);
    sessions->waitForAll(patience, m_options.cancel);
    for (qsizetype i = 0; i < count; ++i) {
        if (!started[i])
            continue;
        if (check->done[i].load()) {
            report.accounts[i] = check->outcomes[i];
            continue;
        }
        AccountOutcome &outcome = report.accounts[i];
        outcome.address = QString::fromLocal8Bit(check->settings.accounts[i].address);
        outcome.stillRunning = true;
        outcome.failure = QStringLiteral("still being checked after %1 s (a slow server); its "
                                         "outcome is logged when it ends")
                              .arg(m_options.patienceMs / 1000);
        m_log.write(QStringLiteral("%1: %2").arg(outcome.address, outcome.failure));
    }

    for (const AccountOutcome &account : std::as_const(report.accounts)) {
        report.judged += account.judged;
        report.removed += int(account.matched.size());
    }
    // Copies past their days or beyond their room go; a slow account's session that is still
    // under way keeps what it needs.
    if (check->copies)
        check->copies->expire(QDateTime::currentDateTime());
    report.milliseconds = clock.elapsed();
    report.logProblem = m_log.takeWriteProblem();
    m_log.write(QStringLiteral("Check ends: %1 in %2 s")
                    .arg(report.summary())
                    .arg(double(report.milliseconds) / 1000.0, 0, 'f', 3));
    return report;
}

int MailCheck::patienceFor(std::chrono::milliseconds interval)
{
    constexpr qint64 kLongestPatienceMs = 5 * 60 * 1000;
    return int(std::min<qint64>(interval.count() / 2, kLongestPatienceMs));
}

QString monitorFolder(const QString &storePath)
{
    return QFileInfo(storePath).absolutePath();
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
