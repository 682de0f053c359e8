#include "TestSystem.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/StoreError.h"

#include <QTest>

// A subkey enumeration reads every listed key's values in the same scan, and keys opened from
// the list are read from what it found. Whatever order and spelling a caller uses, and whatever
// it changes in between, the reads must give what the file holds.
class TestSubkeyListing : public QObject
{
    Q_OBJECT

private:
    // Three accounts with the values a page reads, one key without values, one with odd names.
    static void seed(TestSystem &t)
    {
        const auto access = t.store.beginAccess();
        for (const char *address : {"b@x", "a@x", "c@x"}) {
            const auto key = access->openOrCreate(store::accountPath(address));
            key->writeString(store::kPop3, QByteArray("pop.") + address);
            key->writeString(store::kLogin, QByteArray("login ") + address);
            key->writeInteger(store::kSsl, address[0]);
        }
        access->openOrCreate(store::accountPath("empty@x"));
        const auto odd = access->openOrCreate(store::accountPath("odd@x"));
        odd->writeString("", "default value");
        odd->writeString("\xC3\xA9t\xC3\xA9", "summer");
        odd->writeString("Log", "short name");
        access->finish();
    }

private slots:
    void listedKeysReadAsOpenedDirectly()
    {
        TestSystem t;
        seed(t);
        const auto access = t.store.beginAccess();
        const QList<QByteArray> names = access->openOrCreate(store::kAccountsKey)->subkeyNames();
        QCOMPARE(names, (QList<QByteArray>{"a@x", "b@x", "c@x", "empty@x", "odd@x"}));
        // Backwards, so that no read follows the list's order.
        for (qsizetype i = names.size() - 1; i >= 0; --i) {
            if (names[i].startsWith("empty") || names[i].startsWith("odd"))
                continue;
            const auto key = access->openOrCreate(store::accountPath(names[i]));
            QCOMPARE(key->readString(store::kPop3), "pop." + names[i]);
            QCOMPARE(key->readString("LOGIN"), "login " + names[i]);
            QCOMPARE(key->readInteger(store::kSsl), qint32(names[i][0]));
            QVERIFY_THROWS_EXCEPTION(store::StoreError, key->readInteger(store::kPop3));
            QVERIFY_THROWS_EXCEPTION(store::StoreError, key->readString(store::kSsl));
        }
        // Another spelling of a listed key, and a key that has no values.
        QCOMPARE(access->openOrCreate("\\SOFTWARE\\zel software\\Ostrove\\accounts\\B@X\\")
                     ->readString(store::kLogin),
                 QByteArray("login b@x"));
        const auto empty = access->openOrCreate(store::accountPath("empty@x"));
        QVERIFY(empty->isOpen());
        QVERIFY(!empty->valueExists(store::kLogin));
        QCOMPARE(empty->readString(store::kLogin), QByteArray());
    }

    void namesMatchWholeAndWithoutRegardToCase()
    {
        TestSystem t;
        seed(t);
        const auto access = t.store.beginAccess();
        access->openOrCreate(store::kAccountsKey)->subkeyNames();
        const auto odd = access->openOrCreate(store::accountPath("odd@x"));
        QCOMPARE(odd->readString(""), QByteArray("default value"));
        QCOMPARE(odd->readString("\xC3\x89T\xC3\x89"), QByteArray("summer")); // upper case É
        QCOMPARE(odd->readString("log"), QByteArray("short name"));
        // Neither a longer nor a shorter name is the same value.
        QVERIFY(!odd->valueExists("Login"));
        QVERIFY(!odd->valueExists("Lo"));
        QVERIFY(!odd->valueExists("\xC3\xA9t"));
    }

