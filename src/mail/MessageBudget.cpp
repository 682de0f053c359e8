#include "mail/MessageBudget.h"

#include <chrono>

namespace mail {

MessageBudget::MessageBudget(qint64 bytes, int maxWaitMs)
    : m_bytes(std::max<qint64>(bytes, 1))
    , m_maxWaitMs(maxWaitMs)
{}

bool MessageBudget::take(qint64 bytes, bool mayWait, const std::atomic<bool> *cancel)
{
    const qint64 needed = cost(bytes);
    std::unique_lock lock(m_mutex);
    const auto fits = [this, needed] {
        return m_used + needed <= m_bytes;
    };
    if (!mayWait && !fits())
        return false;
    // A cancel is not announced: look at it now and then.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_maxWaitMs);
    while (!fits()) {
        if ((cancel && cancel->load()) || std::chrono::steady_clock::now() >= giveUp)
            return false;
        m_freed.wait_for(lock, std::chrono::milliseconds(std::min(100, m_maxWaitMs)));
    }
    m_used += needed;
    return true;
}

void MessageBudget::give(qint64 bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_used -= cost(bytes);
    }
    m_freed.notify_all();
}

HeldMessages::~HeldMessages()
{
    for (const qint64 bytes : std::as_const(m_held))
        m_budget.give(bytes);
}

bool HeldMessages::take(int number, qint64 bytes, bool mayWait)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_held.contains(number))
            return true;
    }
    if (!m_budget.take(bytes, mayWait, m_cancel))
        return false;
    std::lock_guard lock(m_mutex);
    m_held.insert(number, bytes);
    return true;
}

void HeldMessages::give(int number)
{
    qint64 bytes = -1;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_held.constFind(number); it != m_held.cend()) {
            bytes = *it;
            m_held.erase(it);
        }
    }
    if (bytes >= 0)
        m_budget.give(bytes);
}

} // namespace mail
