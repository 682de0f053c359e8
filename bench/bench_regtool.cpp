// ostrove-reg export and import of a tree of 100,000 values against the sqlite3 shell's own dump
// and reload of the same file, each run as a program from start to end.
#include "BenchSupport.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/Store.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>

namespace {

constexpr int kKeys = 1000;
constexpr int kValuesPerKey = 100;
constexpr int kRuns = 5;

void fill(store::Store &settings)
{
    const auto access = settings.beginAccess();
    for (int k = 0; k < kKeys; ++k) {
        const auto key = access->openOrCreate(QByteArray(store::kAccountsKey) + "user"
                                              + QByteArray::number(k) + "@example.com");
        for (int v = 0; v < kValuesPerKey; ++v) {
            const QByteArray name = "Value " + QByteArray::number(v);
            switch (v % 3) {
            case 0:
                key->writeString(name, "pop" + QByteArray::number(k * v) + ".example.com");
                break;
            case 1:
                key->writeInteger(name, k * v);
                break;
            default:
                key->writeRaw(name, store::RegBinary, QByteArray(16, static_cast<char>(v)));
                break;
            }
        }
    }
    access->finish();
}

// Every value's key, name, type and bytes, to check that a reload holds the same rows.
QByteArray contents(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT k.name, v.name, v.type, v.data FROM vals v JOIN keys k "
                       "ON k.id = v.key ORDER BY k.fold, v.seq",
                       -1, &query, nullptr);
    QByteArray all;
    qint64 rows = 0;
    while (sqlite3_step(query) == SQLITE_ROW) {
        ++rows;
        for (int column = 0; column < 4; ++column) {
            const auto *data = static_cast<const char *>(sqlite3_column_blob(query, column));
            all.append(data, sqlite3_column_bytes(query, column)).append('|');
        }
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return QByteArray::number(rows) + ' ' + all;
}

void runProgram(const QString &program, const QStringList &arguments, const QString &input,
                const QString &output)
{
    QProcess process;
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.setStandardOutputFile(output.isEmpty() ? QProcess::nullDevice() : output);
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
}

} // namespace

int main()
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("source.db"));
    const QString copy = folder.filePath(QStringLiteral("copy.db"));
    const QString regFile = folder.filePath(QStringLiteral("tree.reg"));
    const QString sqlFile = folder.filePath(QStringLiteral("tree.sql"));
    const QString ours = QStringLiteral(OSTROVE_REG);
    const QString shell = QStringLiteral("sqlite3");
    {
        store::SqliteStore settings(source);
        fill(settings);
    }
    const QByteArray expected = contents(source);
    std::printf("%d values in %d keys, each figure the median of %d runs\n", kKeys * kValuesPerKey,
                kKeys, kRuns);

    const double exportUs = medianMicroseconds(kRuns, [&] {
        runProgram(ours, {QStringLiteral("--store"), source, QStringLiteral("export"), regFile},
                   QString(), QString());
    });
    const double export4Us = medianMicroseconds(kRuns, [&] {
        runProgram(ours,
                   {QStringLiteral("--store"), source, QStringLiteral("export"),
                    QStringLiteral("--regedit4"), folder.filePath(QStringLiteral("tree4.reg"))},
                   QString(), QString());
    });
    const double dumpUs = medianMicroseconds(kRuns, [&] {
        runProgram(shell, {source, QStringLiteral(".dump")}, QString(), sqlFile);
    });

    const double importUs = medianMicroseconds(kRuns, [&] {
        QFile::remove(copy);
        runProgram(ours, {QStringLiteral("--store"), copy, QStringLiteral("import"), regFile},
                   QString(), QString());
    });
    const bool importSame = contents(copy) == expected;
    // Over the same tree: the backup of all 100,000 values is written first, nothing changes.
    const double reimportUs = medianMicroseconds(kRuns, [&] {
        runProgram(ours, {QStringLiteral("--store"), copy, QStringLiteral("import"), regFile},
                   QString(), QString());
    });
    const double reloadUs = medianMicroseconds(kRuns, [&] {
        QFile::remove(copy);
        runProgram(shell, {copy}, sqlFile, QString());
    });
    const bool reloadSame = contents(copy) == expected;

    std::printf("files: .reg %lld bytes, REGEDIT4 %lld bytes, .sql %lld bytes\n",
                static_cast<long long>(QFile(regFile).size()),
                static_cast<long long>(QFile(folder.filePath(QStringLiteral("tree4.reg"))).size()),
                static_cast<long long>(QFile(sqlFile).size()));
    printComparison("export, Unicode form (ostrove-reg)", exportUs / 1000, "sqlite3 .dump",
                    dumpUs / 1000, "ms");
    printComparison("export, REGEDIT4 form (ostrove-reg)", export4Us / 1000, "sqlite3 .dump",
                    dumpUs / 1000, "ms");
    printComparison("import into an empty store (ostrove-reg)", importUs / 1000, "sqlite3 < dump",
                    reloadUs / 1000, "ms");
    printComparison("import over the same tree, backup first (ostrove-reg)", reimportUs / 1000,
                    "sqlite3 < dump", reloadUs / 1000, "ms");
    std::printf("same rows after: import %s, reload %s\n", importSame ? "yes" : "NO",
                reloadSame ? "yes" : "NO");
    return importSame && reloadSame ? 0 : 1;
}
