#pragma once

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace mail {

// Messages on their way from the thread that reads them off the server to the thread that
// judges them, so that reading and judging overlap. Bounded in count and bytes: a reader ahead
// of the judge waits rather than holding the mailbox in memory.
class JudgeQueue
{
public:
    struct Item
    {
        int number = 0;
        QByteArray message;
    };

    JudgeQueue(qsizetype maxItems, qint64 maxBytes);

    void push(int number, QByteArray message);
    // The next message, or none once the queue is closed and empty.
    std::optional<Item> pop();
    // No more messages come; those queued are still judged.
    void close();
    // No more messages come, and those queued are dropped (the session failed).
    void abandon();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    qsizetype m_maxItems;
    qint64 m_maxBytes;
    qint64 m_bytes = 0;
    bool m_closed = false;
};

} // namespace mail
