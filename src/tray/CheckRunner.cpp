#include "tray/CheckRunner.h"

#include "mail/MonitorFiles.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"

#include <QThread>

namespace tray {

namespace {

CheckResult runCheck(const QString &storePath, mail::MonitorLog &log, bool dryRun,
                     int replyTimeoutMs, const std::atomic<bool> *cancel,
                     const std::function<void(const QString &, bool)> &progress)
{
    // Each check opens the store and the seen-state afresh: a store replaced or fixed since
    // the last check is read as it is now.
    mail::MonitorFiles files(storePath, log);
    mail::MailCheck::Options options;
    options.dryRun = dryRun;
    options.replyTimeoutMs = replyTimeoutMs;
    options.cancel = cancel;
    options.accountProgress = progress;
    CheckResult result;
    result.report = files.check(options);
    // The interval as the check read it: no second read of the tree for one number.
    if (result.report.settingsProblem.isEmpty())
        result.scanEveryMinutes = result.report.scanEveryMinutes;
    return result;
}

} // namespace

CheckRunner::CheckRunner(QString storePath, mail::MonitorLog &log, QObject *parent)
    : QObject(parent)
    , m_storePath(std::move(storePath))
    , m_log(log)
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
    if (!m_thread)
        return;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_result.reset();
    m_inProgress.clear();
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
    // Told from the sessions' threads, which all end before the check's thread does (and so
    // before this object goes); queued, the news comes before the check's end.
    const auto progress = [this](const QString &address, bool ended) {
        QMetaObject::invokeMethod(
            this, [this, address, ended] { accountProgress(address, ended); },
            Qt::QueuedConnection);
    };
    m_thread = QThread::create([storePath = m_storePath, &log = m_log, dryRun,
                                timeout = m_replyTimeoutMs, cancel = &m_cancel, result, progress] {
        *result = runCheck(storePath, log, dryRun, timeout, cancel, progress);
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
    if (!m_inProgress.isEmpty()) {
        m_inProgress.clear();
        emit accountsInProgressChanged(m_inProgress);
    }
    emit checkFinished(*result);
    startNext();
}

void CheckRunner::accountProgress(const QString &address, bool ended)
{
    if (!m_thread)
        return;
    if (ended)
        m_inProgress.removeOne(address);
    else
        m_inProgress.append(address);
    emit accountsInProgressChanged(m_inProgress);
}

} // namespace tray
