#include "store/SqliteStore.h"

#include "store/NameFolding.h"
#include "store/SqliteSchema.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

// The Windows registry's own limits, kept so both systems refuse the same names. They count
// characters, not the bytes of the 8-bit form.
constexpr qsizetype kMaxKeyNameLength = 255;
constexpr qsizetype kMaxValueNameLength = 16383;

bool longerThan(const QByteArray &name, qsizetype limit)
{
    // A character is at least one byte, so only a name with more bytes needs counting.
    return name.size() > limit && QString::fromUtf8(name).size() > limit;
}

enum StatementId
{
    FindRoot,
    InsertRoot,
    FindChild,
    InsertChild,
    FindValue,
    UpsertValue,
    DeleteValue,
    DeleteChild,
    ChildrenWithValues,
    ValueNames,
    UserVersion,
    FindRawValue,
    RawValues,
    Children,
    JournalMode,
    StatementCount
};

constexpr std::array<const char *, StatementCount> kSql = {
    "SELECT id FROM keys WHERE parent IS NULL AND name = 'HKEY_LOCAL_MACHINE'",
    "INSERT INTO keys(parent, name, fold) VALUES (NULL, 'HKEY_LOCAL_MACHINE', "
    "'HKEY_LOCAL_MACHINE')",
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO keys(parent, name, fold) VALUES (?1, ?2, ?3)",
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    // A new value is numbered past the file's highest row (a b-tree's last entry, no scan) and
    // past its own key's values; replacing a value keeps its number and so its place.
    "INSERT INTO vals(key, name, fold, type, data, seq) VALUES (?1, ?2, ?3, ?4, ?5, "
    "max(ifnull((SELECT max(rowid) FROM vals), 0), "
    "ifnull((SELECT max(seq) FROM vals WHERE key = ?1), 0)) + 1) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "DELETE FROM keys WHERE parent = ?1 AND fold = ?2",
    "SELECT k.name, k.id, v.fold, v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id "
    "WHERE k.parent = ?1 ORDER BY k.fold",
    "SELECT name FROM vals WHERE key = ?1 ORDER BY seq",
    "PRAGMA user_version",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq",
    "SELECT name, id FROM keys WHERE parent = ?1 ORDER BY fold",
    "PRAGMA journal_mode",
};

// A cell of a listing's row, read through its value: each sqlite3_column_ call enters the
// connection and leaves its error state, which over a long listing costs more than the reads.
// The SQLite documentation calls this use of a column's value not thread-safe; a connection
// here has no mutex anyway and is used by one thread only.
QByteArrayView cellBytes(sqlite3_stmt *row, int column)
{
    sqlite3_value *cell = sqlite3_column_value(row, column);
    const auto *data = static_cast<const char *>(sqlite3_value_blob(cell));
    return {data, sqlite3_value_bytes(cell)};
}

QByteArray columnBytes(sqlite3_stmt *statement, int column)
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(statement, column));
    return QByteArray(data, sqlite3_column_bytes(statement, column));
}

} // namespace

// The subkeys the last enumeration listed and, read in the same scan, all their values: a page
// that lists accounts opens each listed key next, in order, and reads its values. The names and
// values sit in one buffer, so a long list costs a few allocations rather than several a value.
struct SubkeyListing
{
    struct Value
    {
        qsizetype begin; // the fold, then the data right after it
        int foldSize;
        int dataSize;
        int type;
        bool isText; // a string's data already cut at its terminating zero
    };
    struct Child
    {
        qint64 id;
        qsizetype firstValue;
        qsizetype valueCount;
    };

    QByteArray parentPath; // the listed key as it was opened, without outer separators
    QList<QByteArray> names;
    std::vector<Child> children;
    bool hasValues = false;
    std::vector<Value> values;
    std::vector<char> bytes;
    // The child an in-order walk opens next, and an index by name for any other order.
    qsizetype next = 0;
    QHash<QByteArrayView, qsizetype> byName;
    // Keys opened from a listing remember its generation; any change starts a new one.
    quint64 generation = 0;

