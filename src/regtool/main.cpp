// ostrove-reg: moves the settings tree in and out of registry files and shows parts of it.
#include "regtool/KeyArguments.h"
#include "regtool/RegParser.h"
#include "regtool/RegQuery.h"
#include "regtool/RegWriter.h"
#include "regtool/SettingsStore.h"
#include "regtool/TreeExport.h"
#include "regtool/TreeImport.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr char kUsageText[] =
    "Usage: ostrove-reg [--store FILE] export [--regedit4] [KEY] [FILE]\n"
    "       ostrove-reg [--store FILE] import [--dry-run] FILE\n"
    "       ostrove-reg [--store FILE] query KEY [NAME]\n"
    "\n"
    "KEY is a path below HKEY_LOCAL_MACHINE, such as \"\\Software\\Zel Software\\Ostrove\"\n"
    "(the default for export) or \"HKLM\\Software\\Zel Software\\Ostrove\". FILE \"-\" is\n"
    "standard output or input; export writes to standard output without FILE.";

constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or "
                             "value.\n";

void print(FILE *stream, const QByteArray &text)
{
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
}

int fail(const QString &message)
{
    print(stderr, "ostrove-reg: " + message.toLocal8Bit() + '\n');
    return kFailed;
}

int usage(const QString &problem)
{
    if (!problem.isEmpty())
        print(stderr, "ostrove-reg: " + problem.toLocal8Bit() + '\n');
    print(stderr, QByteArray(kUsageText) + regtool::kStoreUsage);
    return kUsage;
}

struct Arguments
{
    QString store;
    bool regedit4 = false;
    bool dryRun = false;
    bool help = false;
    QList<QByteArray> positional;
    QString problem;
};

Arguments parseArguments(int argc, char **argv)
{
    Arguments result;
    result.store = regtool::defaultStoreName();
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--store" && i + 1 < argc)
            result.store = QFile::decodeName(argv[++i]);
        else if (argument.startsWith("--store="))
            result.store = QFile::decodeName(argument.mid(8));
        else if (argument == "--regedit4")
            result.regedit4 = true;
        else if (argument == "--dry-run")
            result.dryRun = true;
        else if (argument == "-h" || argument == "--help")
            result.help = true;
        else if (argument.startsWith('-') && argument != "-")
            result.problem =
                QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(argument));
        else
            result.positional.append(argument);
    }
    if (result.store.isEmpty())
        result.problem = QStringLiteral("--store needs a file");
    return result;
}

std::optional<QByteArray> readInput(const QString &file, QString *error)
{
    if (file == QLatin1String("-")) {
        QFile input;
        if (input.open(stdin, QIODevice::ReadOnly))
            return input.readAll();
    } else {
        QFile input(file);
        if (input.open(QIODevice::ReadOnly))
            return input.readAll();
        *error = input.errorString();
    }
    return std::nullopt;
}

// A file that holds the enciphered passwords is its owner's alone, as the store and its backups
// are: the cipher's key is no secret.
bool writeOutput(const QString &file, const QByteArray &bytes, bool holdsPasswords, QString *error)
{
    if (file == QLatin1String("-")) {
        print(stdout, bytes);
        return std::fflush(stdout) == 0;
    }
    QSaveFile output(file);
    if (output.open(QIODevice::WriteOnly)
        && (!holdsPasswords || output.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        && output.write(bytes) == bytes.size() && output.commit()) {
        if (holdsPasswords && isatty(fileno(stderr)) != 0)
            print(stderr, QStringLiteral(
                              "ostrove-reg: %1 holds the accounts' enciphered passwords: only you "
                              "may read it (mode 0600)\n")
                              .arg(file)
                              .toLocal8Bit());
        return true;
    }
    *error = output.errorString();
    return false;
}

// A new file beside the store that no earlier backup occupies, written through to the disk.
std::optional<QString> saveBackup(const QString &storePath, const QByteArray &bytes, QString *error)
{
    const QString stem = regtool::backupStem(storePath) + QStringLiteral("-backup-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString path = stem + (attempt == 1 ? QString() : QStringLiteral("-%1").arg(attempt))
                             + QStringLiteral(".reg");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            *error = file.errorString();
            return std::nullopt;
        }
        if (file.write(bytes) != bytes.size() || !regtool::finishBackup(file, storePath)) {
            *error = file.errorString();
            file.remove();
            return std::nullopt;
        }
        return path;
    }
    *error = QStringLiteral("too many backups with the same time");
    return std::nullopt;
}

