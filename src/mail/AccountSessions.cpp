#include "mail/AccountSessions.h"

#include <chrono>

namespace mail {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);
// Sessions at once, slow ones included; a check itself runs fewer at a time.
constexpr int kMostSessions = 64;

} // namespace

AccountSessions::AccountSessions()
{
    m_threads.setMaxThreadCount(kMostSessions);
}

AccountSessions::~AccountSessions()
{
    stopAll();
}

void AccountSessions::forgetEndedLocked()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second->load())
            it = m_sessions.erase(it);
        else
            ++it;
    }
}

bool AccountSessions::start(const QByteArray &account, std::function<void()> job)
{
    std::lock_guard lock(m_mutex);
    forgetEndedLocked();
    if (m_sessions.count(account) > 0)
        return false;
    auto ended = std::make_shared<std::atomic<bool>>(false);
    m_sessions.emplace(account, ended);
    m_threads.start([this, job = std::move(job), ended] {
        job();
        {
            std::lock_guard ending(m_mutex);
            ended->store(true);
        }
        m_ended.notify_all();
    });
    return true;
}

bool AccountSessions::running(const QByteArray &account)
{
    std::lock_guard lock(m_mutex);
    forgetEndedLocked();
    return m_sessions.count(account) > 0;
}

bool AccountSessions::waitForAll(const QDeadlineTimer &deadline, const std::atomic<bool> *cancel)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        forgetEndedLocked();
        if (m_sessions.empty())
            return true;
        if (cancel && cancel->load()) {
            lock.unlock();
            stopAll();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        // Woken as a session ends; a cancel is not announced, so it is looked at now and then.
        const qint64 left = deadline.isForever() ? kPoll.count() : deadline.remainingTime();
        m_ended.wait_for(lock, std::min(kPoll, std::chrono::milliseconds(left)));
    }
}

void AccountSessions::stopAll()
{
    m_stop = true;
    m_threads.waitForDone();
    std::lock_guard lock(m_mutex);
    m_sessions.clear();
    m_stop = false;
}

} // namespace mail
