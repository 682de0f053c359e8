// Registry access against raw SQLite on the same file, measured in one run.
#include "BenchSupport.h"
#include "platform/UserPrompts.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace {

class NoPrompts : public platform::UserPrompts
{
public:
    platform::Answer show(const platform::Prompt &prompt) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(prompt.text));
        return platform::Answer::Ok;
    }
};

NoPrompts prompts;

void fillValues(store::Store &settings, const char *key, int count)
{
    store::registryAccess(settings, prompts, [&](store::Access &access) {
        const auto filter = access.openOrCreate(key);
        for (int i = 0; i < count; ++i)
            filter->writeString("pattern number " + QByteArray::number(i), {});
    });
}

// A bare connection with the store's journal settings, for the baselines.
struct Raw
{
    explicit Raw(const QString &path)
    {
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        sqlite3_exec(db, "PRAGMA synchronous = FULL; PRAGMA journal_mode = DELETE", nullptr,
                     nullptr, nullptr);
    }
    ~Raw() { sqlite3_close(db); }
    qint64 keyId(const char *name) const
    {
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE name = ?1", -1, &s, nullptr);
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        sqlite3_step(s);
        const qint64 id = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return id;
    }
    sqlite3 *db = nullptr;
};

double rawValueNames(const QString &path, const char *keyName, int runs)
{
    Raw raw(path);
    return medianMicroseconds(runs, [&] {
        sqlite3_exec(raw.db, "BEGIN", nullptr, nullptr, nullptr);
        const qint64 key = raw.keyId(keyName);
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(raw.db, "SELECT name FROM vals WHERE key = ?1 ORDER BY seq", -1, &s,
                           nullptr);
        sqlite3_bind_int64(s, 1, key);
        QList<QByteArray> names;
        while (sqlite3_step(s) == SQLITE_ROW)
            names.append(QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 0)),
                                    sqlite3_column_bytes(s, 0)));
        sqlite3_finalize(s);
        sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
    });
}

double oursValueNames(store::Store &settings, const char *key, int runs)
{
    return medianMicroseconds(runs, [&] {
        store::registryAccess(settings, prompts, [&](store::Access &access) {
            const QList<QByteArray> names = access.openOrCreate(key)->valueNames();
            Q_UNUSED(names);
        });
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("registry.db"));
    store::SqliteStore settings(path);

    std::printf("Settings store (median of runs; ratio = ours / baseline, target <= 1.3)\n");

    fillValues(settings, store::kSubjectFilterKey, 10000);
    fillValues(settings, store::kContentFilterKey, 100000);
    printComparison("enumerate 10,000 value names",
                    oursValueNames(settings, store::kSubjectFilterKey, 51), "raw prepared scan",
                    rawValueNames(path, "SubjectFilter", 51));
    printComparison("enumerate 100,000 value names",
                    oursValueNames(settings, store::kContentFilterKey, 11), "raw prepared scan",
                    rawValueNames(path, "ContentFilter", 11));

    store::registryAccess(settings, prompts, [&](store::Access &access) {
        for (int i = 0; i < 1000; ++i) {
            const auto account = access.openOrCreate(QByteArray(store::kAccountsKey) + "user"
                                                     + QByteArray::number(i) + "@example.com");
            account->writeString(store::kPop3, "pop.example.com");
            account->writeString(store::kLogin, "user" + QByteArray::number(i));
            account->writeString(store::kPassword, "0123456789ABCDEF");
        }
    });
    const double oursSubkeys = medianMicroseconds(31, [&] {
        store::registryAccess(settings, prompts, [&](store::Access &access) {
            for (const QByteArray &name : access.openOrCreate(store::kAccountsKey)->subkeyNames()) {
                const auto account = access.openOrCreate(QByteArray(store::kAccountsKey) + name);
                account->readString(store::kLogin);
                account->readString(store::kPop3);
                account->readString(store::kPassword);
            }
        });
    });
    Raw raw(path);
    const double rawSubkeys = medianMicroseconds(31, [&] {
        sqlite3_exec(raw.db, "BEGIN", nullptr, nullptr, nullptr);
        const qint64 parent = raw.keyId("Accounts");
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(raw.db,
                           "SELECT k.name, v.name, v.data FROM keys k JOIN vals v ON v.key = k.id "
                           "WHERE k.parent = ?1 ORDER BY k.fold, v.seq",
                           -1, &s, nullptr);
        sqlite3_bind_int64(s, 1, parent);
        QList<QByteArray> cells;
        while (sqlite3_step(s) == SQLITE_ROW)
            cells.append(QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 2)),
                                    sqlite3_column_bytes(s, 2)));
        sqlite3_finalize(s);
        sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
    });
    printComparison("1,000 subkeys, three strings each", oursSubkeys, "raw join scan", rawSubkeys);

    // One durable write: a user's add of one pattern.
    int counter = 0;
    const auto oursWrite = [&](const char *key) {
        return medianMicroseconds(41, [&] {
            store::registryAccess(settings, prompts, [&](store::Access &access) {
                access.openOrCreate(key)->writeString("added " + QByteArray::number(++counter), {});
            });
        });
    };
    const double oursEmpty = oursWrite(store::kMailFilterKey);
    const double oursFull = oursWrite(store::kContentFilterKey);
    const QString barePath = folder.filePath(QStringLiteral("bare.db"));
    Raw bare(barePath);
    sqlite3_exec(bare.db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    const double bareCommit = medianMicroseconds(41, [&] {
        sqlite3_exec(bare.db, "BEGIN IMMEDIATE; INSERT INTO t VALUES ('added'); COMMIT", nullptr,
                     nullptr, nullptr);
    });
    printComparison("durable write of one pattern (small key)", oursEmpty, "bare one-row commit",
                    bareCommit);
    printComparison("durable write of one pattern (100,000 values)", oursFull,
                    "bare one-row commit", bareCommit);
    return 0;
}
