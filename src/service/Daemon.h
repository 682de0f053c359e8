#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace service {

// OstroveService as systemd runs it: a check at once, then one every ScanEvery minutes with
// the settings read anew each time, its outcome shown as the unit's status. A stop request
// ends a check under way without QUIT (so nothing is removed) and the daemon within moments.
class Daemon
{
public:
    explicit Daemon(QString storePath);

    // Runs until requestStop(); the exit status.
    int run();
    // Safe from any thread, not from a signal handler (see main).
    void requestStop();

    // OSTROVE_TEST_INTERVAL_SECONDS, for tests only: the settings keep minutes.
    static std::optional<std::chrono::seconds> testInterval();

private:
    enum class Wake
    {
        Due,
        SettingsChanged,
        Stop,
    };
    Wake waitForNextCheck(std::chrono::steady_clock::time_point due);
    void settingsChanged();

    QString m_storePath;
    std::atomic<bool> m_stop{false};
    bool m_settingsChanged = false; // under m_mutex
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

} // namespace service
