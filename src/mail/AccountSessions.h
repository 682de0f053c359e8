#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace mail {

// The accounts being checked, for a program that checks again and again: each account's session
// runs in a thread of its own, which may outlast the check that started it when its server is
// slow, so that the next check is not held up; that account is skipped while it still runs.
// Whatever a session uses must outlive this object, which stops and waits for them all when it
// goes.
class AccountSessions
{
public:
    AccountSessions();
    ~AccountSessions();
    AccountSessions(const AccountSessions &) = delete;
    AccountSessions &operator=(const AccountSessions &) = delete;

    // Starts `job` for the account, unless a session of it still runs (false then).
    bool start(const QByteArray &account, std::function<void()> job);
    bool running(const QByteArray &account);
    // Waits until no session runs, the deadline passes, or `cancel` is set, which stops them
    // all; true when none runs any more.
    bool waitForAll(const QDeadlineTimer &deadline, const std::atomic<bool> *cancel);
    // What the sessions read as their cancel flag: set while they are being stopped.
    const std::atomic<bool> *stopFlag() const { return &m_stop; }

private:
    void forgetEndedLocked();
    void stopAll();

    std::mutex m_mutex;
    std::condition_variable m_ended; // told when a session ends
    // Each running account's flag, set when its session has ended.
    std::map<QByteArray, std::shared_ptr<std::atomic<bool>>> m_sessions;
    std::atomic<bool> m_stop{false};
    // Qt's own threads: a session's socket and its waits need Qt's event dispatcher.
    QThreadPool m_threads;
};

} // namespace mail
