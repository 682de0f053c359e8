#include "mail/SeenState.h"

#include "mail/SettingsAndSeenState.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sqlite3.h>
#include <sys/stat.h>
#include <utility>

namespace mail {

namespace {

constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS accounts (
  account     BLOB PRIMARY KEY,
  fingerprint BLOB NOT NULL
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS seen (
  account BLOB NOT NULL,
  uidl    BLOB NOT NULL,
  PRIMARY KEY (account, uidl)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS held (
  account  BLOB NOT NULL,
  list     TEXT NOT NULL,
  pattern  TEXT NOT NULL,
  count    INTEGER NOT NULL,
  released INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (account, list, pattern)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS removed (
  account BLOB NOT NULL,
  uidl    BLOB NOT NULL,
  PRIMARY KEY (account, uidl)
) WITHOUT ROWID;
)";

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool valid() const { return m_statement != nullptr; }
    sqlite3_stmt *get() const { return m_statement; }
    void bind(int index, const QByteArray &bytes)
    {
        sqlite3_bind_blob(m_statement, index, bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    void bindText(int index, const QString &text)
    {
        const QByteArray bytes = text.toUtf8();
        sqlite3_bind_text(m_statement, index, bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    QByteArray column(int index) const
    {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, index)),
                          sqlite3_column_bytes(m_statement, index));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

SeenState::SeenState(const QString &path)
    : m_path(path)
{
    // SQLite refuses a link anywhere in the path; a linked folder is the administrator's
    // choice, only a link in the file's own place is refused.
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QByteArray file =
        QFile::encodeName(folder.isEmpty() ? path : folder + u'/' + info.fileName());
    if (const QString reason = unsafeFolderReason(info.absolutePath()); !reason.isEmpty()) {
        m_problem = QStringLiteral("%1: %2").arg(path, reason);
        return;
    }
    if (info.isSymLink()) {
        m_problem = QStringLiteral("%1: a symbolic link").arg(path);
        return;
    }
    // Only the monitor needs it; nobody else should learn what mail arrived.
    const mode_t previous = ::umask(077);
    const int rc = sqlite3_open_v2(file.constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                       | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
                                   nullptr);
    bool ok = rc == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(m_db, 5000);
        // A file we may only read is still read; what cannot be written is said per check.
        ok = sqlite3_db_readonly(m_db, "main") == 1
             || (exec(m_db, "PRAGMA synchronous = FULL") && exec(m_db, kSchema));
    }
    ::umask(previous);
    if (!ok) {
        m_problem = QStringLiteral("%1: %2").arg(
            path, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("cannot open"));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

SeenState::~SeenState()
{
    sqlite3_close_v2(m_db);
}

QString SeenState::takeWriteProblem()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_writeProblem, QString());
}

bool SeenState::load(const QByteArray &account, Entry *entry)
{
    if (!m_db || m_memory.contains(account)) {
        *entry = m_memory.value(account);
        return true;
    }
    Statement fingerprint(m_db, "SELECT fingerprint FROM accounts WHERE account = ?1");
    Statement ids(m_db, "SELECT uidl FROM seen WHERE account = ?1");
    Statement removed(m_db, "SELECT uidl FROM removed WHERE account = ?1");
    if (!fingerprint.valid() || !ids.valid() || !removed.valid())
        return false;
    fingerprint.bind(1, account);
    if (sqlite3_step(fingerprint.get()) == SQLITE_ROW)
        entry->fingerprint = fingerprint.column(0);
    const auto readIds = [&account](Statement &statement, QSet<QByteArray> *into) {
        statement.bind(1, account);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
            into->insert(statement.column(0));
        return rc == SQLITE_DONE;
    };
    return readIds(ids, &entry->ids) && readIds(removed, &entry->removed);
}

SeenState::Previous SeenState::previous(const QByteArray &account, const QByteArray &fingerprint)
{
    std::lock_guard lock(m_mutex);
    Entry entry;
    if (!load(account, &entry))
        return {};
    return {entry.fingerprint == fingerprint ? entry.ids : QSet<QByteArray>(), entry.removed};
}

bool SeenState::store(const QByteArray &account, const Entry &entry)
{
    if (m_db && storeInFile(account, entry)) {
        m_memory.remove(account);
        return true;
    }
    m_memory.insert(account, entry);
    return m_db == nullptr;
}

bool SeenState::storeInFile(const QByteArray &account, const Entry &entry)
{
    if (!exec(m_db, "BEGIN IMMEDIATE")) {
        m_writeProblem =
            QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        return false;
    }
    bool ok = true;
    {
        Statement clear(m_db, "DELETE FROM seen WHERE account = ?1");
        Statement setFingerprint(
            m_db, "INSERT OR REPLACE INTO accounts (account, fingerprint) VALUES (?1, ?2)");
        Statement insert(m_db, "INSERT OR IGNORE INTO seen (account, uidl) VALUES (?1, ?2)");
        Statement clearRemoved(m_db, "DELETE FROM removed WHERE account = ?1");
        Statement insertRemoved(m_db,
                                "INSERT OR IGNORE INTO removed (account, uidl) VALUES (?1, ?2)");
        ok = clear.valid() && setFingerprint.valid() && insert.valid() && clearRemoved.valid()
             && insertRemoved.valid();
        if (ok) {
            clear.bind(1, account);
            ok = sqlite3_step(clear.get()) == SQLITE_DONE;
            clearRemoved.bind(1, account);
            ok = ok && sqlite3_step(clearRemoved.get()) == SQLITE_DONE;
            insertRemoved.bind(1, account);
            for (const QByteArray &id : entry.removed) {
                if (!ok)
                    break;
                insertRemoved.bind(2, id);
                ok = sqlite3_step(insertRemoved.get()) == SQLITE_DONE;
                sqlite3_reset(insertRemoved.get());
            }
            setFingerprint.bind(1, account);
            setFingerprint.bind(2, entry.fingerprint);
            ok = ok && sqlite3_step(setFingerprint.get()) == SQLITE_DONE;
            insert.bind(1, account);
            for (const QByteArray &id : entry.ids) {
                if (!ok)
                    break;
                insert.bind(2, id);
                ok = sqlite3_step(insert.get()) == SQLITE_DONE;
                sqlite3_reset(insert.get());
            }
        }
    }
    if (ok && exec(m_db, "COMMIT"))
        return true;
    m_writeProblem = QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)));
    exec(m_db, "ROLLBACK");
    return false;
}

bool SeenState::released(const QByteArray &account, const QString &list, const QString &pattern)
{
    std::lock_guard lock(m_mutex);
    if (!m_db) {
        return std::any_of(m_memoryHolds.cbegin(), m_memoryHolds.cend(), [&](const auto &held) {
            return held.second && held.first.account == account && held.first.list == list
                   && held.first.pattern == pattern;
        });
    }
    Statement query(m_db, "SELECT released FROM held WHERE account = ?1 AND list = ?2 AND "
                          "pattern = ?3");
    if (!query.valid())
        return false;
    query.bind(1, account);
    query.bindText(2, list);
    query.bindText(3, pattern);
    return sqlite3_step(query.get()) == SQLITE_ROW && sqlite3_column_int(query.get(), 0) != 0;
}

void SeenState::hold(const QByteArray &account, const QString &list, const QString &pattern,
                     int count)
{
    std::lock_guard lock(m_mutex);
    if (!m_db) {
        for (auto &held : m_memoryHolds) {
            if (held.first.account == account && held.first.list == list
                && held.first.pattern == pattern) {
                held.first.count = count;
                return;
            }
        }
        m_memoryHolds.append({HeldRule{account, list, pattern, count}, false});
        return;
    }
    Statement insert(m_db, "INSERT INTO held (account, list, pattern, count) VALUES (?1, ?2, ?3, "
                           "?4) ON CONFLICT (account, list, pattern) DO UPDATE SET count = ?4");
    if (!insert.valid())
        return;
    insert.bind(1, account);
    insert.bindText(2, list);
    insert.bindText(3, pattern);
    sqlite3_bind_int(insert.get(), 4, count);
    if (sqlite3_step(insert.get()) != SQLITE_DONE)
        m_writeProblem =
            QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)));
}

