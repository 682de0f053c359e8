#include "RegFileText.h"
#include "TestSystem.h"
#include "store/PasswordCipher.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

// ostrove-reg run as the user runs it, on a store file of its own.
class TestRegTool : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    static Run run(const QString &storePath, const QStringList &arguments,
                   const QByteArray &input = QByteArray())
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(OSTROVE_REG), arguments);
        if (!input.isEmpty())
            process.write(input);
        process.closeWriteChannel();
        Run result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray fileHash(const QString &path)
    {
        return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
    }

    // Every key with its values in enumeration order, read with plain SQL.
    static QList<QByteArray> dump(const QString &path)
    {
        QList<QByteArray> rows;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
            != SQLITE_OK) {
            sqlite3_close(db);
            return rows;
        }
        sqlite3_stmt *query = nullptr;
        sqlite3_prepare_v2(db,
                           "WITH RECURSIVE tree(id, path, sortkey) AS ("
                           " SELECT id, '', '' FROM keys WHERE parent IS NULL"
                           " UNION ALL SELECT k.id, tree.path || '\\' || k.name,"
                           " tree.sortkey || char(1) || k.fold"
                           " FROM keys k JOIN tree ON k.parent = tree.id)"
                           " SELECT tree.path, v.name, v.type, hex(v.data) FROM tree"
                           " LEFT JOIN vals v ON v.key = tree.id ORDER BY tree.sortkey, v.seq",
                           -1, &query, nullptr);
        while (sqlite3_step(query) == SQLITE_ROW) {
            QByteArray row;
            for (int column = 0; column < 4; ++column) {
                const auto *text = static_cast<const char *>(sqlite3_column_blob(query, column));
                row.append(QByteArray(text, sqlite3_column_bytes(query, column))).append('|');
            }
            rows.append(row);
        }
        sqlite3_finalize(query);
        sqlite3_close(db);
        return rows;
    }

    static QStringList backups(const QTemporaryDir &folder)
    {
        return QDir(folder.path()).entryList({QStringLiteral("*-backup-*.reg")}, QDir::Files);
    }

    // A tree with every value type and awkward names and texts.
    static void fillAwkwardTree(store::Store &settings)
    {
        writeQuietly(settings, [](store::Access &access) {
            const auto root = access.openOrCreate(store::kSettingsKey);
            root->writeInteger(store::kScanEvery, 15);
            root->writeString(store::kLanguage, "Fran\xC3\xA7"
                                                "ais");
            root->writeString("", "the default value");
            root->writeString("quote\" and back\\slash", "\"C:\\Program Files\\\"");
            root->writeString("empty", QByteArray());
            root->writeString("line breaks", "one\r\ntwo\nthree");
            root->writeString(QByteArray(16383, 'x'), "the longest name");
            root->writeString("\xC5\xBE\xC3\xA1\xC4\x8Fn\xC3\xA9 \xF0\x9F\x93\xA7",
                              "\xE2\x82\xAC 5");
            root->writeRaw("expand", store::RegExpandSz, QByteArray("%TEMP%\\\xC3\xA9\0", 10));
            root->writeRaw("multi", store::RegMultiSz, QByteArray("one\0\xC3\xBA\0\0", 8));
            root->writeRaw("binary", store::RegBinary, QByteArray(200, '\xA5'));
            root->writeRaw("none", 0, QByteArray());
            root->writeRaw("qword", 11, QByteArray("\1\2\3\4\5\6\7\x80", 8));
            root->writeRaw("short dword", store::RegDword, QByteArray("\x01\x02", 2));
            root->writeRaw("unterminated", store::RegSz, QByteArray("no zero"));
            const auto account =
                access.openOrCreate(QByteArray(store::kAccountsKey) + "jan@example.com");
            account->writeString(store::kPop3, "pop.example.com");
            account->writeString(store::kPassword, "BF278FCB2315CABE");
            account->writeBool(store::kSsl, true);
            access.openOrCreate(QByteArray(store::kMailFilterKey))
                ->writeString("*@[spam].example", "");
            access.openOrCreate(QByteArray(store::kAttachmentsKey) + "*.exe");
            access.openOrCreate(QByteArray(store::kSettingsKey) + "\\b\\" + QByteArray(255, 'k'));
            access.openOrCreate(QByteArray(store::kSettingsKey) + "\\B2");
        });
    }

