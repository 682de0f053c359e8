#include "TestSystem.h"
#include "Workload.h"
#include "store/RegistryAccess.h"
#include "store/Store.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// Kills a writer with SIGKILL at random moments, over and over. After every kill the file must
// pass SQLite's integrity check, open without a message, and hold exactly what the accesses that
// had returned wrote, each one whole (the access under way when the kill came may be there too,
// whole, or not at all). OSTROVE_KILLS sets the number of kills (200 by default).
class TestCrashSafety : public QObject
{
    Q_OBJECT

private:
private slots:
    void killsNeverTearAnAccess()
    {
        const int kills = qEnvironmentVariableIntValue("OSTROVE_KILLS") > 0
                              ? qEnvironmentVariableIntValue("OSTROVE_KILLS")
                              : 200;
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        qInfo("seed %u, %d kills", seed, kills);

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("registry.db"));
        int lastReturned = -1;
        int accessesReturned = 0;
        int inFlightKept = 0;
        for (int kill = 0; kill < kills; ++kill) {
            QProcess writer;
            writer.start(QStringLiteral(STORE_WRITER), {path});
            QVERIFY(writer.waitForStarted(5000));
            // Let it get going, then kill it somewhere in the middle of its work.
            QTest::qWait(1 + random.bounded(30));
            ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished(5000));
            for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
                if (line.startsWith("done ")) {
                    lastReturned = line.mid(5).toInt();
                    ++accessesReturned;
                }
            }

            QVERIFY2(StoreReader(path).integrityOk(),
                     qPrintable(QStringLiteral("kill %1").arg(kill)));
            RecordingPrompts prompts;
            QVERIFY(store::registryAccess(
                *std::make_unique<store::SqliteStore>(path), prompts,
                [](store::Access &a) { a.openOrCreate(workload::kRoot)->valueNames(); }));
            QVERIFY(prompts.shown.isEmpty());

            workload::Tree tree;
            int generation = -1;
            QVERIFY(workload::read(path, tree, generation));
            QVERIFY2(generation == lastReturned || generation == lastReturned + 1,
                     qPrintable(QStringLiteral("kill %1: file holds access %2, last returned %3")
                                    .arg(kill)
                                    .arg(generation)
                                    .arg(lastReturned)));
            if (generation >= 0)
                QCOMPARE(tree, workload::expected(generation));
            if (generation == lastReturned + 1)
                ++inFlightKept;
            lastReturned = generation;
        }
        qInfo("%d kills, %d accesses returned before a kill, %d accesses under way at a kill "
              "found whole in the file, every file intact",
              kills, accessesReturned, inFlightKept);
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
