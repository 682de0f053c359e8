// Opening a store file of arbitrary (mostly damaged) bytes: no crash, and a file the store
// refuses is never changed.
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/ostrove-fuzz-storefile-%1.db").arg(getpid());
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QFile::remove(path + QStringLiteral("-journal"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(bytes);
    }

    store::SqliteStore settings(path);
    std::unique_ptr<store::Access> access;
    try {
        access = settings.beginAccess();
    } catch (const store::StoreError &) {
        // Refused as not a settings store: it must be exactly as it was.
        if (contents(path) != bytes)
            std::abort();
        return 0;
    }
    try {
        const auto accounts = access->openOrCreate(store::kAccountsKey);
        for (const QByteArray &name : accounts->subkeyNames()) {
            const auto account = access->openOrCreate(QByteArray(store::kAccountsKey) + name);
            account->readString(store::kLogin);
            account->valueExists(store::kSsl);
        }
        accounts->writeString("fuzz", "x");
        access->finish();
    } catch (const store::StoreError &) {
        // Damage met on the way: the one message in the program, nothing more.
    }
    return 0;
}
