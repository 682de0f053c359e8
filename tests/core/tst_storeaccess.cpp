#include "TestSystem.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/StoreError.h"

#include <QFile>
#include <QTest>

#include <sqlite3.h>

using store::Access;

// What one access to the store sees of its own changes, and what it holds of the file while it
// runs: the values and key ids it keeps to save lookups must never outlive the change that makes
// them wrong, and its transaction must be the one unit another program sees.
class TestStoreAccess : public QObject
{
    Q_OBJECT

private:
    bool access(store::Store &settings, const std::function<void(Access &)> &work)
    {
        return store::registryAccess(settings, m_prompts, work);
    }

    static QByteArray accountKey(const QByteArray &address)
    {
        return QByteArray(store::kAccountsKey) + address;
    }

    // Two accounts with their values, as the accounts page finds them.
    void storeAccounts(store::Store &settings)
    {
        QVERIFY(access(settings, [](Access &a) {
            for (const QByteArray address : {QByteArray("a@b"), QByteArray("c@d")}) {
                const auto key = a.openOrCreate(accountKey(address));
                key->writeString(store::kPop3, "pop." + address);
                key->writeString(store::kLogin, "login." + address);
                key->writeBool(store::kSsl, false);
            }
        }));
    }

    // Whether another program could start a change of the file right now.
    static bool anotherWriterGetsIn(const QString &path)
    {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db, 0);
        const bool began =
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (began)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
        return began;
    }

    RecordingPrompts m_prompts;