QList<SeenState::HeldRule> SeenState::heldRules()
{
    std::lock_guard lock(m_mutex);
    QList<HeldRule> rules;
    if (!m_db) {
        for (const auto &held : std::as_const(m_memoryHolds)) {
            if (!held.second)
                rules.append(held.first);
        }
        return rules;
    }
    Statement query(m_db, "SELECT account, list, pattern, count FROM held WHERE released = 0");
    while (query.valid() && sqlite3_step(query.get()) == SQLITE_ROW) {
        rules.append({query.column(0), QString::fromUtf8(query.column(1)),
                      QString::fromUtf8(query.column(2)), sqlite3_column_int(query.get(), 3)});
    }
    return rules;
}

QList<SeenState::HeldRule> SeenState::release(const std::optional<HeldRule> &only)
{
    QList<HeldRule> released;
    for (const HeldRule &rule : heldRules()) {
        if (!only
            || (only->account == rule.account && only->list == rule.list
                && only->pattern == rule.pattern))
            released.append(rule);
    }
    std::lock_guard lock(m_mutex);
    for (const HeldRule &rule : std::as_const(released)) {
        if (!m_db) {
            for (auto &held : m_memoryHolds) {
                if (held.first.account == rule.account && held.first.list == rule.list
                    && held.first.pattern == rule.pattern)
                    held.second = true;
            }
            continue;
        }
        Statement update(m_db, "UPDATE held SET released = 1 WHERE account = ?1 AND list = ?2 "
                               "AND pattern = ?3");
        if (!update.valid())
            continue;
        update.bind(1, rule.account);
        update.bindText(2, rule.list);
        update.bindText(3, rule.pattern);
        sqlite3_step(update.get());
    }
    return released;
}

void SeenState::record(const QByteArray &account, const QByteArray &fingerprint,
                       const QSet<QByteArray> &onServer, const QSet<QByteArray> &judgedNow,
                       const QSet<QByteArray> &removedNow)
{
    std::lock_guard lock(m_mutex);
    Entry before;
    if (!load(account, &before))
        return;
    Entry after;
    after.fingerprint = fingerprint;
    if (before.fingerprint == fingerprint) {
        for (const QByteArray &id : std::as_const(before.ids)) {
            if (onServer.contains(id))
                after.ids.insert(id);
        }
    }
    for (const QByteArray &id : judgedNow) {
        if (onServer.contains(id))
            after.ids.insert(id);
    }
    after.removed = removedNow;
    // A check that found nothing new writes nothing.
    if (after.fingerprint == before.fingerprint && after.ids == before.ids
        && after.removed == before.removed)
        return;
    store(account, after);
}

} // namespace mail