// The keys a registry file touches, each with everything below it, into the writer. Where the
// store holds nothing but the settings that is the whole tree; the registry holds the whole
// machine's, so there only the file's own keys that exist already.
bool backUp(store::Access &access, const regtool::RegFile &file, regtool::RegWriter &writer)
{
    if (regtool::kBackupWholeTree)
        return regtool::exportTree(access, QByteArray(), writer);
    QList<QByteArray> keys;
    for (const regtool::RegOperation &operation : file.operations)
        keys.append(operation.keyPath.toLower());
    std::sort(keys.begin(), keys.end());
    QByteArray covered;
    for (const QByteArray &key : std::as_const(keys)) {
        if (!covered.isNull() && (key == covered || key.startsWith(covered + '\\')))
            continue;
        covered = key;
        const auto stored = regtool::storedPath(access, key);
        if (stored && !regtool::exportTree(access, *stored, writer))
            return false;
    }
    return true;
}

int exportCommand(const Arguments &arguments)
{
    const auto &positional = arguments.positional;
    if (positional.size() > 3)
        return usage(QStringLiteral("export takes a key and a file"));
    QByteArray keyText = store::kSettingsKey;
    QString file = QStringLiteral("-");
    if (positional.size() == 3) {
        keyText = positional[1];
        file = QFile::decodeName(positional[2]);
    } else if (positional.size() == 2) {
        if (regtool::looksLikeKey(positional[1]))
            keyText = positional[1];
        else
            file = QFile::decodeName(positional[1]);
    }
    const auto path = regtool::keyArgument(keyText);
    if (!path)
        return fail(QStringLiteral("only keys under HKEY_LOCAL_MACHINE are kept here"));

    regtool::RegWriter writer(arguments.regedit4 ? regtool::RegFormat::Regedit4
                                                 : regtool::RegFormat::Version5);
    // Read-only: exporting never creates the store or any key.
    const auto settings = regtool::openSettings(arguments.store, true);
    const auto access = settings->beginAccess();
    const auto stored = regtool::storedPath(*access, *path);
    if (!stored)
        return fail(QStringLiteral("no key %1 in %2")
                        .arg(QString::fromLocal8Bit(regtool::fullKeyName(*path)), arguments.store));
    if (!regtool::exportTree(*access, *stored, writer))
        return fail(QStringLiteral("cannot export: %1").arg(writer.error()));
    access->finish();

    QString error;
    if (!writeOutput(file, writer.finish(), writer.holdsPassword(), &error))
        return fail(QStringLiteral("cannot write %1: %2").arg(file, error));
    return 0;
}

