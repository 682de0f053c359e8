#include "TestSystem.h"

#include <QFile>
#include <QTimer>

#include <sqlite3.h>

bool FakeProcesses::startDetached(const QString &program, const QStringList &arguments)
{
    started.append(QStringList{program} + arguments);
    return true;
}

void FakeProcesses::openDocument(const QString &path, QObject *context,
                                 std::function<void(bool opened)> done)
{
    opened.append(path);
    // As the real opener answers: later, and only while the context lives.
    QTimer::singleShot(0, context, [done, answer = viewerOpens] { done(answer); });
}

bool FakeWindows::exists(const QString &title)
{
    ++lookups;
    return titles.contains(title);
}

bool FakeWindows::requestClose(const QString &title)
{
    if (!titles.contains(title))
        return false;
    closeRequests.append(title);
    return true;
}

platform::ServiceManager::Handle FakeServiceManager::openManager(quint32 access)
{
    calls.append(openManagerCall(access));
    if (!managerOpens || (access == kManagerAllAccess && !adminRights))
        return 0;
    ++openHandles;
    return ++m_next;
}

std::optional<QList<platform::ServiceEntry>>
FakeServiceManager::enumerateServices(Handle, quint32, quint32, qsizetype bufferBytes)
{
    ++enumerations;
    if (enumerationFails)
        return std::nullopt;
    return platform::entriesThatFit(services, bufferBytes);
}

platform::ServiceManager::Handle FakeServiceManager::openService(Handle, const QByteArray &name,
                                                                 quint32 access)
{
    calls.append(openServiceCall(name, access));
    for (const platform::ServiceEntry &entry : std::as_const(services)) {
        if (entry.name == name) {
            ++openHandles;
            return ++m_next;
        }
    }
    return 0;
}

QString FakeServiceManager::openManagerCall(quint32 access)
{
    return QStringLiteral("openManager %1").arg(access, 0, 16);
}

QString FakeServiceManager::openServiceCall(const QByteArray &name, quint32 access)
{
    return QStringLiteral("openService %1 %2").arg(QLatin1String(name)).arg(access, 0, 16);
}

bool FakeServiceManager::queryStatus(Handle, platform::ServiceStatus &status)
{
    ++queries;
    if (statusScript.isEmpty())
        return false;
    status = statusScript.size() > 1 ? statusScript.takeFirst() : statusScript.first();
    return true;
}

bool FakeServiceManager::startService(Handle)
{
    calls.append(QStringLiteral("start"));
    return startSucceeds;
}

platform::ServiceManager::ControlResult FakeServiceManager::controlService(Handle, quint32 control)
{
    calls.append(QStringLiteral("control %1").arg(control));
    return stopAnswer;
}

void FakeServiceManager::closeHandle(Handle)
{
    --openHandles;
}

void FakeServiceManager::sleep(quint32 milliseconds)
{
    sleeps.append(milliseconds);
}

TestSystem::TestSystem()
    : storePath(folder.filePath(QStringLiteral("registry.db")))
    , store(storePath)
    , system{store,
             prompts,
             processes,
             windows,
             services,
             folder.path(),
             [this](QDialog &dialog) { return runDialog(dialog); },
             storePath}
{}

int TestSystem::runDialog(QDialog &)
{
    noteSurprise(QStringLiteral("a dialog came up in a test that drives no windows"));
    return 0; // rejected
}

void TestSystem::noteSurprise(const QString &what)
{
    m_surprises.append(what);
}

QStringList TestSystem::unfinishedScript() const
{
    return m_surprises + prompts.unfinishedScript();
}

namespace {

struct Database
{
    explicit Database(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~Database() { sqlite3_close_v2(db); }
    sqlite3 *db = nullptr;
};

struct Query
{
    Query(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }
    ~Query() { sqlite3_finalize(statement); }
    bool next() { return statement && sqlite3_step(statement) == SQLITE_ROW; }
    QByteArray bytesAt(int column) const
    {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                          sqlite3_column_bytes(statement, column));
    }
    sqlite3_stmt *statement = nullptr;
};

} // namespace

StoreReader::StoreReader(const QString &path)
    : m_path(path)
{}

std::optional<qint64> StoreReader::keyId(const QByteArray &keyPath) const
{
    Database database(m_path);
    qint64 id = -1;
    {
        Query root(database.db, "SELECT id FROM keys WHERE parent IS NULL AND name = "
                                "'HKEY_LOCAL_MACHINE'");
        if (!root.next())
            return std::nullopt;
        id = sqlite3_column_int64(root.statement, 0);
    }
    for (const QByteArray &segment : keyPath.split('\\')) {
        if (segment.isEmpty())
            continue;
        // Names are compared as the monitor compares them: by their stored upper-case fold.
        Query child(database.db, "SELECT id, fold FROM keys WHERE parent = ?1");
        sqlite3_bind_int64(child.statement, 1, id);
        std::optional<qint64> found;
        while (child.next()) {
            if (QString::fromUtf8(child.bytesAt(1)) == QString::fromUtf8(segment).toUpper())
                found = sqlite3_column_int64(child.statement, 0);
        }
        if (!found)
            return std::nullopt;
        id = *found;
    }
    return id;
}

