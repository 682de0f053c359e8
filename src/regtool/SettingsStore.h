#pragma once

#include <QString>

#include <memory>

class QFile;

namespace store {
class Store;
}

namespace regtool {

// Where this system keeps the settings tree, and how the tool reaches it: a store file
// elsewhere, the registry itself on Windows.

// What the usage text says about the store and --store.
extern const char kStoreUsage[];

// Whether a backup before an import holds the whole tree (a store of the settings alone) or only
// the keys the import touches (the registry, which holds the whole machine's).
extern const bool kBackupWholeTree;

// The store used when --store names none.
QString defaultStoreName();

// The store by its name; throws store::StoreError when there is no such store here.
std::unique_ptr<store::Store> openSettings(const QString &storeName, bool readOnly);

// The start of a backup file's path, to which a time and ".reg" are added.
QString backupStem(const QString &storeName);

// Gives a new backup file the store's privacy (it holds the passwords) and writes it through
// to the disk; false when that failed.
bool finishBackup(QFile &file, const QString &storeName);

} // namespace regtool
