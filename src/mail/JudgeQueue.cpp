#include "mail/JudgeQueue.h"

namespace mail {

JudgeQueue::JudgeQueue(qsizetype maxItems, qint64 maxBytes)
    : m_maxItems(maxItems)
    , m_maxBytes(maxBytes)
{}

void JudgeQueue::push(int number, QByteArray message)
{
    std::unique_lock lock(m_mutex);
    // One message larger than the whole budget still goes through, alone.
    m_changed.wait(lock, [this, &message] {
        return m_closed || m_items.empty()
               || (qsizetype(m_items.size()) < m_maxItems
                   && m_bytes + message.size() <= m_maxBytes);
    });
    if (m_closed)
        return;
    m_bytes += message.size();
    m_items.push_back({number, std::move(message)});
    m_changed.notify_all();
}

std::optional<JudgeQueue::Item> JudgeQueue::pop()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_closed || !m_items.empty(); });
    if (m_items.empty())
        return std::nullopt;
    Item item = std::move(m_items.front());
    m_items.pop_front();
    m_bytes -= item.message.size();
    m_changed.notify_all();
    return item;
}

void JudgeQueue::close()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

void JudgeQueue::abandon()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_items.clear();
    m_bytes = 0;
    m_changed.notify_all();
}

} // namespace mail
