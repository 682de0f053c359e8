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

    if (!countingInstructions()) {
        fillValues(settings, store::kSubjectFilterKey, 10000);
        fillValues(settings, store::kContentFilterKey, 100000);
        printComparison("enumerate 10,000 value names",
                        oursValueNames(settings, store::kSubjectFilterKey, 51), "raw prepared scan",
                        rawValueNames(path, "SubjectFilter", 51));
        printComparison("enumerate 100,000 value names",
                        oursValueNames(settings, store::kContentFilterKey, 11), "raw prepared scan",
                        rawValueNames(path, "ContentFilter", 11));
    }

    store::registryAccess(settings, prompts, [&](store::Access &access) {
        for (int i = 0; i < 1000; ++i) {
            const auto account = access.openOrCreate(QByteArray(store::kAccountsKey) + "user"
                                                     + QByteArray::number(i) + "@example.com");
            account->writeString(store::kPop3, "pop.example.com");
            account->writeString(store::kLogin, "user" + QByteArray::number(i));
            account->writeString(store::kPassword, "0123456789ABCDEF");
        }
    });
    const auto oursSubkeys = [&] {
        store::registryAccess(settings, prompts, [&](store::Access &access) {
            for (const QByteArray &name : access.openOrCreate(store::kAccountsKey)->subkeyNames()) {
                const auto account = access.openOrCreate(store::accountPath(name));
                account->readString(store::kLogin);
                account->readString(store::kPop3);
                account->readString(store::kPassword);
            }
        });
    };
    // The floor finds the key as any program must, by its path's names through the index, and
    // reads every row of the join once.
    Raw raw(path);
    sqlite3_stmt *child = nullptr;
    sqlite3_prepare_v2(raw.db, "SELECT id FROM keys WHERE parent IS ?1 AND fold = ?2", -1, &child,
                       nullptr);
    sqlite3_stmt *join = nullptr;
    sqlite3_prepare_v2(raw.db,
                       "SELECT k.name, v.name, v.data FROM keys k JOIN vals v ON v.key = k.id "
                       "WHERE k.parent = ?1 ORDER BY k.fold, v.seq",
                       -1, &join, nullptr);
    const auto rawSubkeys = [&] {
        sqlite3_exec(raw.db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_int64 parent = 0;
        bool root = true;
        for (const char *fold :
             {"HKEY_LOCAL_MACHINE", "SOFTWARE", "ZEL SOFTWARE", "OSTROVE", "ACCOUNTS"}) {
            if (root)
                sqlite3_bind_null(child, 1);
            else
                sqlite3_bind_int64(child, 1, parent);
            root = false;
            sqlite3_bind_text(child, 2, fold, -1, SQLITE_STATIC);
            sqlite3_step(child);
            parent = sqlite3_column_int64(child, 0);
            sqlite3_reset(child);
        }
        sqlite3_bind_int64(join, 1, parent);
        QList<QByteArray> cells;
        while (sqlite3_step(join) == SQLITE_ROW)
            cells.append(QByteArray(static_cast<const char *>(sqlite3_column_blob(join, 2)),
                                    sqlite3_column_bytes(join, 2)));
        sqlite3_reset(join);
        sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
    };
    if (countingInstructions()) {
        const auto tenTimes = [](const std::function<void()> &work) {
            return [work] {
                for (int i = 0; i < 10; ++i)
                    work();
            };
        };
        countInstructions("ours|1,000 subkeys, three strings each (10 times)",
                          tenTimes(oursSubkeys));
        countInstructions("floor|1,000 subkeys, three strings each (10 times)",
                          tenTimes(rawSubkeys));
        sqlite3_finalize(join);
        sqlite3_finalize(child);
        return 0;
    }
    const double oursSubkeysTime = medianMicroseconds(31, oursSubkeys);
    const double rawSubkeysTime = medianMicroseconds(31, rawSubkeys);
    sqlite3_finalize(join);
    sqlite3_finalize(child);
    printComparison("1,000 subkeys, three strings each", oursSubkeysTime, "raw join scan",
                    rawSubkeysTime);

    // One durable write: a user's add of one pattern. The disk's sync time wanders, so the
    // three kinds of write take turns and each keeps its own median.
    int counter = 0;
    const auto oursWrite = [&](const char *key) {
        store::registryAccess(settings, prompts, [&](store::Access &access) {
            access.openOrCreate(key)->writeString("added " + QByteArray::number(++counter), {});
        });
    };
    const QString barePath = folder.filePath(QStringLiteral("bare.db"));
    Raw bare(barePath);
    sqlite3_exec(bare.db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    std::vector<double> empty, full, commit;
    const auto timed = [](std::vector<double> &into, const std::function<void()> &work) {
        into.push_back(medianMicroseconds(1, work));
    };
    for (int run = 0; run < 61; ++run) {
        timed(empty, [&] { oursWrite(store::kMailFilterKey); });
        timed(full, [&] { oursWrite(store::kContentFilterKey); });
        timed(commit, [&] {
            sqlite3_exec(bare.db, "BEGIN IMMEDIATE; INSERT INTO t VALUES ('added'); COMMIT",
                         nullptr, nullptr, nullptr);
        });
    }
    const auto median = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    printComparison("durable write of one pattern (small key)", median(empty),
                    "bare one-row commit", median(commit));
    printComparison("durable write of one pattern (100,000 values)", median(full),
                    "bare one-row commit", median(commit));
    return 0;
}