    // Gives the memory back too: a listing of a large key is big, and nothing needs it after.
    void clear()
    {
        parentPath.clear();
        names.clear();
        children = {};
        hasValues = false;
        values = {};
        bytes = {};
        next = 0;
        byName.clear();
        ++generation;
    }

    // The listed child a path names exactly as enumerated, or -1.
    qsizetype find(QByteArrayView path)
    {
        if (children.empty())
            return -1;
        QByteArrayView name = path;
        if (!parentPath.isEmpty()) {
            if (path.size() <= parentPath.size() + 1 || path[parentPath.size()] != '\\'
                || !path.startsWith(parentPath))
                return -1;
            name = path.sliced(parentPath.size() + 1);
        }
        if (next < names.size() && name == names[next])
            return next++;
        if (byName.isEmpty()) {
            byName.reserve(names.size());
            for (qsizetype i = 0; i < names.size(); ++i)
                byName.insert(names[i], i);
        }
        const qsizetype found = byName.value(name, -1);
        if (found >= 0)
            next = found + 1;
        return found;
    }

    QByteArrayView fold(const Value &value) const
    {
        return QByteArrayView(bytes.data() + value.begin, value.foldSize);
    }
    QByteArrayView data(const Value &value) const
    {
        return QByteArrayView(bytes.data() + value.begin + value.foldSize, value.dataSize);
    }
};

// One open file for the life of an outermost access, shared with the accesses nested in it.
class SqliteConnection
{
public:
    ~SqliteConnection()
    {
        for (sqlite3_stmt *statement : m_statements)
            sqlite3_finalize(statement);
        sqlite3_close_v2(db);
    }

    // A prepared statement, reset and unbound again when the returned guard goes.
    class Use
    {
    public:
        Use(SqliteConnection &connection, StatementId id)
            : m_connection(connection)
            , m_statement(connection.prepared(id))
        {}
        ~Use()
        {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

        Use &bind(int index, qint64 value)
        {
            check(sqlite3_bind_int64(m_statement, index, value));
            return *this;
        }
        Use &bindText(int index, QByteArrayView text)
        {
            // An empty name is text too: a null pointer would bind SQL NULL.
            check(sqlite3_bind_text(m_statement, index, text.isNull() ? "" : text.constData(),
                                    static_cast<int>(text.size()), SQLITE_TRANSIENT));
            return *this;
        }
        Use &bindBlob(int index, const QByteArray &data)
        {
            check(data.isEmpty()
                      ? sqlite3_bind_zeroblob(m_statement, index, 0)
                      : sqlite3_bind_blob(m_statement, index, data.constData(),
                                          static_cast<int>(data.size()), SQLITE_TRANSIENT));
            return *this;
        }
        // True while a row is there; throws on any failure.
        bool step()
        {
            const int rc = sqlite3_step(m_statement);
            if (rc == SQLITE_ROW)
                return true;
            if (rc == SQLITE_DONE)
                return false;
            m_connection.fail();
        }
        void run()
        {
            while (step()) {
            }
        }
        sqlite3_stmt *statement() const { return m_statement; }

    private:
        void check(int rc)
        {
            if (rc != SQLITE_OK)
                m_connection.fail();
        }

        SqliteConnection &m_connection;
        sqlite3_stmt *m_statement;
    };

    void exec(const char *sql)
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }

    [[noreturn]] void fail()
    {
        // Whatever failed may have rolled the transaction back; known key ids may be stale.
        forgetTree();
        throw StoreError(sqlite3_errmsg(db));
    }

    bool inTransaction() const { return db && !sqlite3_get_autocommit(db); }

    // Forgets what was learnt of the tree; it is valid within one transaction only.
    void forgetTree()
    {
        keyIds.clear();
        pathIds.clear();
        listing.clear();
    }
    // A change makes the values read ahead stale.
    void changed() { listing.clear(); }

