#include "tray/TrayProgram.h"

#include "contract/MonitorContract.h"
#include "logwindow/LogWindow.h"
#include "mail/MailCheck.h"
#include "mail/MonitorLog.h"
#include "mail/RemovedRecord.h"
#include "mail/Settings.h"
#include "mail/SettingsAndSeenState.h"
#include "platform/Processes.h"
#include "platform/X11Windows.h"
#include "store/SqliteStore.h"
#include "tray/AllowedSendersWindow.h"
#include "tray/PreviewWindow.h"
#include "tray/RemovedMailWindow.h"
#include "tray/SingleInstance.h"
#include "tray/TrayIcon.h"
#include "tray/TrayWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSystemTrayIcon>

namespace tray {

namespace {

constexpr char kConfigurationProgram[] = "OstroveConf";
constexpr char kConfigurationTitle[] = "Ostrove Configuration";
constexpr char kTestIntervalVariable[] = "OSTROVE_TEST_INTERVAL_SECONDS";
// At login the panel may come up after the autostart programs: its tray is looked for until
// it is there.
constexpr int kTrayWatchMs = 2000;

void bringToFront(QWidget &window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

TrayProgram::TrayProgram(QString storePath, mail::MonitorLog &log, SingleInstance &instance)
    : m_storePath(std::move(storePath))
    , m_log(log)
    , m_runner(m_storePath, log)
    , m_window(std::make_unique<TrayWindow>())
    , m_opener(QStringLiteral("xdg-open"))
    , m_scanEveryMinutes(contract::kDefaultScanEvery)
{
    m_timer.setSingleShot(true);
    m_trayWatch.setInterval(kTrayWatchMs);
    connect(&m_timer, &QTimer::timeout, this, &TrayProgram::checkNow);
    connect(&m_trayWatch, &QTimer::timeout, this, &TrayProgram::lookForTray);
    connect(&m_runner, &CheckRunner::checkStarted, this, &TrayProgram::checkStarted);
    connect(&m_runner, &CheckRunner::checkFinished, this, &TrayProgram::checkFinished);
    connect(&m_runner, &CheckRunner::accountsInProgressChanged, this,
            &TrayProgram::accountsInProgressChanged);
    connect(&m_runner, &CheckRunner::lateOutcome, this, &TrayProgram::lateOutcome);
    connect(m_window.get(), &TrayWindow::closeRequested, this, &TrayProgram::quit);
    connect(&instance, &SingleInstance::checkRequested, this, &TrayProgram::anotherStart);
    m_status.paused = QFileInfo::exists(pausedMarkPath());
    // A new interval is in force at once, not once the old one has run out. The folder too:
    // a store replaced whole is a new file, which the watch on the old one does not see.
    m_storeWatch.addPath(QFileInfo(m_storePath).absolutePath());
    if (QFileInfo::exists(m_storePath))
        m_storeWatch.addPath(m_storePath);
    connect(&m_storeWatch, &QFileSystemWatcher::fileChanged, this, &TrayProgram::storeChanged);
    connect(&m_storeWatch, &QFileSystemWatcher::directoryChanged, this, &TrayProgram::storeChanged);
}

TrayProgram::~TrayProgram()
{
    m_runner.stop();
}

void TrayProgram::start()
{
    m_log.write(QStringLiteral("Tray program starts"));
    mail::SettingsAndSeenState::warnAboutStore(m_storePath, m_log);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        lookForTray();
    } else {
        m_log.write(QStringLiteral("No system tray on this desktop: the tray program runs on "
                                   "without its icon until one appears; close its window to "
                                   "end it"));
        m_trayWatch.start();
    }
    if (m_status.paused) {
        m_log.write(QStringLiteral("Checks stay paused, as they were left"));
        showStatus();
        return;
    }
    checkNow();
}

// A second start (the page's Start, or the autostart entry) asks for a check; a pause holds
// until the person resumes it.
void TrayProgram::anotherStart()
{
    if (m_status.paused) {
        m_log.write(QStringLiteral("Another start asked for a check: checks are paused"));
        return;
    }
    checkNow();
}

// Kept beside the monitor's other files, so that a pause outlives the program and the login.
QString TrayProgram::pausedMarkPath() const
{
    return QDir(mail::monitorFolder(m_storePath)).filePath(QStringLiteral("tray-paused"));
}

void TrayProgram::lookForTray()
{
    if (m_icon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (m_trayWatch.isActive()) {
        m_trayWatch.stop();
        m_log.write(QStringLiteral("A system tray appeared: the tray icon is shown"));
    }
    m_icon = std::make_unique<TrayIcon>();
    connect(m_icon->acCheckNow, &QAction::triggered, this, &TrayProgram::checkNow);
    connect(m_icon->acPreview, &QAction::triggered, this, &TrayProgram::preview);
    connect(m_icon->acPause, &QAction::triggered, this, [this] { setPaused(!m_status.paused); });
    connect(m_icon->acRemovedMail, &QAction::triggered, this, &TrayProgram::showRemovedMail);
    connect(m_icon->acAllowedSenders, &QAction::triggered, this, &TrayProgram::showAllowedSenders);
    connect(m_icon->acOpenLog, &QAction::triggered, this, &TrayProgram::openLog);
    connect(m_icon->acSettings, &QAction::triggered, this, &TrayProgram::openSettings);
    connect(m_icon->acQuit, &QAction::triggered, this, &TrayProgram::quit);
    connect(m_icon.get(), &TrayIcon::removedNoticeClicked, this, &TrayProgram::showRemovedMail);
    showStatus();
}

void TrayProgram::checkNow()
{
    m_timer.stop();
    m_runner.requestCheck();
}

void TrayProgram::preview()
{
    if (!m_preview) {
        m_preview = std::make_unique<PreviewWindow>(m_storePath);
        connect(m_preview.get(), &PreviewWindow::checkAgainRequested, this, &TrayProgram::preview);
        connect(m_preview.get(), &PreviewWindow::checkNowRequested, this, &TrayProgram::checkNow);
    }
    m_previewWaits = m_realCheckRunning;
    if (m_realCheckRunning)
        m_preview->showWaiting(m_runner.accountsInProgress());
    else
        m_preview->showChecking();
    bringToFront(*m_preview);
    m_runner.requestPreview();
}

void TrayProgram::setPaused(bool paused)
{
    if (paused == m_status.paused)
        return;
    m_status.paused = paused;
    m_log.write(paused ? QStringLiteral("Checks paused") : QStringLiteral("Checks resumed"));
    QFile mark(pausedMarkPath());
    const bool kept = paused ? mark.open(QIODevice::WriteOnly) : (!mark.exists() || mark.remove());
    if (!kept)
        m_log.write(QStringLiteral("Warning: the pause cannot be kept for the next start (%1)")
                        .arg(mark.errorString()));
    if (paused) {
        m_timer.stop();
    } else if (!m_runner.isRunning()) {
        // A check that fell due during the pause runs now.
        const qint64 wait = QDateTime::currentDateTime().msecsTo(m_status.nextCheckAt);
        if (!m_status.nextCheckAt.isValid() || wait <= 0)
            checkNow();
        else
            m_timer.start(int(wait));
    }
    showStatus();
}

void TrayProgram::showRemovedMail()
{
    if (!m_removed)
        m_removed = std::make_unique<RemovedMailWindow>(m_storePath);
    // Shown first: its columns are fitted to the width it is shown at.
    bringToFront(*m_removed);
    m_removed->reload();
}

void TrayProgram::showAllowedSenders()
{
    if (!m_allowed)
        m_allowed = std::make_unique<AllowedSendersWindow>(m_storePath);
    m_allowed->reload();
    bringToFront(*m_allowed);
}

void TrayProgram::openLog()
{
    const QString path = m_log.path();
    createLogIfMissing(path);
    // Where no viewer for text starts, or one starts and fails, the log is shown in a window
    // of our own.
    platform::SystemProcesses(m_opener).openDocument(path, this, [this](bool opened) {
        if (!opened)
            showLogWindow();
    });
}

void TrayProgram::showLogWindow()
{
    if (!m_logWindow) {
        m_logWindow = std::make_unique<LogWindow>(m_log.path());
        m_logWindow->setWindowIcon(programIcon());
    }
    m_logWindow->reload();
    bringToFront(*m_logWindow);
}

void TrayProgram::openSettings()
{
    // A second configuration program on the same store would only confuse: the open one is
    // brought to the front instead.
    platform::X11Windows windows;
    if (windows.activate(QLatin1String(kConfigurationTitle)))
        return;
    if (!QProcess::startDetached(configurationProgramPath(), {}))
        m_log.write(QStringLiteral("The configuration program cannot be started: %1")
                        .arg(configurationProgramPath()));
}

void TrayProgram::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_timer.stop();
    m_runner.stop();
    m_log.write(QStringLiteral("Tray program ends"));
    QCoreApplication::quit();
}

void TrayProgram::checkStarted(bool dryRun)
{
    m_realCheckRunning = !dryRun;
    if (dryRun) {
        m_previewWaits = false;
        m_status.previewing = true;
        if (m_preview)
            m_preview->showChecking();
    } else {
        m_status.checking = true;
        m_checkStartedAt = QDateTime::currentDateTime();
    }
    showStatus();
}

void TrayProgram::accountsInProgressChanged(const QStringList &accounts)
{
    if (!m_preview)
        return;
    if (m_status.previewing)
        m_preview->showChecking(accounts);
    else if (m_previewWaits && !accounts.isEmpty())
        m_preview->showWaiting(accounts);
}

void TrayProgram::checkFinished(const CheckResult &result)
{
    m_realCheckRunning = false;
    const mail::CheckReport &report = result.report;
    if (report.dryRun) {
        m_status.previewing = false;
        if (m_preview)
            m_preview->showReport(report);
        showStatus(); // a preview leaves the last check's outcome and the schedule as they were
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    m_status.checking = false;
    m_status.lastCheck = report;
    m_status.lastCheckAt = now;
    const AccountChanges changes = accountChanges(m_failing, report);
    if (report.settingsProblem.isEmpty())
        m_failing = failingAccounts(report);
    scheduleNext(result.scanEveryMinutes);
    showStatus();
    QString held = heldMailNotice(report);
    if (held == m_heldNotice) {
        held.clear();
    } else {
        m_heldNotice = held;
    }
    if (m_icon)
        m_icon->announce(removedMailNotice(report), changes, held);
}

// The last check reported this account as still being checked: its outcome takes that place,
// and what it removed is told as any check's removals are.
void TrayProgram::lateOutcome(const mail::AccountOutcome &outcome)
{
    if (m_status.lastCheck) {
        mail::CheckReport &report = *m_status.lastCheck;
        for (mail::AccountOutcome &account : report.accounts) {
            if (account.stillRunning && account.address == outcome.address) {
                account = outcome;
                report.judged += outcome.judged;
                report.removed += int(outcome.matched.size());
                break;
            }
        }
        showStatus();
    }
    mail::CheckReport late;
    late.accounts = {outcome};
    late.removed = int(outcome.matched.size());
    if (m_icon && late.removed > 0)
        m_icon->announce(removedMailNotice(late), {});
}

void TrayProgram::scheduleNext(std::optional<int> scanEveryMinutes)
{
    if (scanEveryMinutes)
        m_scanEveryMinutes = *scanEveryMinutes;
    // From the last check's start, so that a slow check does not push every later one back.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime from = m_checkStartedAt.isValid() ? m_checkStartedAt : now;
    m_status.nextCheckAt = std::max(now, from.addMSecs(checkIntervalMs(m_scanEveryMinutes)));
    const int wait = int(now.msecsTo(m_status.nextCheckAt));
    if (m_status.paused)
        return;
    m_timer.start(wait);
}

void TrayProgram::storeChanged()
{
    if (!m_storeWatch.files().contains(m_storePath) && QFileInfo::exists(m_storePath))
        m_storeWatch.addPath(m_storePath);
    // A check under way reads the interval itself, and plans the next when it ends. A store
    // missing for a moment (replaced whole) would read as an empty tree.
    if (m_realCheckRunning || !m_checkStartedAt.isValid()
        || !mail::settingsFileProblem(m_storePath).isEmpty())
        return;
    store::SqliteStore::Options readOnly;
    readOnly.readOnly = true;
    store::SqliteStore settings(m_storePath, readOnly);
    QString error;
    const std::optional<mail::MonitorSettings> read = mail::readMonitorSettings(settings, &error);
    if (!read || read->scanEveryMinutes == m_scanEveryMinutes)
        return;
    m_log.write(QStringLiteral("Interval changed to %1 min: the next check is due that long after "
                               "the last one began")
                    .arg(read->scanEveryMinutes));
    scheduleNext(read->scanEveryMinutes);
    showStatus();
}

void TrayProgram::showStatus()
{
    if (m_icon)
        m_icon->showStatus(m_status);
}

QString configurationProgramPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/')
           + QLatin1String(kConfigurationProgram);
}

int checkIntervalMs(int scanEveryMinutes)
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue(kTestIntervalVariable, &ok);
    if (ok && seconds > 0)
        return seconds * 1000;
    return std::clamp(scanEveryMinutes, contract::kMinScanEvery, contract::kMaxScanEvery) * 60
           * 1000;
}

} // namespace tray
