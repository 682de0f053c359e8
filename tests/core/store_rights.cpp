// Writes through one store while the file's owner takes its write right away and gives it back
// between two accesses, as an administrator might with chmod. Run as the owner, not as root:
// root may write whatever the mode says. Prints one line per access. Usage: store_rights FILE
#include "CountingPrompts.h"
#include "store/RegistryAccess.h"
#include "store/SqliteStore.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr char kKey[] = "\\Software\\Zel Software\\Ostrove";

void write(store::Store &settings, const char *step, const QByteArray &name)
{
    CountingPrompts prompts;
    const bool done = store::registryAccess(settings, prompts, [&name](store::Access &a) {
        a.openOrCreate(kKey)->writeString(name, "1");
    });
    std::printf("%s: %s\n", step, done && prompts.shown == 0 ? "written" : "refused");
}

void read(store::Store &settings, const char *step)
{
    CountingPrompts prompts;
    QByteArray found;
    const bool done = store::registryAccess(settings, prompts, [&found](store::Access &a) {
        found = a.openExisting(kKey)->valueNames().join(' ');
    });
    std::printf("%s: %s\n", step, done ? found.constData() : "failed");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    const QByteArray file = argv[1];
    store::SqliteStore settings(QFile::decodeName(file));
    write(settings, "writable", "First");
    if (::chmod(file.constData(), 0400) != 0)
        return 3;
    write(settings, "made read-only", "Second");
    read(settings, "read while read-only");
    if (::chmod(file.constData(), 0600) != 0)
        return 3;
    write(settings, "writable again", "Third");
    std::fflush(stdout);
    return 0;
}