    void readsAfterAChangeSeeTheChange()
    {
        TestSystem t;
        seed(t);
        const auto access = t.store.beginAccess();
        const QList<QByteArray> names = access->openOrCreate(store::kAccountsKey)->subkeyNames();
        const auto a = access->openOrCreate(store::accountPath("a@x"));
        const auto b = access->openOrCreate(store::accountPath("b@x"));
        QCOMPARE(a->readString(store::kLogin), QByteArray("login a@x"));
        b->writeString(store::kLogin, "changed");
        a->deleteValue(store::kPop3);
        QCOMPARE(b->readString(store::kLogin), QByteArray("changed"));
        QVERIFY(!a->valueExists(store::kPop3));
        QCOMPARE(a->readString(store::kLogin), QByteArray("login a@x"));
        // A key removed after the listing is gone, not read from the list.
        access->openOrCreate(store::kAccountsKey)->deleteKey("c@x");
        QVERIFY(!access->openExisting(store::accountPath("c@x"))->isOpen());
        access->finish();
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.string(store::accountPath("b@x"), "Login"), QByteArray("changed"));
        QVERIFY(!reader.value(store::accountPath("a@x"), "Pop3").has_value());
    }

    void aSecondListingLeavesTheFirstKeysRight()
    {
        TestSystem t;
        seed(t);
        const auto access = t.store.beginAccess();
        access->openOrCreate(store::kAccountsKey)->subkeyNames();
        const auto a = access->openOrCreate(store::accountPath("a@x"));
        access->openOrCreate("\\Software\\Zel Software")->subkeyNames();
        QCOMPARE(a->readString(store::kPop3), QByteArray("pop.a@x"));
        QCOMPARE(access->openOrCreate(store::accountPath("c@x"))->readString(store::kPop3),
                 QByteArray("pop.c@x"));
    }

    // Any SQLite client may number keys as it likes, zero and below included.
    void keysNumberedZeroOrBelowAreListedAndRead()
    {
        TestSystem t;
        seed(t);
        const StoreReader file(t.storePath);
        file.exec("INSERT INTO keys(id, parent, name, fold) "
                  "SELECT -1, id, 'neg@x', 'NEG@X' FROM keys WHERE fold = 'ACCOUNTS' UNION ALL "
                  "SELECT 0, id, 'zero@x', 'ZERO@X' FROM keys WHERE fold = 'ACCOUNTS'");
        file.exec("INSERT INTO vals(key, name, fold, type, data, seq) VALUES "
                  "(-1, 'Pop3', 'POP3', 1, CAST('pop.neg' || char(0) AS BLOB), 1000), "
                  "(-1, 'Login', 'LOGIN', 1, CAST('login neg' || char(0) AS BLOB), 1001)");
        QVERIFY(file.keyExists(store::accountPath("neg@x")));

        const auto access = t.store.beginAccess();
        QCOMPARE(access->openOrCreate(store::kAccountsKey)->subkeyNames(),
                 (QList<QByteArray>{"a@x", "b@x", "c@x", "empty@x", "neg@x", "odd@x", "zero@x"}));
        const auto negative = access->openOrCreate(store::accountPath("neg@x"));
        QVERIFY(negative->isOpen());
        QCOMPARE(negative->readString(store::kPop3), QByteArray("pop.neg"));
        QCOMPARE(negative->readString(store::kLogin), QByteArray("login neg"));
        QCOMPARE(access->openOrCreate(store::accountPath("odd@x"))->readString("log"),
                 QByteArray("short name"));
        const auto zero = access->openOrCreate(store::accountPath("zero@x"));
        QVERIFY(zero->isOpen());
        QVERIFY(!zero->valueExists(store::kPop3));
        // Written through the store too.
        zero->writeString(store::kPop3, "pop.zero");
        access->finish();
        QCOMPARE(file.string(store::accountPath("zero@x"), store::kPop3), QByteArray("pop.zero"));
    }

    void aRootNumberedBelowZeroIsTheRoot()
    {
        TestSystem t;
        t.store.beginAccess()->finish(); // the schema, no keys yet
        const StoreReader file(t.storePath);
        file.exec("INSERT INTO keys(id, parent, name, fold) "
                  "VALUES (-7, NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE')");
        const auto access = t.store.beginAccess();
        access->openOrCreate(store::accountPath("a@x"))->writeString(store::kPop3, "pop.a");
        access->finish();
        QCOMPARE(file.string(store::accountPath("a@x"), store::kPop3), QByteArray("pop.a"));
        QCOMPARE(file.subkeys("\\"), QList<QByteArray>{"Software"});
    }

    void theNextAccessReadsTheFileAgain()
    {
        TestSystem t;
        seed(t);
        {
            const auto access = t.store.beginAccess();
            access->openOrCreate(store::kAccountsKey)->subkeyNames();
            access->finish();
        }
        // Another program changes a value between two accesses.
        {
            store::SqliteStore other(t.storePath);
            const auto access = other.beginAccess();
            access->openOrCreate(store::accountPath("a@x"))->writeString(store::kLogin, "other");
            access->finish();
        }
        const auto access = t.store.beginAccess();
        QCOMPARE(access->openOrCreate(store::accountPath("a@x"))->readString(store::kLogin),
                 QByteArray("other"));
    }
};

QTEST_GUILESS_MAIN(TestSubkeyListing)
#include "tst_subkeylisting.moc"