int importCommand(const Arguments &arguments)
{
    if (arguments.positional.size() != 2)
        return usage(QStringLiteral("import takes one file"));
    const QString file = QFile::decodeName(arguments.positional[1]);
    QString error;
    const auto bytes = readInput(file, &error);
    if (!bytes)
        return fail(QStringLiteral("cannot read %1: %2").arg(file, error));

    // The whole file is checked before the store is even opened.
    const auto parsed = regtool::parseRegFile(*bytes);
    if (parsed.error)
        return fail(QStringLiteral("%1:%2: %3\nostrove-reg: nothing was imported")
                        .arg(file)
                        .arg(parsed.error->line)
                        .arg(parsed.error->reason));

    const auto settings = regtool::openSettings(arguments.store, false);
    const auto access = settings->beginAccess();
    try {
        if (!arguments.dryRun) {
            // Taken inside the import's own transaction, so it is exactly what the import
            // changes. The 8-bit form keeps every stored byte as it is.
            regtool::RegWriter backup(regtool::RegFormat::Regedit4);
            if (!backUp(*access, parsed.file, backup)) {
                access->abandon();
                return fail(QStringLiteral("cannot back up the settings: %1\n"
                                           "ostrove-reg: nothing was imported")
                                .arg(backup.error()));
            }
            const auto saved = saveBackup(arguments.store, backup.finish(), &error);
            if (!saved) {
                access->abandon();
                return fail(QStringLiteral("cannot save a backup beside %1: %2\n"
                                           "ostrove-reg: nothing was imported")
                                .arg(arguments.store, error));
            }
            print(stdout, "Saved the settings as they were to "
                              + QDir::toNativeSeparators(*saved).toLocal8Bit() + '\n');
        }
        const auto summary = regtool::applyRegFile(*access, parsed.file, arguments.dryRun);
        if (arguments.dryRun) {
            access->abandon();
            for (const QString &change : summary.changes)
                print(stdout, change.toLocal8Bit() + '\n');
            print(stdout, QStringLiteral("Dry run: %1 change(s) found, nothing was written\n")
                              .arg(summary.changes.size())
                              .toLocal8Bit());
            return 0;
        }
        access->finish();
        print(stdout, QStringLiteral("Imported %1: %2 key(s) created, %3 deleted; %4 value(s) "
                                     "set, %5 deleted\n")
                          .arg(file)
                          .arg(summary.keysCreated)
                          .arg(summary.keysDeleted)
                          .arg(summary.valuesSet)
                          .arg(summary.valuesDeleted)
                          .toLocal8Bit());
        return 0;
    } catch (const store::StoreError &failure) {
        access->abandon();
        return fail(QStringLiteral("the settings store refused the import (%1)\n"
                                   "ostrove-reg: nothing was imported")
                        .arg(QString::fromLocal8Bit(failure.what())));
    } catch (...) {
        access->abandon();
        throw;
    }
}

int queryCommand(const Arguments &arguments)
{
    const auto &positional = arguments.positional;
    if (positional.size() < 2 || positional.size() > 3)
        return usage(QStringLiteral("query takes a key and perhaps a value name"));
    const auto path = regtool::keyArgument(positional[1]);
    if (!path)
        return fail(QStringLiteral("only keys under HKEY_LOCAL_MACHINE are kept here"));
    const auto settings = regtool::openSettings(arguments.store, true);
    const auto access = settings->beginAccess();
    const auto stored = regtool::storedPath(*access, *path);
    const auto text =
        stored ? regtool::queryKey(
            *access, *stored, positional.size() == 3 ? std::optional(positional[2]) : std::nullopt)
               : std::nullopt;
    access->finish();
    if (!text) {
        print(stderr, kNotFound);
        return kFailed;
    }
    print(stdout, *text);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const Arguments arguments = parseArguments(argc, argv);
    if (arguments.help) {
        print(stdout, QByteArray(kUsageText) + regtool::kStoreUsage);
        return 0;
    }
    if (!arguments.problem.isEmpty())
        return usage(arguments.problem);
    if (arguments.positional.isEmpty())
        return usage(QString());

    const QByteArray command = arguments.positional.first();
    if (arguments.regedit4 && command != "export")
        return usage(QStringLiteral("--regedit4 belongs to export"));
    if (arguments.dryRun && command != "import")
        return usage(QStringLiteral("--dry-run belongs to import"));
    try {
        if (command == "export")
            return exportCommand(arguments);
        if (command == "import")
            return importCommand(arguments);
        if (command == "query")
            return queryCommand(arguments);
    } catch (const store::StoreError &failure) {
        return fail(QStringLiteral("cannot use the settings store %1 (%2)")
                        .arg(arguments.store, QString::fromLocal8Bit(failure.what())));
    }
    return usage(QStringLiteral("unknown command %1").arg(QString::fromLocal8Bit(command)));
}
