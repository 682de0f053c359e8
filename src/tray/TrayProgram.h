#pragma once

#include "tray/CheckRunner.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace mail {
class MonitorLog;
}

namespace tray {

class PreviewWindow;
class SingleInstance;
class TrayIcon;
class TrayWindow;

// The running tray program: checks at start and then every ScanEvery minutes, the icon and its
// menu when the desktop has a tray, the window the configuration page finds, the preview. Built
// by main once this is the only tray program for the store.
class TrayProgram : public QObject
{
    Q_OBJECT

public:
    TrayProgram(QString storePath, mail::MonitorLog &log, SingleInstance &instance);
    ~TrayProgram() override;

    void start();
    void checkNow();
    void preview();
    void openLog();
    void openSettings();
    // Cancels a check under way and ends the event loop.
    void quit();

    CheckRunner &runner() { return m_runner; }
    TrayWindow &window() { return *m_window; }
    PreviewWindow *previewWindow() const { return m_preview.get(); }
    int intervalMs() const { return m_timer.interval(); }

private:
    void checkStarted(bool dryRun);
    void checkFinished(const tray::CheckResult &result);
    void scheduleNext(std::optional<int> scanEveryMinutes);

    QString m_storePath;
    mail::MonitorLog &m_log;
    CheckRunner m_runner;
    std::unique_ptr<TrayWindow> m_window;
    std::unique_ptr<TrayIcon> m_icon;
    std::unique_ptr<PreviewWindow> m_preview;
    QTimer m_timer;
    int m_scanEveryMinutes;
    bool m_quitting = false;
};

// The configuration program beside this one.
QString configurationProgramPath();
// The wait between checks; OSTROVE_TEST_INTERVAL_SECONDS shortens it for tests only.
int checkIntervalMs(int scanEveryMinutes);

} // namespace tray
