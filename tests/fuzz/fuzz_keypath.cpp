// Key paths and value names of arbitrary bytes through the registry access on a real store file:
// no crash, and a value written to a key that opened reads back as written.
#include "platform/UserPrompts.h"
#include "store/RegistryAccess.h"
#include "store/SqliteStore.h"
#include "store/Store.h"

#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

class Quiet : public platform::UserPrompts
{
public:
    platform::Answer show(const platform::Prompt &) override { return platform::Answer::Ok; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/ostrove-fuzz-keypath-%1.db").arg(getpid());
    static store::SqliteStore settings(path);
    static Quiet quiet;

    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray keyPath = "\\Fuzz\\" + (split < 0 ? input : input.left(split));
    const QByteArray name = split < 0 ? QByteArray("v") : input.mid(split + 1);

    store::registryAccess(settings, quiet, [&](store::Access &access) {
        const auto key = access.openOrCreate(keyPath);
        key->subkeyNames();
        key->valueNames();
        if (!key->isOpen())
            return;
        key->writeString(name, input);
        if (key->readString(name)
            != input.left(input.indexOf('\0') < 0 ? input.size() : input.indexOf('\0')))
            std::abort();
        key->deleteValue(name);
        if (key->valueExists(name))
            std::abort();
    });
    // Keep the file small: everything the input made goes again.
    store::registryAccess(settings, quiet, [](store::Access &access) {
        access.openOrCreate("\\")->deleteKey("Fuzz");
    });
    return 0;
}
