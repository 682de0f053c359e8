// Writes the workload through the registry access, one access after another, and says on
// standard output after each that it has returned. Usage: store_writer FILE [SECONDS [PAUSE_MS]]
// It goes on from the access number the file holds, so it can be killed and started again.
#include "CountingPrompts.h"
#include "Workload.h"
#include "store/RegistryAccess.h"
#include "store/SqliteStore.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    const double seconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 1e9;
    const int pauseMs = argc > 3 ? QByteArray(argv[3]).toInt() : 0;
    store::SqliteStore settings(QString::fromLocal8Bit(argv[1]));
    CountingPrompts prompts;

    workload::Tree tree;
    int generation = -1;
    workload::read(QString::fromLocal8Bit(argv[1]), tree, generation);

    QElapsedTimer clock;
    clock.start();
    qint64 longest = 0;
    int writes = 0;
    for (int i = generation + 1; static_cast<double>(clock.elapsed()) < seconds * 1000; ++i) {
        QElapsedTimer access;
        access.start();
        const bool done = store::registryAccess(settings, prompts,
                                                [i](store::Access &a) { workload::apply(i, a); });
        longest = qMax(longest, access.nsecsElapsed() / 1000);
        if (!done)
            return 1;
        ++writes;
        std::printf("done %d\n", i);
        std::fflush(stdout);
        if (pauseMs > 0)
            QThread::msleep(static_cast<unsigned long>(pauseMs));
    }
    std::printf("writes %d longest %lld\n", writes, longest);
    return prompts.shown == 0 ? 0 : 1;
}
