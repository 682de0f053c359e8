#include "Workload.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// While a writer makes one access after another, a reader reads the whole tree in a loop as the
// monitor would. Each read must show the file exactly as some number of whole accesses left it,
// and neither side may fail or wait longer than the busy timeout. OSTROVE_VIEW_SECONDS sets how
// long (3 by default).
class TestMonitorView : public QObject
{
    Q_OBJECT

private slots:
    void readersNeverSeeHalfAnAccess()
    {
        const double seconds = qEnvironmentVariableIntValue("OSTROVE_VIEW_SECONDS") > 0
                                   ? qEnvironmentVariableIntValue("OSTROVE_VIEW_SECONDS")
                                   : 3;
        constexpr int kBusyTimeoutMs = 5000;
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("registry.db"));
        QProcess writer;
        // Back to back, as fast as the disk allows, with a breath between accesses as a person's
        // clicks have.
        writer.start(QStringLiteral(STORE_WRITER),
                     {path, QString::number(seconds), QStringLiteral("1")});
        QVERIFY(writer.waitForStarted(5000));
        // The file exists, empty, before the writer has given it its tables; a monitor started
        // that early finds no settings at all. What is compared here begins with the first
        // whole access, which the writer reports once it has returned.
        QByteArray first;
        while (!first.startsWith("done ")) {
            QVERIFY2(writer.canReadLine() || writer.waitForReadyRead(10000),
                     "the writer never finished an access");
            if (writer.canReadLine())
                first = writer.readLine();
        }

        QHash<int, workload::Tree> expectedByGeneration;
        int reads = 0;
        int generationsSeen = 0;
        int lastGeneration = -2;
        qint64 longestRead = 0;
        while (writer.state() != QProcess::NotRunning) {
            workload::Tree tree;
            int generation = -1;
            QElapsedTimer clock;
            clock.start();
            QVERIFY2(workload::read(path, tree, generation, kBusyTimeoutMs), "a read failed");
            longestRead = qMax(longestRead, clock.nsecsElapsed() / 1000);
            ++reads;
            if (generation != lastGeneration)
                ++generationsSeen;
            lastGeneration = generation;
            if (generation < 0)
                continue;
            if (!expectedByGeneration.contains(generation))
                expectedByGeneration.insert(generation, workload::expected(generation));
            QCOMPARE(tree, expectedByGeneration.value(generation));
            writer.waitForFinished(0);
        }
        QCOMPARE(writer.exitCode(), 0);
        QByteArray summary;
        for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
            if (line.startsWith("writes "))
                summary = line;
        }
        const QList<QByteArray> words = summary.split(' ');
        QCOMPARE(words.size(), 4);
        const qint64 longestWrite = words[3].toLongLong();
        QVERIFY(longestWrite < kBusyTimeoutMs * 1000);
        QVERIFY(longestRead < kBusyTimeoutMs * 1000);
        qInfo("%d reads (%d distinct states), %s writes, longest read %lld us, longest write "
              "%lld us, busy timeout %d ms",
              reads, generationsSeen, words[1].constData(), longestRead, longestWrite,
              kBusyTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestMonitorView)
#include "tst_monitorview.moc"
