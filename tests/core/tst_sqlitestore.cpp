#include "FaultyVfs.h"
#include "TestSystem.h"
#include "store/NameFolding.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/StoreError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <grp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using store::Access;

// The tables as the store format documents them, written out here on their own.
constexpr char kKeysTable[] = "CREATE TABLE keys (id INTEGER PRIMARY KEY, parent INTEGER "
                              "REFERENCES keys(id) ON DELETE CASCADE, name TEXT NOT NULL, fold "
                              "TEXT NOT NULL, UNIQUE (parent, fold));";
constexpr char kValsTable[] = "CREATE TABLE vals (key INTEGER NOT NULL REFERENCES keys(id) ON "
                              "DELETE CASCADE, name TEXT NOT NULL, fold TEXT NOT NULL, type "
                              "INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL, "
                              "PRIMARY KEY (key, fold));";

class TestSqliteStore : public QObject
{
    Q_OBJECT

private:
    // Runs work in one access and reports whether it ran to its end without the message.
    bool access(store::Store &settings, const std::function<void(Access &)> &work)
    {
        return store::registryAccess(settings, m_prompts, work);
    }
    static QByteArray fileHash(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }

    RecordingPrompts m_prompts;

private slots:
    void init() { m_prompts = RecordingPrompts(); }

