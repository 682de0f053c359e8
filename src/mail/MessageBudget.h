#pragma once

#include <QHash>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace mail {

// The bytes of whole messages that a check holds at once, read or waiting to be judged, shared
// by all its accounts: judging a message costs several times its size, so four accounts each
// judging a 60 MB message at once would need gigabytes. A message larger than the budget takes
// all of it, alone.
class MessageBudget
{
public:
    // Waits for room are bounded by `maxWaitMs`: one account's slow large message must not
    // hold up the others' checks for as long as its server takes.
    MessageBudget(qint64 bytes, int maxWaitMs);

    // Takes room for `bytes`. Without `mayWait` only if it is free now; with it, waits until
    // it is, for the longest wait at most, or until `cancel` is set (false then).
    bool take(qint64 bytes, bool mayWait, const std::atomic<bool> *cancel);
    void give(qint64 bytes);

private:
    qint64 cost(qint64 bytes) const { return std::clamp<qint64>(bytes, 0, m_bytes); }

    std::mutex m_mutex;
    std::condition_variable m_freed;
    const qint64 m_bytes;
    const int m_maxWaitMs;
    qint64 m_used = 0;
};

// One account's share of the budget, by message number: what it took is given back once the
// message is judged, or when the account's check ends, however it ends.
class HeldMessages
{
public:
    HeldMessages(MessageBudget &budget, const std::atomic<bool> *cancel)
        : m_budget(budget)
        , m_cancel(cancel)
    {}
    ~HeldMessages();
    HeldMessages(const HeldMessages &) = delete;
    HeldMessages &operator=(const HeldMessages &) = delete;

    bool take(int number, qint64 bytes, bool mayWait);
    void give(int number);

private:
    MessageBudget &m_budget;
    const std::atomic<bool> *m_cancel;
    std::mutex m_mutex;
    QHash<int, qint64> m_held;
};

} // namespace mail
