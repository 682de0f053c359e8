#include "tray/TrayProgram.h"

#include "mail/MonitorFiles.h"
#include "mail/MonitorLog.h"
#include "mail/Settings.h"
#include "tray/PreviewWindow.h"
#include "tray/SingleInstance.h"
#include "tray/TrayIcon.h"
#include "tray/TrayWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QUrl>

namespace tray {

namespace {

constexpr char kConfigurationProgram[] = "OstroveConf";
constexpr char kTestIntervalVariable[] = "OSTROVE_TEST_INTERVAL_SECONDS";

} // namespace

TrayProgram::TrayProgram(QString storePath, mail::MonitorLog &log, SingleInstance &instance)
    : m_storePath(std::move(storePath))
    , m_log(log)
    , m_runner(m_storePath, log)
    , m_window(std::make_unique<TrayWindow>())
    , m_scanEveryMinutes(mail::kDefaultScanEvery)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TrayProgram::checkNow);
    connect(&m_runner, &CheckRunner::checkStarted, this, &TrayProgram::checkStarted);
    connect(&m_runner, &CheckRunner::checkFinished, this, &TrayProgram::checkFinished);
    connect(m_window.get(), &TrayWindow::closeRequested, this, &TrayProgram::quit);
    connect(&instance, &SingleInstance::checkRequested, this, &TrayProgram::checkNow);
}

TrayProgram::~TrayProgram()
{
    m_runner.stop();
}

void TrayProgram::start()
{
    m_log.write(QStringLiteral("Tray program starts"));
    mail::MonitorFiles::warnAboutStore(m_storePath, m_log);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_icon = std::make_unique<TrayIcon>();
        connect(m_icon->acCheckNow, &QAction::triggered, this, &TrayProgram::checkNow);
        connect(m_icon->acPreview, &QAction::triggered, this, &TrayProgram::preview);
        connect(m_icon->acOpenLog, &QAction::triggered, this, &TrayProgram::openLog);
        connect(m_icon->acSettings, &QAction::triggered, this, &TrayProgram::openSettings);
        connect(m_icon->acQuit, &QAction::triggered, this, &TrayProgram::quit);
    } else {
        m_log.write(QStringLiteral("No system tray on this desktop: the tray program runs on "
                                   "without its icon; close its window to end it"));
    }
    checkNow();
}

void TrayProgram::checkNow()
{
    m_timer.stop();
    m_runner.requestCheck();
}

void TrayProgram::preview()
{
    if (!m_preview) {
        m_preview = std::make_unique<PreviewWindow>();
        connect(m_preview.get(), &PreviewWindow::checkAgainRequested, this, &TrayProgram::preview);
    }
    m_preview->showChecking();
    m_preview->show();
    m_preview->raise();
    m_preview->activateWindow();
    m_runner.requestPreview();
}

void TrayProgram::openLog()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_log.path()));
}

void TrayProgram::openSettings()
{
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
    if (m_icon)
        m_icon->showChecking(dryRun);
}

void TrayProgram::checkFinished(const CheckResult &result)
{
    if (m_icon)
        m_icon->showOutcome(result.report);
    if (result.report.dryRun) {
        if (m_preview)
            m_preview->showReport(result.report);
        return; // a preview leaves the schedule as it was
    }
    scheduleNext(result.scanEveryMinutes);
}

void TrayProgram::scheduleNext(std::optional<int> scanEveryMinutes)
{
    if (scanEveryMinutes)
        m_scanEveryMinutes = *scanEveryMinutes;
    m_timer.start(checkIntervalMs(m_scanEveryMinutes));
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
    return std::clamp(scanEveryMinutes, mail::kMinScanEvery, mail::kMaxScanEvery) * 60 * 1000;
}

} // namespace tray
