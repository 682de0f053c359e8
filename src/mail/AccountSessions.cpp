#include "mail/AccountSessions.h"

#include <chrono>
#include <thread>

namespace mail {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
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
    m_threads.start([job = std::move(job), ended] {
        job();
        ended->store(true);
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
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            forgetEndedLocked();
            if (m_sessions.empty())
                return true;
        }
        if (cancel && cancel->load()) {
            stopAll();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(kPoll);
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