    void newFileGetsTheDocumentedSchema()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) { a.openOrCreate(store::kSettingsKey); }));
        QVERIFY(m_prompts.shown.isEmpty());

        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(t.storePath).constData(), &db), SQLITE_OK);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int(statement, 0), 1);
        sqlite3_finalize(statement);
        sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))),
                 QByteArray("delete"));
        sqlite3_finalize(statement);
        sqlite3_prepare_v2(db,
                           "SELECT count(*) FROM sqlite_schema WHERE name IN "
                           "('keys', 'vals', 'vals_by_seq')",
                           -1, &statement, nullptr);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int(statement, 0), 3);
        sqlite3_finalize(statement);
        sqlite3_close(db);

        const StoreReader reader(t.storePath);
        QVERIFY(reader.keyExists("\\Software\\Zel Software\\Ostrove"));
        QCOMPARE(reader.subkeys("\\Software"), QList<QByteArray>{"Zel Software"});
    }

    void namesIgnoreCaseAlsoBeyondAscii()
    {
        QCOMPARE(store::foldName("zażółć"), QByteArray("ZAŻÓŁĆ"));
        // One-to-one mapping only: the sharp s has no single upper-case letter and stays.
        QCOMPARE(store::foldName("straße"), QByteArray("STRAßE"));
        QCOMPARE(store::foldName(QByteArray("a\xFFz")), QByteArray("A\xFFZ"));

        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            const auto key = a.openOrCreate(store::kSubjectFilterKey);
            key->writeString("Żaba", "1");
            key->writeString("żABA", "2"); // the same name: replaces, keeps the first spelling
            QCOMPARE(key->valueNames(), QList<QByteArray>{"Żaba"});
            QCOMPARE(key->readString("ŻABA"), QByteArray("2"));
        }));
    }

    void enumerationOrderFollowsTheFormat()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            const auto key = a.openOrCreate(store::kContentFilterKey);
            key->writeString("zebra", {});
            key->writeString("apple", {});
            key->writeString("mango", {});
            key->writeString("ZEBRA", "again"); // replacing keeps the place
            QCOMPARE(key->valueNames(), (QList<QByteArray>{"zebra", "apple", "mango"}));
            key->deleteValue("apple");
            key->writeString("apple", {}); // a new value goes last
            QCOMPARE(key->valueNames(), (QList<QByteArray>{"zebra", "mango", "apple"}));

            const auto accounts = a.openOrCreate(store::kAccountsKey);
            for (const char *name : {"b@x", "A@x", "c@x"})
                a.openOrCreate(QByteArray(store::kAccountsKey) + name);
            QCOMPARE(accounts->subkeyNames(), (QList<QByteArray>{"A@x", "b@x", "c@x"}));
        }));
        // Every new value is numbered above every number already in the file.
        const StoreReader reader(t.storePath);
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(t.storePath).constData(), &db);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT seq FROM vals WHERE name = 'apple' AND seq = "
                           "(SELECT max(seq) FROM vals)",
                           -1, &statement, nullptr);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }

    // Windows lists subkeys as if every name were upper case: "a" before "B", though 'B' < 'a'.
    void subkeysAreListedByTheirFoldedNames()
    {
        TestSystem t;
        const QList<QByteArray> names{"b@x", "D@x", "a@x", "C@x", "_@x"};
        const QList<QByteArray> listed{"a@x", "b@x", "C@x", "D@x", "_@x"};
        QVERIFY(access(t.store, [&](Access &a) {
            for (const QByteArray &name : names)
                a.openOrCreate(QByteArray(store::kAccountsKey) + name);
        }));
        QVERIFY(access(t.store, [&](Access &a) {
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(), listed);
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNamesOnly(), listed);
        }));
    }

    void deletingAKeyTakesEverythingBelow()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            const auto deep =
                a.openOrCreate("\\Software\\Zel Software\\Ostrove\\Attachments\\*.zip\\x\\y");
            deep->writeString("v", "w");
            a.openOrCreate(store::kAttachmentsKey)->deleteKey("*.ZIP");
            a.openOrCreate(store::kAttachmentsKey)->deleteKey("never there"); // no failure
        }));
        const StoreReader reader(t.storePath);
        QVERIFY(reader.subkeys(store::kAttachmentsKey).isEmpty());
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(t.storePath).constData(), &db);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM vals", -1, &statement, nullptr);
        sqlite3_step(statement);
        QCOMPARE(sqlite3_column_int(statement, 0), 0);
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }

    void nameLimitsCountCharacters()
    {
        TestSystem t;
        const QString ideograph(QChar(0x6587));
        const QByteArray pattern = ideograph.repeated(90).toUtf8(); // 270 bytes
        const QByteArray longestKey = ideograph.repeated(255).toUtf8();
        const QByteArray longestValue = ideograph.repeated(16383).toUtf8();
        QVERIFY(access(t.store, [&](Access &a) {
            QVERIFY(a.openOrCreate(QByteArray(store::kAttachmentsKey) + pattern)->isOpen());
            QVERIFY(a.openOrCreate("\\Software\\" + longestKey)->isOpen());
            QVERIFY(!a.openOrCreate("\\Software\\" + longestKey + "k")->isOpen());
            a.openOrCreate(store::kSubjectFilterKey)->writeString(longestValue, {});
        }));
        QVERIFY(m_prompts.shown.isEmpty());
        QCOMPARE(StoreReader(t.storePath).subkeys(store::kAttachmentsKey),
                 QList<QByteArray>{pattern});
        QCOMPARE(StoreReader(t.storePath).valueNames(store::kSubjectFilterKey),
                 QList<QByteArray>{longestValue});
        QVERIFY(!access(t.store, [&](Access &a) {
            a.openOrCreate(store::kSubjectFilterKey)->writeString(longestValue + "n", {});
        }));
        QCOMPARE(m_prompts.texts(), QStringList{"Error reading/writing to registry"});
    }

    void aNewStoreAndItsJournalAreTheOwnersAlone()
    {
        TestSystem t;
        const mode_t previous = ::umask(022);
        mode_t journalMode = 0;
        const bool done = access(t.store, [&](Access &a) {
            a.openOrCreate(store::kAccountsKey + QByteArray("a@b"))->writeString("Password", "00");
            struct stat info
            {};
            if (::stat(QFile::encodeName(t.storePath + QStringLiteral("-journal")), &info) == 0)
                journalMode = info.st_mode & 0777;
        });
        ::umask(previous);
        QVERIFY(done);
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(t.storePath), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QCOMPARE(journalMode, mode_t(0600));
    }

    void anExistingStoreKeepsItsMode()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 5);
        }));
        QCOMPARE(::chmod(QFile::encodeName(t.storePath), 0644), 0);
        store::SqliteStore again(t.storePath);
        QVERIFY(access(again, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 6);
        }));
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(t.storePath), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0644));
    }

    void bytesThatAreNotUtf8SurviveUnchanged()
    {
        TestSystem t;
        const QByteArray latin1("caf\xE9", 4);
        QVERIFY(access(t.store, [&](Access &a) {
            a.openOrCreate(QByteArray(store::kAccountsKey) + latin1)->writeString("Login", latin1);
        }));
        QVERIFY(access(t.store, [&](Access &a) {
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(), QList<QByteArray>{latin1});
            QCOMPARE(
                a.openOrCreate(QByteArray(store::kAccountsKey) + "CAF\xE9")->readString("LOGIN"),
                latin1);
        }));
    }

    void writesOfAnAccessAreInvisibleUntilItEnds()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) { a.openOrCreate(store::kMailFilterKey); }));
        QVERIFY(access(t.store, [&](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("half", {});
            // Another program reading now sees the file as it was before this access.
            QVERIFY(StoreReader(t.storePath).valueNames(store::kMailFilterKey).isEmpty());
        }));
        QCOMPARE(StoreReader(t.storePath).valueNames(store::kMailFilterKey),
                 QList<QByteArray>{"half"});
    }

    void foreignFilesAreNeverChanged_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("text") << QByteArray("text");
        QTest::newRow("other schema") << QByteArray("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
        QTest::newRow("newer version")
            << QByteArray("PRAGMA user_version = 2; CREATE TABLE keys(id);");
        QTest::newRow("missing column")
            << QByteArray("CREATE TABLE keys(id, parent, name); CREATE TABLE vals(key); "
                          "PRAGMA user_version = 1;");
        QTest::newRow("newer version with our tables")
            << QByteArray(kKeysTable) + kValsTable + "PRAGMA user_version = 2;";
        QTest::newRow("values without their order")
            << QByteArray(kKeysTable)
                   + "CREATE TABLE vals(key INTEGER, name TEXT, fold TEXT, type INTEGER, data "
                     "BLOB);"
                   + "PRAGMA user_version = 1;";
        QTest::newRow("no values table") << QByteArray(kKeysTable) + "PRAGMA user_version = 1;";
        QTest::newRow("truncated") << QByteArray("truncated");
        // Found by fuzzing: a header that claims an empty database, cut short after 103 bytes.
        QTest::newRow("empty-looking header") << QByteArray("header");
    }
    void foreignFilesAreNeverChanged()
    {
        QFETCH(QByteArray, setup);
        TestSystem t;
        if (setup == "text") {
            QFile file(t.storePath);
            file.open(QIODevice::WriteOnly);
            file.write("[settings]\nthis is not a database\n");
        } else if (setup == "truncated") {
            QVERIFY(access(t.store, [](Access &a) {
                for (int i = 0; i < 200; ++i)
                    a.openOrCreate(store::kMailFilterKey)->writeString(QByteArray::number(i), {});
            }));
            QFile file(t.storePath);
            file.open(QIODevice::ReadWrite);
            file.resize(1500);
        } else if (setup == "header") {
            QFile file(t.storePath);
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray::fromHex(
                "53514c69746520666f726d6174203300100001010040202000000001010040202000000000000000"
                "00000000000000010000000100000001000000000000000000000000000000050d8e000f040fc700"
                "01000000000000000000000000050d8e000f040fc70dd50edb0d8e00"));
        } else {
            StoreReader(t.storePath).exec(setup);
        }
        const QByteArray before = fileHash(t.storePath);

        QVERIFY(!access(t.store, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("x", {});
        }));
        QCOMPARE(m_prompts.texts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(fileHash(t.storePath), before);
    }

    // The open file is used again between accesses; another program may have made it a newer
    // store meanwhile.
    void aStoreMadeNewerWhileOpenIsLeftAlone()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("kept", {});
        }));
        StoreReader(t.storePath).exec("PRAGMA user_version = 2");
        const QByteArray before = fileHash(t.storePath);
        QVERIFY(!access(t.store, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("x", {});
        }));
        QCOMPARE(m_prompts.texts(), QStringList{"Error reading/writing to registry"});
        QVERIFY(!access(t.store, [](Access &a) {
            QCOMPARE(a.openOrCreate(store::kMailFilterKey)->valueNames(),
                     QList<QByteArray>{"kept"});
        }));
        QCOMPARE(fileHash(t.storePath), before);
    }

    // As the monitor finds a file the configuration program has only just created.
    void anEmptyFileThatMayOnlyBeReadHoldsNothing()
    {
        TestSystem t;
        QFile empty(t.storePath);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        store::SqliteStore readOnly(t.storePath, {5000, {}, true});
        QVERIFY(access(readOnly, [](Access &a) {
            const auto key = a.openOrCreate(store::kAccountsKey);
            QVERIFY(!key->isOpen());
            QVERIFY(key->subkeyNames().isEmpty());
            QCOMPARE(a.openExisting(store::kSettingsKey)->readString(store::kLanguage),
                     QByteArray());
        }));
        QVERIFY(m_prompts.shown.isEmpty());
        QCOMPARE(QFileInfo(t.storePath).size(), 0);

        // Once the writer has filled it, the same reader sees what it wrote.
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, "Polski");
        }));
        QVERIFY(access(readOnly, [](Access &a) {
            QCOMPARE(a.openExisting(store::kSettingsKey)->readString(store::kLanguage),
                     QByteArray("Polski"));
        }));
        QVERIFY(m_prompts.shown.isEmpty());
    }

    // The monitor may open the store just as the configuration program gives a new, empty file
    // its tables; what it learns of the file at the open must all come from one state of it.
    void aStoreCreatedWhileItIsOpenedIsTakenAsItWas_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("may only read") << true;
        QTest::newRow("may write") << false;
    }
    void aStoreCreatedWhileItIsOpenedIsTakenAsItWas()
    {
        QFETCH(bool, readOnly);
        TestSystem t;
        QFile empty(t.storePath);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        store::SqliteStore opening(t.storePath,
                                   {5000, QString::fromLatin1(faulty::kName), readOnly});
        bool created = false;
        faulty::onNextRelease([&] {
            created = access(t.store, [](Access &a) {
                a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, "Polski");
            });
        });
        const bool done = access(opening, [](Access &a) {
            a.openExisting(store::kSettingsKey)->readString(store::kLanguage);
        });
        faulty::disarm();
        QVERIFY(created);
        QVERIFY(done);
        QVERIFY(m_prompts.shown.isEmpty());
        QVERIFY(access(opening, [](Access &a) {
            QCOMPARE(a.openExisting(store::kSettingsKey)->readString(store::kLanguage),
                     QByteArray("Polski"));
        }));
        QVERIFY(m_prompts.shown.isEmpty());
    }

    // A file put in place of the one we had open (restored from a backup, say), or removed.
    void anotherFileAtThePathIsOpenedAfresh()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, "first");
        }));
        const QString otherPath = t.folder.filePath(QStringLiteral("restored.db"));
        store::SqliteStore other(otherPath);
        QVERIFY(access(other, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, "restored");
        }));
        QCOMPARE(::rename(QFile::encodeName(otherPath), QFile::encodeName(t.storePath)), 0);
        QVERIFY(access(t.store, [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            QCOMPARE(key->readString(store::kLanguage), QByteArray("restored"));
            key->writeInteger(store::kScanEvery, 7);
        }));
        QCOMPARE(StoreReader(t.storePath).dword(store::kSettingsKey, store::kScanEvery), 7);

        QVERIFY(QFile::remove(t.storePath));
        QVERIFY(access(t.store, [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            QCOMPARE(key->readString(store::kLanguage), QByteArray());
            key->writeInteger(store::kScanEvery, 8);
        }));
        QCOMPARE(StoreReader(t.storePath).dword(store::kSettingsKey, store::kScanEvery), 8);
        QVERIFY(m_prompts.shown.isEmpty());
    }

    // The program keeps the file open between accesses, so an open made while it could write
    // must not outlive the owner's taking that right away, nor an open made without it the
    // right's return.
    void rightsChangedMeanwhileAreHonoured()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("registry.db"));
        QProcess owner;
        if (::geteuid() == 0) {
            // Root may write whatever the mode says: the owner here is an ordinary user.
            constexpr uid_t kNobody = 65534;
            QCOMPARE(::chown(QFile::encodeName(folder.path()).constData(), kNobody, kNobody), 0);
            owner.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0
                    || ::setuid(kNobody) != 0)
                    ::_exit(4);
            });
        }
        owner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        owner.start(QStringLiteral(STORE_RIGHTS), {path});
        QVERIFY(owner.waitForFinished(60000));
        QCOMPARE(owner.exitStatus(), QProcess::NormalExit);
        QCOMPARE(owner.exitCode(), 0);
        QCOMPARE(owner.readAllStandardOutput().split('\n'),
                 (QList<QByteArray>{"writable: written", "made read-only: refused",
                                    "read while read-only: First", "writable again: written", ""}));
        QCOMPARE(StoreReader(path).valueNames(store::kSettingsKey),
                 (QList<QByteArray>{"First", "Third"}));
    }

    void aReadOnlyStoreShowsWhatIsStoredAndRefusesChanges()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("kept", {});
        }));
        const QByteArray before = fileHash(t.storePath);
        store::SqliteStore readOnly(t.storePath, {5000, {}, true});

        QVERIFY(access(readOnly, [](Access &a) {
            QCOMPARE(a.openOrCreate(store::kMailFilterKey)->valueNames(),
                     QList<QByteArray>{"kept"});
            QVERIFY(!a.openOrCreate(store::kSubjectFilterKey)->isOpen()); // never created
        }));
        QVERIFY(m_prompts.shown.isEmpty());
        QVERIFY(!access(readOnly, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("new", {});
        }));
        QVERIFY(!access(readOnly, [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->deleteValue("kept");
        }));
        QCOMPARE(m_prompts.shown.size(), 2);
        QCOMPARE(fileHash(t.storePath), before);
    }

    void aStoreThatCannotBeOpenedListsNothing()
    {
        TestSystem t;
        QFile blocker(t.folder.filePath(QStringLiteral("file")));
        blocker.open(QIODevice::WriteOnly);
        blocker.close();
        // The folder of this path is a plain file: it can be neither created nor read.
        store::SqliteStore nowhere(t.folder.filePath(QStringLiteral("file/registry.db")));
        QVERIFY(access(nowhere, [](Access &a) {
            const auto key = a.openOrCreate(store::kAccountsKey);
            QVERIFY(!key->isOpen());
            QVERIFY(key->subkeyNames().isEmpty());
        }));
        QVERIFY(m_prompts.shown.isEmpty());
        QVERIFY(!access(nowhere,
                        [](Access &a) { a.openOrCreate(store::kAccountsKey)->deleteKey("x"); }));
        QCOMPARE(m_prompts.shown.size(), 1);
    }

    void aSoundEmptyDatabaseIsFilled()
    {
        TestSystem t;
        // An SQLite file whose only table is gone again: pages, but no table.
        StoreReader(t.storePath).exec("CREATE TABLE x(y); DROP TABLE x;");
        QVERIFY(QFileInfo(t.storePath).size() > 0);
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 9);
        }));
        QCOMPARE(StoreReader(t.storePath).dword(store::kSettingsKey, "ScanEvery"), 9);
    }

    void missingFoldersAreCreated()
    {
        TestSystem t;
        store::SqliteStore nested(t.folder.filePath(QStringLiteral("a/b/registry.db")));
        QVERIFY(access(nested, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 5);
        }));
        QCOMPARE(StoreReader(t.folder.filePath(QStringLiteral("a/b/registry.db")))
                     .dword(store::kSettingsKey, "ScanEvery"),
                 5);
        // The folder made for it holds passwords: its owner's alone.
        QCOMPARE(QFileInfo(t.folder.filePath(QStringLiteral("a/b"))).permissions()
                     & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadOwner
                         | QFile::WriteOwner | QFile::ExeOwner),
                 QFile::Permissions());
    }

    void aLockHeldPastTheBusyTimeoutEndsInTheMessage()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) { a.openOrCreate(store::kSettingsKey); }));
        sqlite3 *holder = nullptr;
        sqlite3_open(QFile::encodeName(t.storePath).constData(), &holder);
        QCOMPARE(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

        store::SqliteStore impatient(t.storePath, {200, {}, false});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!access(impatient, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 1);
        }));
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(m_prompts.shown.size(), 1);
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);

        QVERIFY(access(impatient, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 1);
        }));
    }

    void aWalFileIsTurnedBackToARollbackJournal()
    {
        TestSystem t;
        QVERIFY(access(t.store, [](Access &a) { a.openOrCreate(store::kSettingsKey); }));
        StoreReader(t.storePath).exec("PRAGMA journal_mode = WAL");
        QVERIFY(access(t.store, [](Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger("ScanEvery", 3);
        }));
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(t.storePath).constData(), &db);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
        sqlite3_step(statement);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))),
                 QByteArray("delete"));
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }

    void theEnvironmentAndTheUserChooseTheFile()
    {
        qputenv("OSTROVE_REGISTRY", "/tmp/elsewhere.db");
        QCOMPARE(store::SqliteStore::defaultPath(false), QStringLiteral("/tmp/elsewhere.db"));
        qputenv("OSTROVE_REGISTRY", "");
        QCOMPARE(store::SqliteStore::defaultPath(true),
                 QStringLiteral("/var/lib/ostrove/registry.db"));
        // Anyone else has their own, where desktop programs keep settings.
        qputenv("XDG_CONFIG_HOME", "/home/ann/cfg");
        QCOMPARE(store::SqliteStore::defaultPath(false),
                 QStringLiteral("/home/ann/cfg/ostrove/registry.db"));
        qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
        QCOMPARE(store::SqliteStore::defaultPath(false),
                 QDir::homePath() + QStringLiteral("/.config/ostrove/registry.db"));
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("OSTROVE_REGISTRY");
    }
};

QTEST_GUILESS_MAIN(TestSqliteStore)
#include "tst_sqlitestore.moc"