private slots:
    void init() { m_prompts = RecordingPrompts(); }
    void cleanup() { QVERIFY(m_prompts.shown.isEmpty()); }

    // The accounts page lists the accounts, which reads their values ahead, and then changes
    // one of them in the same access.
    void changesAfterAListingAreReadBack()
    {
        TestSystem t;
        storeAccounts(t.store);
        QVERIFY(access(t.store, [](Access &a) {
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(),
                     (QList<QByteArray>{"a@b", "c@d"}));
            const auto key = a.openOrCreate(accountKey("a@b"));
            QCOMPARE(key->readString(store::kPop3), QByteArray("pop.a@b"));
            key->writeString(store::kPop3, "changed");
            QCOMPARE(key->readString(store::kPop3), QByteArray("changed"));
            key->writeString(store::kPassword, "00");
            QVERIFY(key->valueExists(store::kPassword));
            key->writeBool(store::kSsl, true);
            QVERIFY(key->readBool(store::kSsl));
            key->deleteValue(store::kLogin);
            QVERIFY(!key->valueExists(store::kLogin));
            QCOMPARE(key->readString(store::kLogin), QByteArray());
            // The other account's values were read ahead too and are still right.
            QCOMPARE(a.openOrCreate(accountKey("c@d"))->readString(store::kLogin),
                     QByteArray("login.c@d"));

            // Listed afresh, then a deletion with no write before it.
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames().size(), 2);
            const auto other = a.openOrCreate(accountKey("c@d"));
            other->deleteValue(store::kLogin);
            QVERIFY(!other->valueExists(store::kLogin));
            QCOMPARE(other->readString(store::kLogin), QByteArray());
        }));
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.string(accountKey("a@b"), store::kPop3), QByteArray("changed"));
        QVERIFY(!reader.value(accountKey("a@b"), store::kLogin));
        QCOMPARE(reader.valueNames(accountKey("c@d")), (QList<QByteArray>{"Pop3", "SSL"}));
    }

    void aDeletedKeyIsGoneForTheRestOfTheAccess()
    {
        TestSystem t;
        storeAccounts(t.store);
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(QByteArray(store::kAttachmentsKey) + "x.zip\\inner")
                ->writeString("v", "w");
            QVERIFY(a.openExisting(QByteArray(store::kAttachmentsKey) + "x.zip\\inner")->isOpen());
            const auto accounts = a.openOrCreate(store::kAccountsKey);
            QCOMPARE(accounts->subkeyNames().size(), 2);
            QVERIFY(a.openExisting(accountKey("a@b"))->isOpen());

            accounts->deleteKey("A@B");
            a.openOrCreate(store::kAttachmentsKey)->deleteKey("X.ZIP");

            QVERIFY(!a.openExisting(accountKey("a@b"))->isOpen());
            QVERIFY(!a.openExisting(QByteArray(store::kAttachmentsKey) + "x.zip")->isOpen());
            QVERIFY(!a.openExisting(QByteArray(store::kAttachmentsKey) + "x.zip\\inner")->isOpen());
            QCOMPARE(accounts->subkeyNames(), QList<QByteArray>{"c@d"});
            // Added again under the same name: a new, empty key that takes writes.
            const auto again = a.openOrCreate(accountKey("a@b"));
            QVERIFY(again->isOpen());
            QVERIFY(again->valueNames().isEmpty());
            QVERIFY(!again->valueExists(store::kPop3));
            again->writeString(store::kLogin, "new");
        }));
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.valueNames(accountKey("a@b")), QList<QByteArray>{"Login"});
        QCOMPARE(reader.string(accountKey("a@b"), store::kLogin), QByteArray("new"));
        QVERIFY(reader.subkeys(store::kAttachmentsKey).isEmpty());
    }

    // Names compare whole: one name that begins another is still another name.
    void valuesReadAheadAreFoundByTheirWholeName_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<bool>("found");
        QTest::newRow("same") << QByteArray("Pop3") << QByteArray("Pop3") << true;
        QTest::newRow("other case") << QByteArray("Pop3") << QByteArray("pOP3") << true;
        QTest::newRow("asked for the beginning")
            << QByteArray("Pop3") << QByteArray("Pop") << false;
        QTest::newRow("asked for more") << QByteArray("Pop") << QByteArray("Pop3") << false;
        QTest::newRow("asked for nothing") << QByteArray("Pop3") << QByteArray() << false;
        QTest::newRow("beyond ASCII, other case") << bytes("Żabka") << bytes("żABKA") << true;
        QTest::newRow("beyond ASCII, the beginning") << bytes("Żabka") << bytes("Żab") << false;
        QTest::newRow("beyond ASCII, more") << bytes("Żab") << bytes("Żabka") << false;
    }
    void valuesReadAheadAreFoundByTheirWholeName()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, asked);
        QFETCH(bool, found);
        TestSystem t;
        QVERIFY(access(t.store, [&](Access &a) {
            a.openOrCreate(accountKey("a@b"))->writeString(stored, "text");
        }));
        QVERIFY(access(t.store, [&](Access &a) {
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(), QList<QByteArray>{"a@b"});
            const auto key = a.openOrCreate(accountKey("a@b"));
            QCOMPARE(key->valueExists(asked), found);
            QCOMPARE(key->readString(asked), found ? QByteArray("text") : QByteArray());
        }));
    }

    // A page reloads inside its own change; the reload ending must not end the change.
    void aNestedAccessLeavesTheOuterOneOpen()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) { a.openOrCreate(store::kMailFilterKey); }));
        const std::unique_ptr<Access> outer = t.store.beginAccess();
        outer->openOrCreate(store::kMailFilterKey)->writeString("outer", {});
        {
            const std::unique_ptr<Access> inner = t.store.beginAccess();
            inner->openOrCreate(store::kMailFilterKey)->writeString("inner", {});
            QCOMPARE(inner->openOrCreate(store::kMailFilterKey)->valueNames(),
                     (QList<QByteArray>{"outer", "inner"}));
            inner->finish();
        }
        QVERIFY(StoreReader(t.storePath).valueNames(store::kMailFilterKey).isEmpty());
        QVERIFY(!anotherWriterGetsIn(t.storePath));
        outer->openOrCreate(store::kMailFilterKey)->writeString("after", {});
        outer->abandon();
        QVERIFY(StoreReader(t.storePath).valueNames(store::kMailFilterKey).isEmpty());
        QVERIFY(anotherWriterGetsIn(t.storePath));
    }

    void anAbandonedNestedAccessDropsOnlyItsOwnWrites()
    {
        TestSystem t;
        {
            const std::unique_ptr<Access> outer = t.store.beginAccess();
            outer->openOrCreate(store::kMailFilterKey)->writeString("outer", {});
            {
                const std::unique_ptr<Access> inner = t.store.beginAccess();
                inner->openOrCreate(store::kMailFilterKey)->writeString("inner", {});
                inner->openOrCreate(store::kSubjectFilterKey)->writeString("inner", {});
                inner->abandon();
            }
            const auto key = outer->openOrCreate(store::kMailFilterKey);
            QCOMPARE(key->valueNames(), QList<QByteArray>{"outer"});
            QVERIFY(!outer->openExisting(store::kSubjectFilterKey)->isOpen());
            key->writeString("last", {});
            outer->finish();
        }
        const StoreReader reader(t.storePath);
        QCOMPARE(reader.valueNames(store::kMailFilterKey), (QList<QByteArray>{"outer", "last"}));
        QVERIFY(!reader.keyExists(store::kSubjectFilterKey));
    }

    // Between our read and our write nobody else may change the file, or the write would be
    // made against what is no longer there.
    void anAccessHoldsOffOtherWritersFromItsStart()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, 5);
        }));
        QVERIFY(anotherWriterGetsIn(t.storePath));
        QVERIFY(access(t.store, [&](Access &a) {
            QVERIFY(!anotherWriterGetsIn(t.storePath));
            const auto key = a.openExisting(store::kSettingsKey);
            const qint32 every = key->readInteger(store::kScanEvery);
            QVERIFY(!anotherWriterGetsIn(t.storePath));
            key->writeInteger(store::kScanEvery, every + 1);
        }));
        QVERIFY(anotherWriterGetsIn(t.storePath));
        QCOMPARE(StoreReader(t.storePath).dword(store::kSettingsKey, store::kScanEvery), 6);
    }

    // A commit that another program's read keeps from going through leaves neither the change
    // nor a lock behind, and the same store works again at once.
    void aFailedCommitLeavesTheFileAsItWasAndFree()
    {
        TestSystem t;
        store::SqliteStore impatient(t.storePath, {200, {}, false});
        QVERIFY(access(impatient, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("kept", {});
        }));
        {
            const ReaderInTheWay reader(t.storePath);
            QVERIFY(!access(impatient, [](Access &a) {
                a.openOrCreate(store::kMailFilterKey)->writeString("refused", {});
            }));
        }
        QCOMPARE(m_prompts.texts(), QStringList{"Error reading/writing to registry"});
        m_prompts.shown.clear();
        QVERIFY(StoreReader(t.storePath).unlocked());
        QCOMPARE(StoreReader(t.storePath).valueNames(store::kMailFilterKey),
                 QList<QByteArray>{"kept"});
        QVERIFY(access(impatient, [](Access &a) {
            const auto key = a.openOrCreate(store::kMailFilterKey);
            QCOMPARE(key->valueNames(), QList<QByteArray>{"kept"});
            key->writeString("later", {});
        }));
        QCOMPARE(StoreReader(t.storePath).valueNames(store::kMailFilterKey),
                 (QList<QByteArray>{"kept", "later"}));
    }
};

QTEST_GUILESS_MAIN(TestStoreAccess)
#include "tst_storeaccess.moc"
