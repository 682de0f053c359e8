#include "regtool/SettingsStore.h"
#include "store/RegistryStore.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <io.h>
#include <windows.h>

namespace regtool {

namespace {

constexpr char kRegistryName[] = "HKEY_LOCAL_MACHINE";

} // namespace

const char kStoreUsage[] = "\nThe settings are in the registry, under HKEY_LOCAL_MACHINE; --store\n"
                           "may only name HKEY_LOCAL_MACHINE (or HKLM). Backups made by import\n"
                           "go to %LOCALAPPDATA%\\Ostrove.\n";

const bool kBackupWholeTree = false;

QString defaultStoreName()
{
    return QLatin1String(kRegistryName);
}

std::unique_ptr<store::Store> openSettings(const QString &storeName, bool readOnly)
{
    if (storeName.compare(QLatin1String(kRegistryName), Qt::CaseInsensitive) != 0
        && storeName.compare(QLatin1String("HKLM"), Qt::CaseInsensitive) != 0)
        throw store::StoreError("on Windows the settings are in the registry, not in a file");
    return std::make_unique<store::RegistryStore>(store::RegistryStore::Options{readOnly});
}

QString backupStem(const QString &storeName)
{
    (void)storeName;
    // The program's folder is seldom writable; the user's own local data folder is.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                           + QStringLiteral("/Ostrove");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/registry");
}

bool finishBackup(QFile &file, const QString &storeName)
{
    (void)storeName;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return file.flush() && FlushFileBuffers(handle);
}

} // namespace regtool
