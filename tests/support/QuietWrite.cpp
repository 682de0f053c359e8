#include "QuietWrite.h"

#include "store/SqliteStore.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <QTest>

void writeQuietly(store::Store &store, const std::function<void(store::Access &)> &work)
{
    try {
        const auto access = store.beginAccess();
        work(*access);
        access->finish();
    } catch (const store::StoreError &error) {
        QFAIL(qPrintable(QStringLiteral("setting up the store failed: %1")
                             .arg(QString::fromUtf8(error.what()))));
    }
}

void writeQuietly(const QString &storePath, const std::function<void(store::Access &)> &work)
{
    store::SqliteStore settings(storePath);
    writeQuietly(settings, work);
}
