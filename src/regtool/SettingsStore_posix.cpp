#include "regtool/SettingsStore.h"
#include "store/SqliteStore.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace regtool {

const char kStoreUsage[] =
    " The store is\n"
    "the file named by OSTROVE_REGISTRY, else /var/lib/ostrove/registry.db for root and\n"
    "$XDG_CONFIG_HOME/ostrove/registry.db (~/.config/ostrove/) for anyone else.\n";

const bool kBackupWholeTree = true;

QString defaultStoreName()
{
    return store::SqliteStore::defaultPath();
}

std::unique_ptr<store::Store> openSettings(const QString &storeName, bool readOnly)
{
    store::SqliteStore::Options options;
    options.readOnly = readOnly;
    return std::make_unique<store::SqliteStore>(storeName, options);
}

QString backupStem(const QString &storeName)
{
    const QFileInfo storeFile(storeName);
    return storeFile.absolutePath() + QLatin1Char('/') + storeFile.completeBaseName();
}

bool finishBackup(QFile &file, const QString &storeName)
{
    file.setPermissions(QFile::permissions(storeName));
    return file.flush() && ::fsync(file.handle()) == 0;
}

} // namespace regtool
