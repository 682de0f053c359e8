#include "tray/CheckRunner.h"

#include "mail/MonitorFiles.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"

#include <QThread>

namespace tray {

namespace {

CheckResult runCheck(const QString &storePath, mail::MonitorLog &log, bool dryRun,
                     int replyTimeoutMs, const std::atomic<bool> *cancel)
{
    // Each check opens the store and the seen-state afresh: a store replaced or fixed since
    // the last check is read as it is now.
    mail::MonitorFiles files(storePath, log);
    mail::MailCheck::Options options;
    options.dryRun = dryRun;
    options.replyTimeoutMs = replyTimeoutMs;
    options.cancel = cancel;
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
    m_thread = QThread::create([storePath = m_storePath, &log = m_log, dryRun,
                                timeout = m_replyTimeoutMs, cancel = &m_cancel, result] {
        *result = runCheck(storePath, log, dryRun, timeout, cancel);
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
    emit checkFinished(*result);
    startNext();
}

} // namespace tray