std::optional<StoreReader::Value> StoreReader::value(const QByteArray &keyPath,
                                                     const QByteArray &name) const
{
    const auto id = keyId(keyPath);
    if (!id)
        return std::nullopt;
    Database database(m_path);
    Query query(database.db, "SELECT name, type, data FROM vals WHERE key = ?1");
    sqlite3_bind_int64(query.statement, 1, *id);
    while (query.next()) {
        if (QString::fromUtf8(query.bytesAt(0)).toUpper() == QString::fromUtf8(name).toUpper())
            return Value{sqlite3_column_int(query.statement, 1), query.bytesAt(2)};
    }
    return std::nullopt;
}

QList<QByteArray> StoreReader::valueNames(const QByteArray &keyPath) const
{
    QList<QByteArray> names;
    const auto id = keyId(keyPath);
    if (!id)
        return names;
    Database database(m_path);
    Query query(database.db, "SELECT name FROM vals WHERE key = ?1 ORDER BY seq");
    sqlite3_bind_int64(query.statement, 1, *id);
    while (query.next())
        names.append(query.bytesAt(0));
    return names;
}

QList<QByteArray> StoreReader::subkeys(const QByteArray &keyPath) const
{
    QList<QByteArray> names;
    const auto id = keyId(keyPath);
    if (!id)
        return names;
    Database database(m_path);
    Query query(database.db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold");
    sqlite3_bind_int64(query.statement, 1, *id);
    while (query.next())
        names.append(query.bytesAt(0));
    return names;
}

bool StoreReader::keyExists(const QByteArray &keyPath) const
{
    return keyId(keyPath).has_value();
}

QByteArray StoreReader::string(const QByteArray &keyPath, const QByteArray &name) const
{
    const auto found = value(keyPath, name);
    if (!found || found->type != 1 || !found->data.endsWith('\0'))
        return QByteArray("<not a string>");
    return found->data.chopped(1);
}

std::optional<qint32> StoreReader::dword(const QByteArray &keyPath, const QByteArray &name) const
{
    const auto found = value(keyPath, name);
    if (!found || found->type != 4 || found->data.size() != 4)
        return std::nullopt;
    quint32 bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | static_cast<unsigned char>(found->data[i]);
    return static_cast<qint32>(bits);
}

void StoreReader::exec(const QByteArray &sql) const
{
    Database database(m_path);
    char *error = nullptr;
    if (sqlite3_exec(database.db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        qWarning("SQL failed: %s", error);
        sqlite3_free(error);
    }
}

bool StoreReader::integrityOk() const
{
    Database database(m_path);
    Query check(database.db, "PRAGMA integrity_check");
    return check.next() && check.bytesAt(0) == "ok";
}

bool StoreReader::unlocked() const
{
    Database database(m_path);
    sqlite3_busy_timeout(database.db, 0);
    if (sqlite3_exec(database.db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    sqlite3_exec(database.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return true;
}

namespace {

constexpr const char *kCountedChanges[][2] = {
    {"vals", "INSERT"}, {"vals", "UPDATE"}, {"vals", "DELETE"},
    {"keys", "INSERT"}, {"keys", "UPDATE"}, {"keys", "DELETE"},
};

} // namespace

StoreWriteCounter::StoreWriteCounter(const QString &path)
    : m_path(path)
{
    const StoreReader file(path);
    file.exec("CREATE TABLE counted_writes(what TEXT)");
    for (const auto &[table, change] : kCountedChanges)
        file.exec(QByteArray("CREATE TRIGGER counted_") + table + '_' + change + " AFTER " + change
                  + " ON " + table + " BEGIN INSERT INTO counted_writes VALUES('" + change
                  + "'); END");
}

StoreWriteCounter::~StoreWriteCounter()
{
    const StoreReader file(m_path);
    for (const auto &[table, change] : kCountedChanges)
        file.exec(QByteArray("DROP TRIGGER counted_") + table + '_' + change);
    file.exec("DROP TABLE counted_writes");
}

int StoreWriteCounter::writes() const
{
    Database database(m_path);
    Query count(database.db, "SELECT count(*) FROM counted_writes");
    return count.next() ? sqlite3_column_int(count.statement, 0) : -1;
}

ReaderInTheWay::ReaderInTheWay(const QString &path)
{
    sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(m_db, "BEGIN; SELECT count(*) FROM keys;", nullptr, nullptr, nullptr);
}

ReaderInTheWay::~ReaderInTheWay()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
}
