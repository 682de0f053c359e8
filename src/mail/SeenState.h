#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

struct sqlite3;

namespace mail {

// Which messages of each account were judged, and under which rules: kept in a small SQLite
// file beside the settings store, or in memory when that folder cannot be written or others may
// write it. The file is never opened through a link. Safe to use from several account threads.
class SeenState
{
public:
    explicit SeenState(const QString &path);
    ~SeenState();
    SeenState(const SeenState &) = delete;
    SeenState &operator=(const SeenState &) = delete;

    // Why the file could not be used (the state then lives in memory), else empty.
    QString problem() const { return m_problem; }
    // Why a record could not be written to the file since the last call (it was kept in
    // memory instead), else empty.
    QString takeWriteProblem();

    // What the last checks of an account left, in one read: the unique ids judged under these
    // rules (none when the rules changed since), and those the last real check removed (the
    // server confirmed QUIT: one still on the server was kept by it).
    struct Previous
    {
        QSet<QByteArray> judged;
        QSet<QByteArray> removed;
    };
    Previous previous(const QByteArray &account, const QByteArray &fingerprint);
    QSet<QByteArray> judged(const QByteArray &account, const QByteArray &fingerprint)
    {
        return previous(account, fingerprint).judged;
    }
    // Removals a rule would make that look like a slip (it would empty much of a mailbox) are
    // held until the person releases that rule for that account.
    struct HeldRule
    {
        QByteArray account;
        QString list;
        QString pattern;
        int count = 0;
    };
    bool released(const QByteArray &account, const QString &list, const QString &pattern);
    void hold(const QByteArray &account, const QString &list, const QString &pattern, int count);
    QList<HeldRule> heldRules();
    // Releases the held rules (of one account and rule, or all of them); returns those released.
    QList<HeldRule> release(const std::optional<HeldRule> &only = std::nullopt);

    // Records the ids judged now under these rules, and those removed now. Ids not in
    // `onServer` are dropped; ids judged before stay when they are still there.
    void record(const QByteArray &account, const QByteArray &fingerprint,
                const QSet<QByteArray> &onServer, const QSet<QByteArray> &judgedNow,
                const QSet<QByteArray> &removedNow = {});

private:
    struct Entry
    {
        QByteArray fingerprint;
        QSet<QByteArray> ids;
        QSet<QByteArray> removed;
    };
    bool load(const QByteArray &account, Entry *entry);
    bool store(const QByteArray &account, const Entry &entry);

    bool storeInFile(const QByteArray &account, const Entry &entry);

    std::mutex m_mutex;
    QString m_path;
    sqlite3 *m_db = nullptr;
    QString m_problem;
    QString m_writeProblem;
    // Every account when there is no file; else those whose record the file refused.
    QHash<QByteArray, Entry> m_memory;
    QList<std::pair<HeldRule, bool>> m_memoryHolds; // without a file: each held rule, released
};

} // namespace mail
