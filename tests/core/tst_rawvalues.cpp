#include "TestSystem.h"
#include "store/SqliteStore.h"
#include "store/StoreError.h"

#include <QTest>

// The store's calls for tools that move whole trees: values of any type as bytes, opening
// without creating, and dropping an access's writes.
class TestRawValues : public QObject
{
    Q_OBJECT

private slots:
    void rawValuesKeepTypeBytesAndOrder()
    {
        TestSystem t;
        const QByteArray qword("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
        {
            const auto access = t.store.beginAccess();
            const auto key = access->openOrCreate("\\Raw");
            key->writeRaw("b", 11, qword);
            key->writeRaw("a", store::RegSz, QByteArray("no terminator"));
            key->writeRaw("", store::RegBinary, QByteArray());
            key->writeRaw("B", store::RegDword, QByteArray("\x2a\0\0\0", 4)); // replaces "b"
            access->finish();
        }
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.valueNames("\\Raw"), (QList<QByteArray>{"b", "a", ""}));
        QCOMPARE(reader.value("\\Raw", "b")->type, int(store::RegDword));
        QCOMPARE(reader.value("\\Raw", "a")->data, QByteArray("no terminator"));

        const auto access = t.store.beginAccess();
        const auto key = access->openExisting("\\raw");
        QVERIFY(key->isOpen());
        const auto values = key->rawValues();
        QCOMPARE(values.size(), 3);
        QCOMPARE(values[0].name, QByteArray("b")); // the name as first written
        QCOMPARE(values[0].type, int(store::RegDword));
        QCOMPARE(values[0].data, QByteArray("\x2a\0\0\0", 4));
        QCOMPARE(values[1].data, QByteArray("no terminator"));
        QCOMPARE(values[2].name, QByteArray());
        QCOMPARE(values[2].type, int(store::RegBinary));
        const auto one = key->readRaw("A");
        QVERIFY(one.has_value());
        QCOMPARE(one->name, QByteArray("a"));
        QCOMPARE(one->type, int(store::RegSz));
        QVERIFY(!key->readRaw("missing").has_value());
        // The typed reads still see a raw string as a string.
        QCOMPARE(key->readString("a"), QByteArray("no terminator"));
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

    void rawWritesKeepTheNameLimit()
    {
        TestSystem t;
        const auto access = t.store.beginAccess();
        const auto key = access->openOrCreate("\\Raw");
        key->writeRaw(QByteArray(16383, 'n'), 3, "x");
        QVERIFY_THROWS_EXCEPTION(store::StoreError, key->writeRaw(QByteArray(16384, 'n'), 3, "x"));
    }

    void openExistingCreatesNothing()
    {
        TestSystem t;
        {
            const auto access = t.store.beginAccess();
            access->openOrCreate("\\A\\B");
            QVERIFY(!access->openExisting("\\A\\C")->isOpen());
            QVERIFY(!access->openExisting("\\X\\Y")->isOpen());
            QVERIFY(access->openExisting("a\\b\\")->isOpen());
            const auto missing = access->openExisting("\\A\\C");
            QVERIFY(missing->rawValues().isEmpty());
            QVERIFY(!missing->readRaw("v").has_value());
            QVERIFY_THROWS_EXCEPTION(store::StoreError, missing->writeRaw("v", 1, "x"));
            access->finish();
        }
        const StoreReader reader(t.storePath);
        QVERIFY(reader.keyExists("\\A\\B"));
        QVERIFY(!reader.keyExists("\\A\\C"));
        QVERIFY(!reader.keyExists("\\X"));
    }

    void abandonDropsEverythingTheAccessWrote()
    {
        TestSystem t;
        {
            const auto access = t.store.beginAccess();
            access->openOrCreate("\\Kept")->writeString("v", "old");
            access->finish();
        }
        {
            const auto access = t.store.beginAccess();
            access->openOrCreate("\\Kept")->writeString("v", "new");
            access->openOrCreate("\\Dropped\\Deep")->writeInteger("n", 1);
            access->openOrCreate("\\")->deleteKey("Kept");
            access->abandon();
            access->finish(); // does nothing now
        }
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.string("\\Kept", "v"), QByteArray("old"));
        QVERIFY(!reader.keyExists("\\Dropped"));

        // The same store goes on working, without stale key ids from the dropped writes.
        const auto access = t.store.beginAccess();
        QVERIFY(!access->openExisting("\\Dropped\\Deep")->isOpen());
        access->openOrCreate("\\Dropped")->writeString("w", "x");
        access->finish();
        QCOMPARE(StoreReader(t.storePath).string("\\Dropped", "w"), QByteArray("x"));
    }

    void abandoningANestedAccessKeepsTheOuterWrites()
    {
        TestSystem t;
        {
            const auto outer = t.store.beginAccess();
            outer->openOrCreate("\\Outer")->writeString("v", "kept");
            {
                const auto inner = t.store.beginAccess();
                inner->openOrCreate("\\Inner")->writeString("v", "dropped");
                inner->openOrCreate("\\Outer")->writeString("v", "changed");
                inner->abandon();
            }
            QCOMPARE(outer->openExisting("\\Outer")->readString("v"), QByteArray("kept"));
            QVERIFY(!outer->openExisting("\\Inner")->isOpen());
            outer->finish();
        }
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.string("\\Outer", "v"), QByteArray("kept"));
        QVERIFY(!reader.keyExists("\\Inner"));
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
