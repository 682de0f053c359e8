#include "tray/CheckRunner.h"

#include "contract/MonitorContract.h"
#include "mail/AccountSessions.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"
#include "mail/SettingsAndSeenState.h"

#include <QThread>

namespace tray {

namespace {

CheckResult
runCheck(mail::SettingsAndSeenState &files, mail::AccountSessions &sessions, bool dryRun,
         int replyTimeoutMs, int patienceMs, const std::atomic<bool> *cancel,
         const std::function<void(const QString &, const mail::AccountOutcome *)> &progress)
{
    mail::MailCheck::Options options;
    options.dryRun = dryRun;
    options.replyTimeoutMs = replyTimeoutMs;
    options.cancel = cancel;
    // A slow server is waited for only so long: the other accounts are reported on time, and
    // that one is skipped while its session goes on.
    options.sessions = &sessions;
    options.patienceMs = patienceMs;
    options.accountProgress = progress;
    CheckResult result;
    result.report = files.check(options);
    // The interval as the check read it: no second read of the tree for one number.
    if (result.report.settingsProblem.isEmpty())
        result.scanEveryMinutes = result.report.scanEveryMinutes;
    return result;
}

} // namespace

CheckRunner::CheckRunner(const QString &storePath, mail::MonitorLog &log, QObject *parent)
    : QObject(parent)
    // The store is opened at each reading and the seen-state read at each account, so a
    // store replaced or mended since the last check is read as it is now.
    , m_files(std::make_unique<mail::SettingsAndSeenState>(storePath, log))
    , m_sessions(std::make_unique<mail::AccountSessions>())
    , m_patienceMs(mail::MailCheck::patienceFor(std::chrono::minutes(contract::kDefaultScanEvery)))
{}

CheckRunner::~CheckRunner()
{
    stop();
}

void CheckRunner::requestCheck()
{
    m_checkWaiting = true;
    startNext();
}

void CheckRunner::requestPreview()
{
    m_previewWaiting = true;
    startNext();
}

void CheckRunner::stop()
{
    m_stopped = true;
    m_checkWaiting = false;
    m_previewWaiting = false;
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_result.reset();
    }
    // Sessions that outlasted their check end here too, before the files they use.
    m_sessions.reset();
    m_inProgress.clear();
    m_late.clear();
    m_endedBeforeReport.clear();
}

void CheckRunner::startNext()
{
    if (m_thread || m_stopped)
        return;
    if (m_checkWaiting) {
        m_checkWaiting = false;
        start(false);
    } else if (m_previewWaiting) {
        m_previewWaiting = false;
        start(true);
    }
}

void CheckRunner::start(bool dryRun)
{
    m_cancel = false;
    auto result = std::make_shared<CheckResult>();
    m_result = result;
    // Told from the sessions' threads, queued, so the news of an account comes before the end of
    // its check. A slow account's session may end after its check; all end in stop(), before
    // this object goes.
    const auto progress = [this](const QString &address, const mail::AccountOutcome *ended) {
        std::optional<mail::AccountOutcome> outcome;
        if (ended)
            outcome = *ended;
        QMetaObject::invokeMethod(
            this, [this, address, outcome] { accountProgress(address, outcome); },
            Qt::QueuedConnection);
    };
    m_thread = QThread::create([&files = *m_files, &sessions = *m_sessions, dryRun,
                                timeout = m_replyTimeoutMs, patience = m_patienceMs,
                                cancel = &m_cancel, result, progress] {
        *result = runCheck(files, sessions, dryRun, timeout, patience, cancel, progress);
    });
    connect(m_thread, &QThread::finished, this, &CheckRunner::threadDone);
    emit checkStarted(dryRun);
    m_thread->start();
}

void CheckRunner::threadDone()
{
    if (!m_thread) // stopped meanwhile
        return;
    // finished() comes a moment before the thread is wholly done.
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const std::shared_ptr<CheckResult> result = std::move(m_result);
    if (result->scanEveryMinutes && !m_patienceFixed)
        m_patienceMs =
            mail::MailCheck::patienceFor(std::chrono::minutes(*result->scanEveryMinutes));
    if (!m_inProgress.isEmpty()) {
        m_inProgress.clear();
        emit accountsInProgressChanged(m_inProgress);
    }
    QList<mail::AccountOutcome> endedMeanwhile;
    for (const mail::AccountOutcome &account : std::as_const(result->report.accounts)) {
        if (!account.stillRunning)
            continue;
        const auto ended = std::find_if(
            m_endedBeforeReport.cbegin(), m_endedBeforeReport.cend(),
            [&account](const mail::AccountOutcome &o) { return o.address == account.address; });
        if (ended != m_endedBeforeReport.cend())
            endedMeanwhile.append(*ended);
        else
            m_late.append(account.address);
    }
    m_endedBeforeReport.clear();
    emit checkFinished(*result);
    for (const mail::AccountOutcome &outcome : std::as_const(endedMeanwhile))
        emit lateOutcome(outcome);
    startNext();
}

void CheckRunner::accountProgress(const QString &address,
                                  const std::optional<mail::AccountOutcome> &ended)
{
    if (ended && m_late.removeOne(address)) {
        emit lateOutcome(*ended);
        return;
    }
    if (!m_thread)
        return;
    // Its check may yet report it as still being checked: it is told of once that report is out.
    if (ended)
        m_endedBeforeReport.append(*ended);
    if (ended)
        m_inProgress.removeOne(address);
    else
        m_inProgress.append(address);
    emit accountsInProgressChanged(m_inProgress);
}

} // namespace tray
