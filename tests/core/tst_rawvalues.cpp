#include "TestSystem.h"
#include "store/SqliteStore.h"
#include "store/StoreError.h"

#include <QTest>

// The store file's side of the calls for tools that move whole trees: the listing order, and
// a store that may only be read.
class TestRawValues : public QObject
{
    Q_OBJECT

private slots:
    // Types, bytes and names of raw values are in tst_storebehaviour, for every store; the
    // store file also keeps the values in the order they were first written.
    void rawValuesListInCreationOrder()
    {
        TestSystem t;
        {
            const auto access = t.store.beginAccess();
            const auto key = access->openOrCreate("\\Raw");
            key->writeRaw("b", 11, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
            key->writeRaw("a", store::RegSz, QByteArray("no terminator"));
            key->writeRaw("", store::RegBinary, QByteArray());
            key->writeRaw("B", store::RegDword, QByteArray("\x2a\0\0\0", 4)); // keeps b's place
            access->finish();
        }
        QCOMPARE(StoreReader(t.storePath).valueNames("\\Raw"), (QList<QByteArray>{"b", "a", ""}));
        const auto access = t.store.beginAccess();
        QList<QByteArray> listed;
        for (const store::RawValue &value : access->openExisting("\\raw")->rawValues())
            listed.append(value.name);
        QCOMPARE(listed, (QList<QByteArray>{"b", "a", ""}));
    }

    void subkeyNamesOnlyListAsSubkeyNamesDo()
    {
        TestSystem t;
        {
            const auto access = t.store.beginAccess();
            for (const char *name : {"b", "A", "\xC3\xA9", "c", "Z"})
                access->openOrCreate(QByteArray("\\P\\") + name)->writeString("v", name);
            access->openOrCreate("\\P\\A\\deeper");
            access->finish();
        }
        const auto access = t.store.beginAccess();
        const auto parent = access->openExisting("\\p");
        const QList<QByteArray> names = parent->subkeyNamesOnly();
        QCOMPARE(names, (QList<QByteArray>{"A", "b", "c", "Z", "\xC3\xA9"}));
        QCOMPARE(names, parent->subkeyNames());
        for (const QByteArray &name : names) {
            const auto child = access->openExisting("\\P\\" + name);
            QVERIFY(child->isOpen());
            QCOMPARE(child->readString("v"), name);
        }
        QVERIFY(access->openExisting("\\P\\a")->subkeyNamesOnly() == QList<QByteArray>{"deeper"});
        QVERIFY(access->openExisting("\\Q")->subkeyNamesOnly().isEmpty());
    }

    void aReadOnlyStoreOpensWithoutCreating()
    {
        TestSystem t;
        store::SqliteStore::Options options;
        options.readOnly = true;
        const QString path = t.folder.filePath(QStringLiteral("absent.db"));
        store::SqliteStore readOnly(path, options);
        const auto access = readOnly.beginAccess();
        QVERIFY(!access->openExisting("\\")->isOpen());
        access->finish();
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestRawValues)
#include "tst_rawvalues.moc"
