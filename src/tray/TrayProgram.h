#pragma once

#include "tray/CheckRunner.h"
#include "tray/TrayStatus.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class LogWindow;

namespace mail {
class MonitorLog;
}

namespace tray {

class AllowedSendersWindow;
class PreviewWindow;
class RemovedMailWindow;
class SingleInstance;
class TrayIcon;
class TrayWindow;

// The running tray program: checks at start and then every ScanEvery minutes, the icon and its
// menu once the desktop has a tray, the window the configuration page finds, the preview, the
// list of removed mail. Built by main once this is the only tray program for the store.
class TrayProgram : public QObject
{
    Q_OBJECT

public:
    TrayProgram(QString storePath, mail::MonitorLog &log, SingleInstance &instance);
    ~TrayProgram() override;

    void start();
    void checkNow();
    void preview();
    // Scheduled checks stop until resumed, also across starts; Check now and Preview still run.
    void setPaused(bool paused);
    void showRemovedMail();
    void showAllowedSenders();
    void openLog();
    void openSettings();
    // Cancels a check under way and ends the event loop.
    void quit();

    CheckRunner &runner() { return m_runner; }
    TrayWindow &window() { return *m_window; }
    TrayIcon *icon() const { return m_icon.get(); }
    PreviewWindow *previewWindow() const { return m_preview.get(); }
    RemovedMailWindow *removedMailWindow() const { return m_removed.get(); }
    AllowedSendersWindow *allowedSendersWindow() const { return m_allowed.get(); }
    LogWindow *logWindow() const { return m_logWindow.get(); }
    const TrayStatus &status() const { return m_status; }
    int intervalMs() const { return m_timer.interval(); }
    bool checkScheduled() const { return m_timer.isActive(); }
    // Tests name a program that stands for the desktop's document opener.
    void setDocumentOpener(const QString &program) { m_opener = program; }

private:
    void lookForTray();
    void anotherStart();
    QString pausedMarkPath() const;
    void checkStarted(bool dryRun);
    void checkFinished(const tray::CheckResult &result);
    void accountsInProgressChanged(const QStringList &accounts);
    void lateOutcome(const mail::AccountOutcome &outcome);
    void scheduleNext(std::optional<int> scanEveryMinutes);
    void storeChanged();
    void showLogWindow();
    void showStatus();

    QString m_storePath;
    mail::MonitorLog &m_log;
    CheckRunner m_runner;
    std::unique_ptr<TrayWindow> m_window;
    std::unique_ptr<TrayIcon> m_icon;
    std::unique_ptr<PreviewWindow> m_preview;
    std::unique_ptr<RemovedMailWindow> m_removed;
    std::unique_ptr<AllowedSendersWindow> m_allowed;
    std::unique_ptr<LogWindow> m_logWindow;
    QTimer m_timer;
    QTimer m_trayWatch;
    QFileSystemWatcher m_storeWatch;
    TrayStatus m_status;
    QDateTime m_checkStartedAt; // of the last real check
    QSet<QString> m_failing;
    QString m_heldNotice; // held mail is told once, not after every check that holds it again
    QString m_opener;
    int m_scanEveryMinutes;
    bool m_realCheckRunning = false;
    bool m_previewWaits = false; // a preview asked for waits for the real check under way
    bool m_quitting = false;
};

// The configuration program beside this one.
QString configurationProgramPath();
// The wait between checks; OSTROVE_TEST_INTERVAL_SECONDS shortens it for tests only.
int checkIntervalMs(int scanEveryMinutes);

} // namespace tray
