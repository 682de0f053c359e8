#include "StoreUnderTest.h"
#include "TestSystem.h"
#include "store/SqliteStore.h"

#include <QTemporaryDir>

struct StoreUnderTest::State
{
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("registry.db"));
    store::SqliteStore settings{path};
};

StoreUnderTest::StoreUnderTest()
    : m(std::make_unique<State>())
{}

StoreUnderTest::~StoreUnderTest() = default;

store::Store &StoreUnderTest::store()
{
    return m->settings;
}

std::optional<store::RawValue> StoreUnderTest::value(const QByteArray &keyPath,
                                                     const QByteArray &name) const
{
    const auto found = StoreReader(m->path).value(keyPath, name);
    if (!found)
        return std::nullopt;
    return store::RawValue{name, found->type, found->data};
}

QList<QByteArray> StoreUnderTest::subkeys(const QByteArray &keyPath) const
{
    return StoreReader(m->path).subkeys(keyPath);
}

bool StoreUnderTest::keyExists(const QByteArray &keyPath) const
{
    return StoreReader(m->path).keyExists(keyPath);
}