private slots:
    void exportAndImportKeepEveryTypeAndName_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("unicode") << QStringList() << QByteArray("\xFF\xFE", 2);
        QTest::newRow("REGEDIT4") << QStringList{QStringLiteral("--regedit4")}
                                  << QByteArray("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software");
    }

    void exportAndImportKeepEveryTypeAndName()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, start);
        TestSystem from;
        fillAwkwardTree(from.store);
        const QString file = from.folder.filePath(QStringLiteral("out.reg"));
        const Run exported = run(from.storePath, QStringList{QStringLiteral("export")} + options
                                                     + QStringList{file});
        QCOMPARE(exported.exitCode, 0);
        QVERIFY(readFile(file).startsWith(start));

        TestSystem to;
        const Run imported = run(to.storePath, {QStringLiteral("import"), file});
        QVERIFY2(imported.exitCode == 0, imported.err.constData());
        const auto original = dump(from.storePath);
        QVERIFY(original.size() > 20);
        QCOMPARE(dump(to.storePath), original);
        QCOMPARE(store::DecryptPassword(
                     StoreReader(to.storePath)
                         .string(QByteArray(store::kAccountsKey) + "jan@example.com", "Password")),
                 QByteArray("secret"));

        // Exporting the copy gives the same file again.
        const Run again = run(to.storePath, QStringList{QStringLiteral("export")} + options
                                                + QStringList{QStringLiteral("-")});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(again.out, readFile(file));
    }

    void bytesThatAreNotTextExportOnlyIn8Bit()
    {
        TestSystem t;
        writeQuietly(t.store, [](store::Access &access) {
            access.openOrCreate(store::kSettingsKey)->writeString("raw\xFF", "\xFE");
        });
        const Run unicode = run(t.storePath, {QStringLiteral("export")});
        QCOMPARE(unicode.exitCode, 1);
        QVERIFY(unicode.err.contains("REGEDIT4"));
        QVERIFY(unicode.out.isEmpty());

        const Run eightBit =
            run(t.storePath, {QStringLiteral("export"), QStringLiteral("--regedit4")});
        QCOMPARE(eightBit.exitCode, 0);
        QVERIFY(eightBit.out.contains("\"raw\xFF\"=\"\xFE\"\r\n"));
        // Bytes that are not UTF-8 in an 8-bit file are what Windows writes: its ANSI code page.
        TestSystem copy;
        QCOMPARE(run(copy.storePath, {QStringLiteral("import"), QStringLiteral("-")}, eightBit.out)
                     .exitCode,
                 0);
        QCOMPARE(StoreReader(copy.storePath).string(store::kSettingsKey, "raw\xC3\xBF"),
                 QByteArray("\xC3\xBE"));
    }

    // Written by hand after the registry editor's documented format, as a Windows machine with
    // this configuration would export it.
    void importsWhatWindowsWrote_data()
    {
        QTest::addColumn<QByteArray>("file");
        const char *unicodeText =
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000001e\n"
            "\"Language\"=\"Sloven\xC4\x8Dina\"\n"
            "\"LogDir\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,c5,00,00,00\n"
            "\"Servers\"=hex(7):70,00,6f,00,70,00,31,00,00,00,70,00,6f,00,70,00,32,00,00,00,\\\n"
            "  00,00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Accounts]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Accounts\\jan@example.com]\n"
            "\"Pop3\"=\"pop.example.com\"\n"
            "\"Login\"=\"jan\"\n"
            "\"Password\"=\"BF278FCB2315CABE\"\n"
            "\"SSL\"=dword:00000001\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\MailFilter]\n"
            "\"*@casino.example\"=\"\"\n"
            "\n";
        const char *eightBitText =
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000001e\n"
            "\"Language\"=\"Sloven\xC4\x8Dina\"\n"
            "\"LogDir\"=hex(2):25,54,45,4d,50,25,5c,c3,85,00\n"
            "\"Servers\"=hex(7):70,6f,70,31,00,70,6f,70,32,00,00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Accounts]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Accounts\\jan@example.com]\n"
            "\"Pop3\"=\"pop.example.com\"\n"
            "\"Login\"=\"jan\"\n"
            "\"Password\"=\"BF278FCB2315CABE\"\n"
            "\"SSL\"=dword:00000001\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\MailFilter]\n"
            "\"*@casino.example\"=\"\"\n"
            "\n";
        QTest::newRow("unicode, UTF-16LE") << unicodeFile(QString::fromUtf8(unicodeText));
        QTest::newRow("REGEDIT4, CRLF") << QByteArray(eightBitText).replace("\n", "\r\n");
        QTest::newRow("REGEDIT4, LF") << QByteArray(eightBitText);
    }

    void importsWhatWindowsWrote()
    {
        QFETCH(QByteArray, file);
        TestSystem t;
        const QString path = t.folder.filePath(QStringLiteral("windows.reg"));
        writeFile(path, file);
        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QVERIFY2(imported.exitCode == 0, imported.err.constData());

        const StoreReader reader(t.storePath);
        const QByteArray account = QByteArray(store::kAccountsKey) + "jan@example.com";
        QCOMPARE(reader.dword(store::kSettingsKey, "ScanEvery"), std::optional<qint32>(30));
        QCOMPARE(reader.string(store::kSettingsKey, "Language"), QByteArray("Sloven\xC4\x8Dina"));
        QCOMPARE(reader.value(store::kSettingsKey, "LogDir")->type, int(store::RegExpandSz));
        QCOMPARE(reader.value(store::kSettingsKey, "LogDir")->data,
                 QByteArray("%TEMP%\\\xC3\x85\0", 10));
        QCOMPARE(reader.value(store::kSettingsKey, "Servers")->data,
                 QByteArray("pop1\0pop2\0\0", 11));
        QCOMPARE(reader.valueNames(account),
                 (QList<QByteArray>{"Pop3", "Login", "Password", "SSL"}));
        QCOMPARE(reader.string(account, "Pop3"), QByteArray("pop.example.com"));
        QCOMPARE(store::DecryptPassword(reader.string(account, "Password")), QByteArray("secret"));
        QCOMPARE(reader.dword(account, "SSL"), std::optional<qint32>(1));
        QCOMPARE(reader.valueNames(store::kMailFilterKey), QList<QByteArray>{"*@casino.example"});
        // The key names keep the file's spelling.
        QCOMPARE(reader.subkeys("\\"), QList<QByteArray>{"SOFTWARE"});
    }

    void deletionsInAFileApply()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const QByteArray file = "Windows Registry Editor Version 5.00\n"
                                "\n"
                                "[-HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts]\n"
                                "\n"
                                "[-HKEY_LOCAL_MACHINE\\Software\\Nothing\\Here]\n"
                                "\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
                                "\"Language\"=-\n"
                                "\"never there\"=-\n"
                                "@=-\n";
        const QString path = t.folder.filePath(QStringLiteral("delete.reg"));
        writeFile(path, file);
        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QVERIFY2(imported.exitCode == 0, imported.err.constData());
        QVERIFY(imported.out.contains("1 deleted; 0 value(s) set, 2 deleted"));

        const StoreReader reader(t.storePath);
        QVERIFY(!reader.keyExists(store::kAccountsKey));
        QVERIFY(reader.keyExists(store::kMailFilterKey));
        QVERIFY(!reader.keyExists("\\Software\\Nothing")); // a deletion creates nothing
        QVERIFY(!reader.value(store::kSettingsKey, "Language"));
        QVERIFY(!reader.value(store::kSettingsKey, ""));
        QVERIFY(reader.value(store::kSettingsKey, "ScanEvery"));
    }

    void damagedFilesLeaveTheStoreUntouched_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("where");
        const QByteArray header = "Windows Registry Editor Version 5.00\n\n";
        // Each damaged file first changes things a partial import would keep.
        const QByteArray changes =
            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:00000063\n"
            "\n"
            "[-HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\New]\n";
        QByteArray truncated = unicodeFile(QString::fromUtf8(header + changes + "\"a\"=\"b\"\n"));
        truncated.chop(3);
        QTest::newRow("truncated UTF-16") << truncated << QByteArray(":9: ");
        QTest::newRow("bad hex pair") << header + changes + "\"a\"=hex:00,1x\n"
                                      << QByteArray(":9: a bad hex pair");
        QTest::newRow("unterminated string") << header + changes + "\"a\"=\"open\n"
                                             << QByteArray(":9: an unterminated string");
        QTest::newRow("value before any key")
            << header + "\"a\"=\"b\"\n" + changes << QByteArray(":3: a value before any key");
        QTest::newRow("unknown root") << header + changes + "[HKEY_LOCAL_MACHIN\\x]\n"
                                      << QByteArray(":9: unknown root");
        QTest::newRow("another root")
            << header + changes + "[HKEY_CURRENT_USER\\Software\\Zel Software]\n"
            << QByteArray(":9: only keys under HKEY_LOCAL_MACHINE");
        QTest::newRow("not a registry file") << QByteArray("hello\n") << QByteArray(":1: ");
    }

    void damagedFilesLeaveTheStoreUntouched()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, where);
        TestSystem t;
        fillAwkwardTree(t.store);
        const auto before = dump(t.storePath);
        const QByteArray hash = fileHash(t.storePath);
        const QString path = t.folder.filePath(QStringLiteral("damaged.reg"));
        writeFile(path, file);

        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QCOMPARE(imported.exitCode, 1);
        QVERIFY2(imported.err.contains(QFile::encodeName(path) + where), imported.err.constData());
        QVERIFY(imported.err.contains("nothing was imported"));
        QCOMPARE(fileHash(t.storePath), hash);
        QCOMPARE(dump(t.storePath), before);
        QVERIFY(backups(t.folder).isEmpty());
    }

    void aFailureInTheStoreUndoesTheWholeImport()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const auto before = dump(t.storePath);
        // The file reads well, but the store refuses its last value; a trigger stands in for a
        // full disk or a broken file, which the reader cannot foresee either.
        StoreReader(t.storePath)
            .exec("CREATE TRIGGER refuse BEFORE INSERT ON vals WHEN NEW.name = 'last' "
                  "BEGIN SELECT RAISE(ABORT, 'refused by test'); END");
        const auto withTrigger = dump(t.storePath);
        const QByteArray file = "REGEDIT4\n\n"
                                "[-HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts]\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
                                "\"ScanEvery\"=dword:00000063\n"
                                "\"first\"=\"x\"\n"
                                "\"last\"=\"y\"\n";
        const QString path = t.folder.filePath(QStringLiteral("refused.reg"));
        writeFile(path, file);
        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QCOMPARE(imported.exitCode, 1);
        QVERIFY2(imported.err.contains("refused by test"), imported.err.constData());
        QVERIFY(imported.err.contains("nothing was imported"));
        QCOMPARE(dump(t.storePath), withTrigger);
        QCOMPARE(withTrigger, before);
    }

    void aFileThatIsNoStoreIsLeftAlone()
    {
        TestSystem t;
        writeFile(t.storePath, "not a database\n");
        const QString path = t.folder.filePath(QStringLiteral("good.reg"));
        writeFile(path, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"a\"=\"b\"\n");
        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QCOMPARE(imported.exitCode, 1);
        QVERIFY2(imported.err.contains("cannot use the settings store"), imported.err.constData());
        QCOMPARE(readFile(t.storePath), QByteArray("not a database\n"));
        QVERIFY(backups(t.folder).isEmpty());
        QCOMPARE(run(t.storePath, {QStringLiteral("export")}).exitCode, 1);
    }

    void dryRunListsTheChangesAndWritesNothing()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const QByteArray hash = fileHash(t.storePath);
        const QByteArray file =
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000000f\n" // as stored: no change
            "\"Language\"=\"English\"\n"
            "\"empty\"=-\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\New]\n"
            "\"n\"=dword:1\n"
            "[-HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Attachments]\n";
        const QString path = t.folder.filePath(QStringLiteral("dry.reg"));
        writeFile(path, file);
        const Run dry =
            run(t.storePath, {QStringLiteral("import"), QStringLiteral("--dry-run"), path});
        QCOMPARE(dry.exitCode, 0);
        const QByteArray ostrove = "HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove";
        QCOMPARE(dry.out, "change value \"Language\" in " + ostrove
                              + "\n"
                                "delete value \"empty\" in "
                              + ostrove
                              + "\n"
                                "create key "
                              + ostrove
                              + "\\New\n"
                                "add value \"n\" in "
                              + ostrove
                              + "\\New\n"
                                "delete key "
                              + ostrove
                              + "\\Attachments and everything below it\n"
                                "Dry run: 5 change(s) found, nothing was written\n");
        QCOMPARE(fileHash(t.storePath), hash);
        QVERIFY(backups(t.folder).isEmpty());
    }

    void importSavesTheTreeAsItWasBesideTheStore()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const auto before = dump(t.storePath);
        const QByteArray file = "REGEDIT4\n\n"
                                "[-HKEY_LOCAL_MACHINE\\Software\\Zel Software]\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                "\"v\"=\"w\"\n";
        const QString path = t.folder.filePath(QStringLiteral("change.reg"));
        writeFile(path, file);
        const Run imported = run(t.storePath, {QStringLiteral("import"), path});
        QCOMPARE(imported.exitCode, 0);
        const QStringList saved = backups(t.folder);
        QCOMPARE(saved.size(), 1);
        const QString backup = t.folder.filePath(saved.first());
        QVERIFY(imported.out.startsWith("Saved the settings as they were to "
                                        + QFile::encodeName(backup) + "\n"));
        QVERIFY(!StoreReader(t.storePath).keyExists("\\Software\\Zel Software"));
        QCOMPARE(QFile::permissions(backup), QFile::permissions(t.storePath));

        // A second import the same second does not overwrite the first backup.
        QCOMPARE(run(t.storePath, {QStringLiteral("import"), path}).exitCode, 0);
        QCOMPARE(backups(t.folder).size(), 2);

        // The backup brings back exactly what was there.
        TestSystem restored;
        QCOMPARE(run(restored.storePath, {QStringLiteral("import"), backup}).exitCode, 0);
        QCOMPARE(dump(restored.storePath), before);
    }

    // The configuration program keeps the file open and may be inside an access when an
    // import starts: the import waits for it, then applies whole, and the program sees it.
    void importBesideTheRunningConfigurationProgram()
    {
        TestSystem t;
        writeQuietly(t.store, [](store::Access &access) {
            access.openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, 5);
        });
        const QByteArray file = "REGEDIT4\n\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
                                "\"ScanEvery\"=dword:0000001e\n"
                                "\"Language\"=\"Deutsch\"\n";
        const QString path = t.folder.filePath(QStringLiteral("while-open.reg"));
        writeFile(path, file);

        QProcess importer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), t.storePath);
        importer.setProcessEnvironment(environment);
        {
            const auto held = t.store.beginAccess();
            held->openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, 7);
            importer.start(QStringLiteral(OSTROVE_REG), {QStringLiteral("import"), path});
            QVERIFY(importer.waitForStarted());
            QVERIFY(!importer.waitForFinished(1500)); // waits for the held access
            held->finish();
        }
        QVERIFY(importer.waitForFinished(30000));
        QCOMPARE(importer.exitCode(), 0);

        int seen = 0;
        QByteArray language;
        RecordingPrompts prompts;
        QVERIFY(store::registryAccess(t.store, prompts, [&](store::Access &access) {
            const auto key = access.openOrCreate(store::kSettingsKey);
            seen = key->readInteger(store::kScanEvery);
            language = key->readString(store::kLanguage);
        }));
        QCOMPARE(seen, 30);
        QCOMPARE(language, QByteArray("Deutsch"));
        QVERIFY(prompts.shown.isEmpty());
        // The backup was taken after the program's access ended.
        const QStringList saved = backups(t.folder);
        QCOMPARE(saved.size(), 1);
        QVERIFY(
            readFile(t.folder.filePath(saved.first())).contains("\"ScanEvery\"=dword:00000007"));
    }

    // A store kept busy past the wait gives up before writing anything.
    void aStoreBusyPastTheWaitIsLeftAsItWas()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const auto before = dump(t.storePath);
        const QString path = t.folder.filePath(QStringLiteral("busy.reg"));
        writeFile(path, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
                        "\"ScanEvery\"=dword:00000063\n");
        Run imported;
        {
            const auto held = t.store.beginAccess();
            held->openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, 7);
            imported = run(t.storePath, {QStringLiteral("import"), path});
            held->abandon();
        }
        QCOMPARE(imported.exitCode, 1);
        QVERIFY2(imported.err.contains("(database is locked)"), imported.err.constData());
        QCOMPARE(dump(t.storePath), before);
        QVERIFY(backups(t.folder).isEmpty());
    }

    void queryPrintsValuesAndSubkeys()
    {
        TestSystem t;
        writeQuietly(t.store, [](store::Access &access) {
            const auto key = access.openOrCreate(store::kSettingsKey);
            key->writeInteger(store::kScanEvery, 30);
            key->writeString(store::kLanguage, "English");
            key->writeString("", "d");
            key->writeRaw("bin", store::RegBinary, QByteArray("\x01\xab", 2));
            key->writeRaw("multi", store::RegMultiSz, QByteArray("a\0b\0\0", 5));
            key->writeRaw("q", 11, QByteArray("\x10\0\0\0\0\0\0\0", 8));
            access.openOrCreate(QByteArray(store::kAccountsKey) + "a@b");
            access.openOrCreate(store::kMailFilterKey);
        });
        const Run all = run(t.storePath, {QStringLiteral("query"),
                                          QStringLiteral("hklm\\software\\zel software\\ostrove")});
        QCOMPARE(all.exitCode, 0);
        QCOMPARE(all.out,
                 QByteArray("\n"
                            "HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\n"
                            "    ScanEvery    REG_DWORD    0x1e\n"
                            "    Language    REG_SZ    English\n"
                            "    (Default)    REG_SZ    d\n"
                            "    bin    REG_BINARY    01AB\n"
                            "    multi    REG_MULTI_SZ    a\\0b\n"
                            "    q    REG_QWORD    0x10\n"
                            "\n"
                            "HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts\n"
                            "HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\MailFilter\n"));

        const Run one =
            run(t.storePath, {QStringLiteral("query"), QString::fromLatin1(store::kSettingsKey),
                              QStringLiteral("LANGUAGE")});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(one.out, QByteArray("\n"
                                     "HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\n"
                                     "    Language    REG_SZ    English\n"
                                     "\n"));
    }

    void missingKeysAndValuesAreReportedAndNothingIsCreated()
    {
        TestSystem t;
        const Run noStore =
            run(t.storePath, {QStringLiteral("query"), QStringLiteral("\\Software")});
        QCOMPARE(noStore.exitCode, 1);
        QVERIFY(noStore.err.startsWith("ERROR: The system was unable to find"));
        const Run noExport = run(t.storePath, {QStringLiteral("export")});
        QCOMPARE(noExport.exitCode, 1);
        QVERIFY(
            noExport.err.contains("no key HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove"));
        QVERIFY(!QFile::exists(t.storePath));

        fillAwkwardTree(t.store);
        const QByteArray hash = fileHash(t.storePath);
        const Run otherRoot =
            run(t.storePath, {QStringLiteral("query"), QStringLiteral("HKCU\\Software")});
        QCOMPARE(otherRoot.exitCode, 1);
        QVERIFY(otherRoot.err.contains("only keys under HKEY_LOCAL_MACHINE"));
        QCOMPARE(
            run(t.storePath, {QStringLiteral("query"), QString::fromLatin1(store::kSettingsKey),
                              QStringLiteral("absent")})
                .exitCode,
            1);
        QCOMPARE(
            run(t.storePath, {QStringLiteral("export"), QStringLiteral("\\Software\\Absent\\Key")})
                .exitCode,
            1);
        QCOMPARE(fileHash(t.storePath), hash);
        QVERIFY(!StoreReader(t.storePath).keyExists("\\Software\\Absent"));
    }

    void exportTakesAKeyAndAFileInEitherPlace()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const QString file = t.folder.filePath(QStringLiteral("accounts.reg"));
        QCOMPARE(
            run(t.storePath,
                {QStringLiteral("export"),
                 QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\zel software\\Ostrove\\Accounts"),
                 file})
                .exitCode,
            0);
        // It holds a Password value: others may not read it, whatever the umask.
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QByteArray eightBit =
            run(t.storePath, {QStringLiteral("export"), QStringLiteral("--regedit4"),
                              QStringLiteral("\\Software\\Zel Software\\Ostrove\\Accounts")})
                .out;
        QCOMPARE(eightBit,
                 QByteArray("REGEDIT4\r\n"
                            "\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts]\r\n"
                            "\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Zel "
                            "Software\\Ostrove\\Accounts\\jan@example.com]\r\n"
                            "\"Pop3\"=\"pop.example.com\"\r\n"
                            "\"Password\"=\"BF278FCB2315CABE\"\r\n"
                            "\"SSL\"=dword:00000001\r\n"
                            "\r\n"));
        const QByteArray unicode = readFile(file);
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(unicode.constData() + 2),
                                    (unicode.size() - 2) / 2)
                     .toUtf8(),
                 eightBit.replace("REGEDIT4", "Windows Registry Editor Version 5.00"));

        const QString defaultFile = t.folder.filePath(QStringLiteral("all.reg"));
        QCOMPARE(run(t.storePath, {QStringLiteral("export"), defaultFile}).exitCode, 0);
        QVERIFY(readFile(defaultFile).size() > unicode.size());
    }

    void badCommandLinesAreExplained_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown command") << QStringList{QStringLiteral("list")};
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("export"), QStringLiteral("--all")};
        QTest::newRow("import without file") << QStringList{QStringLiteral("import")};
        QTest::newRow("query without key") << QStringList{QStringLiteral("query")};
        QTest::newRow("dry run on export")
            << QStringList{QStringLiteral("export"), QStringLiteral("--dry-run")};
        QTest::newRow("store without file")
            << QStringList{QStringLiteral("query"), QStringLiteral("\\"), QStringLiteral("x"),
                           QStringLiteral("--store")};
    }

    void badCommandLinesAreExplained()
    {
        QFETCH(QStringList, arguments);
        TestSystem t;
        const Run result = run(t.storePath, arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("Usage: ostrove-reg"));
        QVERIFY(!QFile::exists(t.storePath));
    }

    void storeOptionNamesTheFile()
    {
        TestSystem t;
        fillAwkwardTree(t.store);
        const Run result =
            run(t.folder.filePath(QStringLiteral("other.db")),
                {QStringLiteral("--store"), t.storePath, QStringLiteral("query"),
                 QString::fromLatin1(store::kSettingsKey), QStringLiteral("ScanEvery")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.contains("ScanEvery    REG_DWORD    0xf\n"));
        QVERIFY(!QFile::exists(t.folder.filePath(QStringLiteral("other.db"))));
    }
};

QTEST_GUILESS_MAIN(TestRegTool)
#include "tst_regtool.moc"