    sqlite3 *db = nullptr;
    bool usable = false;   // false: the file could not be opened at all
    bool writable = false; // false: the file may only be read
    FileIdentity identity;
    int depth = 0; // accesses running on this connection, nested ones included
    // Folded absolute path to key id, within one transaction.
    QHash<QByteArray, qint64> keyIds;
    // The same for paths exactly as the program spells them (without outer separators), so
    // that a key opened once is opened again without folding or looking up its whole path.
    QHash<QByteArray, qint64> pathIds;
    // What the last subkey enumeration found.
    SubkeyListing listing;

private:
    sqlite3_stmt *prepared(StatementId id)
    {
        sqlite3_stmt *&statement = m_statements[id];
        if (!statement
            && sqlite3_prepare_v3(db, kSql[id], -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)
                   != SQLITE_OK) {
            statement = nullptr;
            fail();
        }
        return statement;
    }

    std::array<sqlite3_stmt *, StatementCount> m_statements{};
};

namespace {

// A string's text: its data up to the terminating zero.
QByteArrayView textOf(QByteArrayView data)
{
    const void *zero = data.isEmpty() ? nullptr : std::memchr(data.data(), 0, size_t(data.size()));
    return zero ? data.first(static_cast<const char *>(zero) - data.data()) : data;
}

bool sameBytes(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size()
           && (a.isEmpty() || std::memcmp(a.data(), b.data(), size_t(a.size())) == 0);
}

bool isString(int type)
{
    return type == RegSz || type == RegExpandSz;
}

// A value name being looked up. Most names are short ASCII, whose fold is their upper case:
// those compare with a stored fold letter by letter; any other is folded once.
class LookupName
{
public:
    explicit LookupName(QByteArrayView name)
        : m_name(name)
        , m_ascii(std::all_of(name.begin(), name.end(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    {
        if (!m_ascii)
            m_folded = foldName(name.toByteArray());
    }

    bool matches(QByteArrayView storedFold) const
    {
        if (!m_ascii)
            return sameBytes(storedFold, m_folded);
        if (storedFold.size() != m_name.size())
            return false;
        for (qsizetype i = 0; i < m_name.size(); ++i) {
            const char c = m_name[i];
            if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != storedFold[i])
                return false;
        }
        return true;
    }

    QByteArray fold() const { return m_ascii ? foldName(m_name.toByteArray()) : m_folded; }

private:
    QByteArrayView m_name;
    bool m_ascii;
    QByteArray m_folded;
};

class SqliteKey : public RegistryKey
{
public:
    // id: none for a key that is not open (any number is a key's id: other programs may
    // number keys zero or below). path: as the caller spelt it; [begin, end) is it without outer
    // separators. listed: its place in the connection's listing of that generation, or -1.
    SqliteKey(std::shared_ptr<SqliteConnection> connection, std::optional<qint64> id,
              QByteArray path, qsizetype begin, qsizetype end, qsizetype listed)
        : m_connection(std::move(connection))
        , m_open(id.has_value())
        , m_id(id.value_or(0))
        , m_path(std::move(path))
        , m_begin(begin)
        , m_end(end)
        , m_listed(listed)
        , m_generation(m_connection->listing.generation)
    {}

    bool isOpen() const override { return m_open; }

    void requireWritable() const override
    {
        if (!isOpen())
            throw StoreError("key not open");
        if (!m_connection->writable)
            throw StoreError("settings may only be read");
    }

    void writeString(const QByteArray &name, const QByteArray &text) override
    {
        QByteArray data(text);
        data.append('\0');
        writeValue(name, RegSz, data);
    }

    QByteArray readString(QByteArrayView name) override
    {
        QByteArray text;
        if (!isOpen())
            return text;
        withValue(name, [&text](int type, QByteArrayView data, bool isText) {
            if (!isString(type))
                throw StoreError("value is not a string");
            text = (isText ? data : textOf(data)).toByteArray();
        });
        return text;
    }

    void writeInteger(const QByteArray &name, qint32 number) override
    {
        QByteArray data(4, '\0');
        qToLittleEndian(static_cast<quint32>(number), data.data());
        writeValue(name, RegDword, data);
    }

    qint32 readInteger(QByteArrayView name) override
    {
        if (!isOpen())
            throw StoreError("key not open");
        quint32 bits = 0;
        const bool found = withValue(name, [&bits](int type, QByteArrayView data, bool) {
            if (type != RegDword || data.size() != 4)
                throw StoreError("value is not a REG_DWORD");
            bits = qFromLittleEndian<quint32>(data.data());
        });
        if (!found)
            throw StoreError("value absent");
        return static_cast<qint32>(bits);
    }

    bool valueExists(QByteArrayView name) override
    {
        return isOpen() && withValue(name, [](int, QByteArrayView, bool) {});
    }

    void deleteValue(const QByteArray &name) override
    {
        requireWritable();
        m_connection->changed();
        SqliteConnection::Use use(*m_connection, DeleteValue);
        use.bind(1, m_id).bindText(2, foldName(name)).run();
    }

    void deleteKey(const QByteArray &name) override
    {
        requireWritable();
        m_connection->forgetTree();
        SqliteConnection::Use use(*m_connection, DeleteChild);
        use.bind(1, m_id).bindText(2, foldName(name)).run();
    }

    QList<QByteArray> subkeyNames() override { return listSubkeys(true); }

    QList<QByteArray> valueNames() override
    {
        QList<QByteArray> result;
        if (!isOpen())
            return result;
        SqliteConnection::Use use(*m_connection, ValueNames);
        use.bind(1, m_id);
        while (use.step())
            result.append(columnBytes(use.statement(), 0));
        return result;
    }

    void writeRaw(const QByteArray &name, int type, const QByteArray &data) override
    {
        writeValue(name, type, data);
    }

    std::optional<RawValue> readRaw(const QByteArray &name) override
    {
        if (!isOpen())
            return std::nullopt;
        SqliteConnection::Use use(*m_connection, FindRawValue);
        use.bind(1, m_id).bindText(2, foldName(name));
        if (!use.step())
            return std::nullopt;
        return rawValue(use.statement());
    }

    QList<RawValue> rawValues() override
    {
        QList<RawValue> result;
        if (!isOpen())
            return result;
        SqliteConnection::Use use(*m_connection, RawValues);
        use.bind(1, m_id);
        while (use.step())
            result.append(rawValue(use.statement()));
        return result;
    }

    QList<QByteArray> subkeyNamesOnly() override { return listSubkeys(false); }

private:
    static RawValue rawValue(sqlite3_stmt *row)
    {
        return {columnBytes(row, 0), sqlite3_column_int(row, 1), columnBytes(row, 2)};
    }

    // The subkeys in the order of their folded names, remembered as the connection's listing
    // together with their values when withValues is set.
    QList<QByteArray> listSubkeys(bool withValues)
    {
        QList<QByteArray> names;
        if (!isOpen())
            return names;
        SqliteConnection &connection = *m_connection;
        SubkeyListing &listing = connection.listing;
        listing.clear();
        SqliteConnection::Use use(connection, withValues ? ChildrenWithValues : Children);
        use.bind(1, m_id);
        while (use.step()) {
            sqlite3_stmt *row = use.statement();
            const qint64 child = sqlite3_value_int64(sqlite3_column_value(row, 1));
            if (listing.children.empty() || listing.children.back().id != child) {
                names.append(cellBytes(row, 0).toByteArray());
                listing.children.push_back({child, qsizetype(listing.values.size()), 0});
            }
            // A key without values comes with one row of NULLs; a fold is never NULL (an empty
            // one reads as a null pointer too, so only then ask the type).
            if (!withValues)
                continue;
            const QByteArrayView fold = cellBytes(row, 2);
            if (!fold.isNull() || sqlite3_column_type(row, 2) != SQLITE_NULL)
                appendValue(listing, row, fold);
        }
        listing.parentPath = QByteArray(m_path.constData() + m_begin, m_end - m_begin);
        listing.names = names;
        listing.hasValues = withValues;
        m_generation = listing.generation;
        m_listed = -1;
        return names;
    }

    // Row columns 3 and 4: the value's type and data.
    static void appendValue(SubkeyListing &listing, sqlite3_stmt *row, QByteArrayView fold)
    {
        const int type = sqlite3_value_int(sqlite3_column_value(row, 3));
        QByteArrayView kept = cellBytes(row, 4);
        if (isString(type))
            kept = textOf(kept);
        std::vector<char> &bytes = listing.bytes;
        const auto begin = qsizetype(bytes.size());
        bytes.insert(bytes.end(), fold.begin(), fold.end());
        bytes.insert(bytes.end(), kept.begin(), kept.end());
        listing.values.push_back({begin, int(fold.size()), int(kept.size()), type, isString(type)});
        ++listing.children.back().valueCount;
    }

    // Calls use(type, data, isText) with the value while its bytes are at hand; false when the
    // key holds no such value.
    template <typename Use>
    bool withValue(QByteArrayView name, const Use &use)
    {
        const LookupName lookup(name);
        const SubkeyListing &listing = m_connection->listing;
        if (m_listed >= 0 && m_generation == listing.generation && listing.hasValues) {
            const SubkeyListing::Child &child = listing.children[m_listed];
            for (qsizetype i = 0; i < child.valueCount; ++i) {
                const SubkeyListing::Value &value = listing.values[child.firstValue + i];
                if (lookup.matches(listing.fold(value))) {
                    use(value.type, listing.data(value), value.isText);
                    return true;
                }
            }
            return false; // the scan read every value this key has
        }
        SqliteConnection::Use find(*m_connection, FindValue);
        find.bind(1, m_id).bindText(2, lookup.fold());
        if (!find.step())
            return false;
        const auto *data = static_cast<const char *>(sqlite3_column_blob(find.statement(), 1));
        use(sqlite3_column_int(find.statement(), 0),
            QByteArrayView(data, sqlite3_column_bytes(find.statement(), 1)), false);
        return true;
    }

    void writeValue(const QByteArray &name, int type, const QByteArray &data)
    {
        requireWritable();
        if (longerThan(name, kMaxValueNameLength))
            throw StoreError("value name too long");
        m_connection->changed();
        SqliteConnection::Use use(*m_connection, UpsertValue);
        use.bind(1, m_id).bindText(2, name).bindText(3, foldName(name)).bind(4, type);
        use.bindBlob(5, data).run();
    }

    std::shared_ptr<SqliteConnection> m_connection;
    bool m_open;
    qint64 m_id;
    QByteArray m_path;
    qsizetype m_begin;
    qsizetype m_end;
    qsizetype m_listed;
    quint64 m_generation;
};

class SqliteAccess final : public Access
{
public:
    SqliteAccess(std::shared_ptr<SqliteConnection> connection, bool nested)
        : m_connection(std::move(connection))
        , m_nested(nested)
    {
        ++m_connection->depth;
    }

    ~SqliteAccess() override
    {
        try {
            finish();
        } catch (const StoreError &) {
            // Only reached when the work ended by something other than a store failure; the
            // failed commit has already been rolled back, leaving the file as it was.
        }
        --m_connection->depth;
    }

    std::unique_ptr<RegistryKey> openOrCreate(const QByteArray &path) override
    {
        return open(path, true);
    }

    std::unique_ptr<RegistryKey> openExisting(const QByteArray &path) override
    {
        return open(path, false);
    }

    void finish() override
    {
        if (m_finished)
            return;
        m_finished = true;
        SqliteConnection &connection = *m_connection;
        if (!m_nested)
            connection.forgetTree(); // another program may change the tree once this ends
        if (!connection.inTransaction())
            return; // nothing to keep, or SQLite already rolled back after a disk failure
        if (m_nested) {
            connection.exec("RELEASE nested");
            return;
        }
        if (sqlite3_exec(connection.db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            const QByteArray message = sqlite3_errmsg(connection.db);
            sqlite3_exec(connection.db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw StoreError(message.toStdString());
        }
    }

    void abandon() override
    {
        if (m_finished)
            return;
        m_finished = true;
        SqliteConnection &connection = *m_connection;
        // Key ids learnt inside what is rolled back may name keys that no longer exist.
        connection.forgetTree();
        if (!connection.inTransaction())
            return;
        if (m_nested) {
            connection.exec("ROLLBACK TO nested");
            connection.exec("RELEASE nested");
            return;
        }
        connection.exec("ROLLBACK");
    }

private:
    std::unique_ptr<RegistryKey> open(const QByteArray &path, bool create)
    {
        qsizetype begin = 0;
        qsizetype end = path.size();
        while (begin < end && path[begin] == '\\')
            ++begin;
        while (end > begin && path[end - 1] == '\\')
            --end;
        const QByteArrayView trimmed = QByteArrayView(path).sliced(begin, end - begin);
        SqliteConnection &connection = *m_connection;
        std::optional<qint64> id;
        qsizetype listed = -1;
        if (connection.usable) {
            try {
                listed = connection.listing.find(trimmed);
                if (listed >= 0) {
                    id = connection.listing.children[listed].id;
                } else {
                    const QByteArray key = trimmed.toByteArray();
                    if (const auto known = connection.pathIds.constFind(key);
                        known != connection.pathIds.cend()) {
                        id = *known;
                    } else {
                        id = resolve(key, create);
                        if (id)
                            connection.pathIds.insert(key, *id);
                    }
                }
            } catch (const StoreError &) {
                id.reset();
                listed = -1;
            }
        }
        return std::make_unique<SqliteKey>(m_connection, id, path, begin, end, listed);
    }

    // The key id of a path without outer separators, walked from the root; none for a key that
    // is missing and may not be created.
    std::optional<qint64> resolve(const QByteArray &path, bool create)
    {
        SqliteConnection &connection = *m_connection;
        qint64 id = rootId();
        if (path.isEmpty())
            return id;
        QByteArray foldedPath;
        for (const QByteArray &segment : path.split('\\')) {
            if (segment.isEmpty() || longerThan(segment, kMaxKeyNameLength))
                return std::nullopt;
            const QByteArray fold = foldName(segment);
            foldedPath.append('\\').append(fold);
            if (const auto known = connection.keyIds.constFind(foldedPath);
                known != connection.keyIds.cend()) {
                id = *known;
                continue;
            }
            {
                SqliteConnection::Use find(connection, FindChild);
                find.bind(1, id).bindText(2, fold);
                if (find.step()) {
                    id = sqlite3_column_int64(find.statement(), 0);
                    connection.keyIds.insert(foldedPath, id);
                    continue;
                }
            }
            if (!create || !connection.writable)
                return std::nullopt;
            SqliteConnection::Use insert(connection, InsertChild);
            insert.bind(1, id).bindText(2, segment).bindText(3, fold).run();
            id = sqlite3_last_insert_rowid(connection.db);
            connection.keyIds.insert(foldedPath, id);
        }
        return id;
    }

    qint64 rootId()
    {
        SqliteConnection &connection = *m_connection;
        if (const auto known = connection.keyIds.constFind(QByteArray());
            known != connection.keyIds.cend())
            return *known;
        std::optional<qint64> id;
        {
            SqliteConnection::Use find(connection, FindRoot);
            if (find.step())
                id = sqlite3_column_int64(find.statement(), 0);
        }
        if (!id) {
            if (!connection.writable)
                throw StoreError("no root key");
            SqliteConnection::Use insert(connection, InsertRoot);
            insert.run();
            id = sqlite3_last_insert_rowid(connection.db);
        }
        connection.keyIds.insert(QByteArray(), *id);
        return *id;
    }

    std::shared_ptr<SqliteConnection> m_connection;
    bool m_nested;
    bool m_finished = false;
};

// Another program holds the file locked for longer than the busy time-out.
constexpr const char *kBusy = "the settings are busy: another program holds them locked";

int queryInt(sqlite3 *db, const char *sql, bool *ok)
{
    sqlite3_stmt *statement = nullptr;
    int result = 0;
    *ok = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK
          && sqlite3_step(statement) == SQLITE_ROW;
    if (*ok)
        result = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return result;
}

// Asked at every access, so kept prepared.
bool isWal(SqliteConnection &connection)
{
    SqliteConnection::Use mode(connection, JournalMode);
    if (!mode.step())
        return false;
    const auto *name = reinterpret_cast<const char *>(sqlite3_column_text(mode.statement(), 0));
    return name && qstricmp(name, "wal") == 0;
}

bool isSoundAndEmpty(sqlite3 *db, qint64 fileSize)
{
    bool ok = false;
    const qint64 pageSize = queryInt(db, "PRAGMA page_size", &ok);
    if (!ok)
        return false;
    const qint64 pages = queryInt(db, "PRAGMA page_count", &ok);
    if (!ok || pageSize * pages != fileSize)
        return false;
    sqlite3_stmt *check = nullptr;
    ok = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK
         && sqlite3_step(check) == SQLITE_ROW
         && qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok") == 0;
    sqlite3_finalize(check);
    return ok;
}

bool prepares(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    const bool ok = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK;
    sqlite3_finalize(statement);
    return ok;
}

} // namespace

SqliteStore::SqliteStore(QString path)
    : SqliteStore(std::move(path), Options())
{}

SqliteStore::SqliteStore(QString path, Options options)
    : m_path(std::move(path))
    , m_options(std::move(options))
{}

SqliteStore::~SqliteStore() = default;

QString SqliteStore::defaultPath()
{
    return defaultPath(::geteuid() == 0);
}

QString SqliteStore::defaultPath(bool administrator)
{
    QString fromEnvironment = qEnvironmentVariable("OSTROVE_REGISTRY");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (administrator)
        return QStringLiteral("/var/lib/ostrove/registry.db");
    // Any other user has settings of their own, as every desktop program keeps them.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/ostrove/registry.db");
}

FileIdentity FileIdentity::of(const QString &path)
{
    FileIdentity identity;
    const QByteArray file = QFile::encodeName(path);
    struct stat info
    {};
    if (::stat(file.constData(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.writable = ::access(file.constData(), W_OK) == 0;
    }
    return identity;
}

std::unique_ptr<Access> SqliteStore::beginAccess()
{
    if (m_connection && m_connection->depth > 0) {
        if (m_connection->inTransaction())
            m_connection->exec("SAVEPOINT nested");
        return std::make_unique<SqliteAccess>(m_connection, true);
    }

    // The open file is used again while it is still the file at the path, with the same
    // rights; a file replaced, removed or made read-only meanwhile is opened afresh.
    const FileIdentity now = FileIdentity::of(m_path);
    if (!m_connection || !m_connection->usable || m_options.readOnly != m_openedReadOnly
        || !(now == m_connection->identity)) {
        m_connection.reset();
        auto opened = openConnection(now);
        if (!opened->usable)
            return std::make_unique<SqliteAccess>(std::move(opened), false);
        m_connection = std::move(opened);
        m_openedReadOnly = m_options.readOnly;
    }

    SqliteConnection &connection = *m_connection;
    try {
        connection.exec(connection.writable ? "BEGIN IMMEDIATE" : "BEGIN");
        // Another program may have made it a newer store since we opened it.
        const auto versionMatches = [&connection] {
            SqliteConnection::Use version(connection, UserVersion);
            return version.step()
                   && sqlite3_column_int(version.statement(), 0) == schema::kUserVersion;
        };
        if (!versionMatches()) {
            const int error = sqlite3_extended_errcode(connection.db) & 0xff;
            throw StoreError(
                error == SQLITE_BUSY || error == SQLITE_LOCKED ? kBusy : "not a settings store");
        }
        // Readers who may not write the file cannot read a WAL database, and another program
        // may have switched the file to it (the first read above tells).
        if (connection.writable && isWal(connection)) {
            connection.exec("ROLLBACK");
            connection.exec("PRAGMA journal_mode = DELETE");
            connection.exec("BEGIN IMMEDIATE");
        }
    } catch (const StoreError &) {
        if (connection.inTransaction())
            sqlite3_exec(connection.db, "ROLLBACK", nullptr, nullptr, nullptr);
        m_connection.reset();
        throw;
    }
    return std::make_unique<SqliteAccess>(m_connection, false);
}

std::shared_ptr<SqliteConnection> SqliteStore::openConnection(const FileIdentity &identity)
{
    auto connection = std::make_shared<SqliteConnection>();
    const QByteArray file = QFile::encodeName(m_path);
    const QByteArray vfs = m_options.vfsName.toUtf8();
    const char *vfsName = vfs.isEmpty() ? nullptr : vfs.constData();

    // One connection serves one thread: SQLite's own locking of it would only cost time.
    int flags =
        SQLITE_OPEN_NOMUTEX
        | (m_options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!m_options.readOnly) {
        // Where the rights allow; a folder made for the store is the owner's alone.
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
            ::chmod(QFile::encodeName(folder).constData(), 0700);
        // The store holds the account passwords: a new one is the owner's alone whatever the
        // umask, and SQLite gives its journal the same mode. An existing file keeps its mode.
        if (!identity.exists) {
            const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::fchmod(fd, 0600);
                ::close(fd);
            }
        }
    }
    int rc = sqlite3_open_v2(file.constData(), &connection->db, flags, vfsName);
    if (rc != SQLITE_OK && !m_options.readOnly) {
        sqlite3_close_v2(connection->db);
        connection->db = nullptr;
        flags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_READONLY;
        rc = sqlite3_open_v2(file.constData(), &connection->db, flags, vfsName);
    }
    if (rc != SQLITE_OK) {
        // Neither readable nor creatable: every key is "not open", every change fails.
        sqlite3_close_v2(connection->db);
        connection->db = nullptr;
        return connection;
    }

    sqlite3 *db = connection->db;
    sqlite3_busy_timeout(db, m_options.busyTimeoutMs);
    connection->writable = sqlite3_db_readonly(db, "main") == 0;
    connection->exec("PRAGMA foreign_keys = ON");

    // Both from one look at the file: another program may give an empty file its tables between
    // two reads, and the version from before with the tables from after is no store of ours.
    bool ok = false;
    bool counted = false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const int version = queryInt(db, "PRAGMA user_version", &ok);
    const int tables = queryInt(db, "SELECT count(*) FROM sqlite_schema", &counted);
    const int readError = sqlite3_extended_errcode(db) & 0xff;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr); // only read; ends it in any case
    if ((!ok || !counted) && (readError == SQLITE_BUSY || readError == SQLITE_LOCKED))
        throw StoreError(kBusy);
    if (!ok || !counted)
        throw StoreError("not a settings store");

    if (version == 0 && tables == 0) {
        if (!connection->writable)
            return connection; // an empty file we may not fill holds nothing
        // Only a truly empty file, or a sound database without a table, is ours to fill; a
        // damaged one that merely looks empty is left exactly as it is.
        const qint64 size = QFileInfo(m_path).size();
        if (size > 0 && !isSoundAndEmpty(db, size))
            throw StoreError("not a settings store");
        connection->exec("BEGIN IMMEDIATE");
        // Another writer may have created it while we waited for the lock.
        if (queryInt(db, "SELECT count(*) FROM sqlite_schema", &ok) == 0 && ok)
            connection->exec(schema::kCreate);
        connection->exec("COMMIT");
    } else if (version != schema::kUserVersion || !prepares(db, schema::kProbeKeys)
               || !prepares(db, schema::kProbeVals)) {
        throw StoreError("not a settings store");
    }

    if (connection->writable)
        connection->exec("PRAGMA synchronous = FULL");
    connection->usable = true;
    connection->identity = identity.exists ? identity : FileIdentity::of(m_path);
    return connection;
}

} // namespace store
