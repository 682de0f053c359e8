#include "FaultyVfs.h"
#include "TestSystem.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"

#include <QTest>

// A store whose disk fails part-way through a change, or turns read-only between two changes:
// the one message, the file intact, and every change committed before the fault still there.
class TestDiskFaults : public QObject
{
    Q_OBJECT

private:
    static void addAccount(store::Access &access, const QByteArray &address)
    {
        const auto key = access.openOrCreate(QByteArray(store::kAccountsKey) + address);
        key->writeString(store::kPop3, "pop." + address);
        key->writeString(store::kLogin, address);
        key->writeString(store::kPassword, "00112233");
        key->writeBool(store::kSsl, true);
    }
    // Whole: all four values; absent: no key at all. Anything else is a torn change.
    static QString accountState(const QString &path, const QByteArray &address)
    {
        const StoreReader reader(path);
        const QByteArray key = QByteArray(store::kAccountsKey) + address;
        if (!reader.keyExists(key))
            return QStringLiteral("absent");
        return reader.valueNames(key).size() == 4 ? QStringLiteral("whole")
                                                  : QStringLiteral("torn");
    }

    int m_struckRows = 0;

private slots:
    void cleanup() { faulty::disarm(); }
    void cleanupTestCase()
    {
        // The rows prove something only where the fault really met the change.
        QVERIFY2(m_struckRows >= 20, qPrintable(QString::number(m_struckRows)));
    }

    void aFailingWriteOrSyncTearsNothing_data()
    {
        QTest::addColumn<int>("writeAt");
        QTest::addColumn<int>("syncAt");
        QTest::addColumn<bool>("diskFull");
        for (int n = 1; n <= 10; ++n) {
            QTest::addRow("write %d", n) << n << 0 << false;
            QTest::addRow("full disk at write %d", n) << n << 0 << true;
        }
        for (int n = 1; n <= 4; ++n)
            QTest::addRow("sync %d", n) << 0 << n << false;
    }
    void aFailingWriteOrSyncTearsNothing()
    {
        QFETCH(int, writeAt);
        QFETCH(int, syncAt);
        QFETCH(bool, diskFull);
        TestSystem t;
        writeQuietly(t.store, [](store::Access &a) { addAccount(a, "kept@x"); });
        RecordingPrompts prompts;

        store::SqliteStore failing(t.storePath, {5000, QString::fromLatin1(faulty::kName), false});
        faulty::arm({writeAt, syncAt, diskFull, false});
        const bool done = store::registryAccess(failing, prompts,
                                                [](store::Access &a) { addAccount(a, "new@x"); });
        const bool struck = faulty::struck();
        faulty::disarm();

        if (struck) {
            ++m_struckRows;
            QVERIFY(!done);
            QCOMPARE(prompts.texts(), QStringList{"Error reading/writing to registry"});
        } else {
            QVERIFY(done);
        }
        QVERIFY(StoreReader(t.storePath).integrityOk());
        QCOMPARE(accountState(t.storePath, "kept@x"), QStringLiteral("whole"));
        const QString added = accountState(t.storePath, "new@x");
        QVERIFY2(added == (done ? QStringLiteral("whole") : QStringLiteral("absent")),
                 qPrintable(added));

        // The same store goes on working once the disk does.
        QVERIFY(store::registryAccess(failing, prompts,
                                      [](store::Access &a) { addAccount(a, "later@x"); }));
        QCOMPARE(accountState(t.storePath, "later@x"), QStringLiteral("whole"));
    }

    void aFileThatTurnsReadOnlyRefusesTheNextChange()
    {
        TestSystem t;
        RecordingPrompts prompts;
        store::SqliteStore settings(t.storePath, {5000, QString::fromLatin1(faulty::kName), false});
        faulty::disarm();
        QVERIFY(store::registryAccess(settings, prompts,
                                      [](store::Access &a) { addAccount(a, "before@x"); }));

        faulty::arm({0, 0, false, true});
        QVERIFY(!store::registryAccess(settings, prompts,
                                       [](store::Access &a) { addAccount(a, "after@x"); }));
        QCOMPARE(prompts.texts(), QStringList{"Error reading/writing to registry"});
        // Reading still works.
        QVERIFY(store::registryAccess(settings, prompts, [](store::Access &a) {
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(),
                     QList<QByteArray>{"before@x"});
        }));
        faulty::disarm();

        QVERIFY(StoreReader(t.storePath).integrityOk());
        QCOMPARE(accountState(t.storePath, "before@x"), QStringLiteral("whole"));
        QCOMPARE(accountState(t.storePath, "after@x"), QStringLiteral("absent"));
        QVERIFY(store::registryAccess(settings, prompts,
                                      [](store::Access &a) { addAccount(a, "again@x"); }));
        QCOMPARE(accountState(t.storePath, "again@x"), QStringLiteral("whole"));
    }
};

QTEST_GUILESS_MAIN(TestDiskFaults)
#include "tst_diskfaults.moc"
