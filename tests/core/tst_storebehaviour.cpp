#include "RecordingPrompts.h"
#include "StoreUnderTest.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/StoreError.h"

#include <QHash>
#include <QTest>

#include <functional>

using store::Access;

// What every store of the settings does alike, whichever this build uses (the SQLite file, or
// the Windows registry): the same cases for both, so that the two cannot drift apart. Neither
// order of enumeration is promised by the registry, so lists are compared as sets.
class TestStoreBehaviour : public QObject
{
    Q_OBJECT

private:
    // Runs work in one access and reports whether it ran to its end without the message.
    bool access(store::Store &settings, const std::function<void(Access &)> &work)
    {
        return store::registryAccess(settings, m_prompts, work);
    }

    RecordingPrompts m_prompts;

private slots:
    void init() { m_prompts = RecordingPrompts(); }

    void valuesAreStoredAsTheRegistryHoldsThem()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            key->writeString("Language", "Polski");
            key->writeInteger("ScanEvery", -1);
            key->writeString("Empty", QByteArray());
        }));
        QCOMPARE(t.value(store::kSettingsKey, "Language")->data, QByteArray("Polski\0", 7));
        QCOMPARE(t.value(store::kSettingsKey, "Language")->type, int(store::RegSz));
        QCOMPARE(t.value(store::kSettingsKey, "ScanEvery")->data,
                 QByteArray("\xFF\xFF\xFF\xFF", 4));
        QCOMPARE(t.value(store::kSettingsKey, "ScanEvery")->type, int(store::RegDword));
        QCOMPARE(t.value(store::kSettingsKey, "Empty")->data, QByteArray(1, '\0'));
    }

    void trailingSeparatorNamesTheSameKey()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("*@spam", {});
            QCOMPARE(a.openOrCreate(store::withoutTrailingSeparator(store::kMailFilterKey))
                         ->valueNames(),
                     QList<QByteArray>{"*@spam"});
            QCOMPARE(
                a.openOrCreate("Software\\Zel Software\\Ostrove\\MAILFILTER\\\\")->valueNames(),
                QList<QByteArray>{"*@spam"});
        }));
    }

    // Letters beyond ASCII in the system's 8-bit encoding (UTF-8, or the Windows code page).
    void namesIgnoreCaseAlsoBeyondAscii()
    {
        const QByteArray first = QStringLiteral(u"Été").toLocal8Bit();
        const QByteArray second = QStringLiteral(u"éTÉ").toLocal8Bit();
        if (QString::fromLocal8Bit(first) != QStringLiteral(u"Été"))
            QSKIP("the system's 8-bit encoding has no accented Latin letters");
        StoreUnderTest t;
        QVERIFY(access(t.store(), [&](Access &a) {
            const auto key = a.openOrCreate(store::kSubjectFilterKey);
            key->writeString(first, "1");
            key->writeString(second, "2"); // the same name: replaces, keeps the first spelling
            QCOMPARE(key->valueNames(), QList<QByteArray>{first});
            QCOMPARE(key->readString(QStringLiteral(u"ÉTÉ").toLocal8Bit()), QByteArray("2"));
            a.openOrCreate(QByteArray(store::kAccountsKey) + first);
            QCOMPARE(a.openOrCreate(QByteArray(store::kAccountsKey) + second)->valueNames(),
                     QList<QByteArray>{});
            QCOMPARE(a.openOrCreate(store::kAccountsKey)->subkeyNames(), QList<QByteArray>{first});
        }));
    }

    // The registry replaces a value whole: a number written over a string is a number.
    void rewritingAValueTakesItsNewType()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            key->writeString("ScanEvery", "15");
            key->writeString("Language", "Polski");
            key->writeRaw("Raw", store::RegBinary, QByteArray("\x01\x02", 2));
        }));
        QVERIFY(access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            key->writeInteger("SCANEVERY", 15);
            QCOMPARE(key->readInteger("ScanEvery"), 15);
            key->writeRaw("Language", store::RegExpandSz, QByteArray("%HOME%\0", 7));
            key->writeString("Raw", "text");
        }));
        QCOMPARE(t.value(store::kSettingsKey, "ScanEvery")->type, int(store::RegDword));
        QCOMPARE(t.value(store::kSettingsKey, "ScanEvery")->data, QByteArray("\x0F\0\0\0", 4));
        QCOMPARE(t.value(store::kSettingsKey, "Language")->type, int(store::RegExpandSz));
        QCOMPARE(t.value(store::kSettingsKey, "Raw")->data, QByteArray("text\0", 5));
        QVERIFY(access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            QCOMPARE(key->readInteger("ScanEvery"), 15);
            QCOMPARE(key->readRaw("Raw")->type, int(store::RegSz));
        }));
    }

    // "15" fits a number's four bytes: only the type tells a string from a number.
    void readsFailOnTheWrongTypeOrAnAbsentInteger()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(store::kSettingsKey);
            key->writeString("ScanEvery", "15");
            key->writeInteger("Language", 1);
            key->writeRaw("Short", store::RegDword, QByteArray("\x01\x02", 2));
        }));
        const auto fails = [&](const std::function<void(store::RegistryKey &)> &read) {
            bool failed = false;
            access(t.store(), [&](Access &a) {
                try {
                    read(*a.openOrCreate(store::kSettingsKey));
                } catch (const store::StoreError &) {
                    failed = true;
                }
            });
            return failed;
        };
        QVERIFY(fails([](store::RegistryKey &k) { k.readInteger("ScanEvery"); }));
        QVERIFY(fails([](store::RegistryKey &k) { k.readString("Language"); }));
        QVERIFY(fails([](store::RegistryKey &k) { k.readInteger("Absent"); }));
        QVERIFY(fails([](store::RegistryKey &k) { k.readInteger("Short"); }));
        QVERIFY(
            !fails([](store::RegistryKey &k) { QCOMPARE(k.readString("Absent"), QByteArray()); }));
    }

    void deletingAKeyTakesEverythingBelow()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            const auto deep =
                a.openOrCreate("\\Software\\Zel Software\\Ostrove\\Attachments\\*.zip\\x\\y");
            deep->writeString("v", "w");
            a.openOrCreate("\\Software\\Zel Software\\Ostrove\\Attachments\\*.doc");
            a.openOrCreate(store::kAttachmentsKey)->deleteKey("*.ZIP");
            a.openOrCreate(store::kAttachmentsKey)->deleteKey("never there"); // no failure
            a.openOrCreate(store::kAttachmentsKey)->deleteKey({});            // names nothing
        }));
        QCOMPARE(t.subkeys(store::kAttachmentsKey), QList<QByteArray>{"*.doc"});
        QVERIFY(!t.keyExists("\\Software\\Zel Software\\Ostrove\\Attachments\\*.zip\\x\\y"));
    }

    void keyPathsAndNamesAtTheLimits()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [](Access &a) {
            QVERIFY(!a.openOrCreate("\\Software\\\\Zel")->isOpen()); // empty segment
            const QByteArray parent = "\\Software\\Zel Software\\";
            QVERIFY(a.openOrCreate(parent + QByteArray(255, 'k'))->isOpen());
            QVERIFY(!a.openOrCreate(parent + QByteArray(256, 'k'))->isOpen());
            const auto key = a.openOrCreate(store::kSubjectFilterKey);
            key->writeString(QByteArray(16383, 'n'), {});
            QCOMPARE(key->valueNames().first().size(), 16383);
        }));
        QVERIFY(m_prompts.shown.isEmpty());
        QVERIFY(!access(t.store(), [](Access &a) {
            a.openOrCreate(store::kSubjectFilterKey)->writeString(QByteArray(16384, 'n'), {});
        }));
        QCOMPARE(m_prompts.texts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(m_prompts.shown.first().caption, QStringLiteral("Error"));
        QCOMPARE(m_prompts.shown.first().icon, platform::Prompt::Icon::Exclamation);
        // A key that could not be opened: lists are empty, writes fail.
        QVERIFY(!access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate("\\Software\\\\Zel");
            QVERIFY(key->valueNames().isEmpty());
            QCOMPARE(key->readString("x"), QByteArray());
            QVERIFY(!key->valueExists("x"));
            key->writeString("x", "y");
        }));
    }

    // A page reloads inside its own change; the reload must see the change.
    void nestedAccessSeesTheOuterWrites()
    {
        StoreUnderTest t;
        QVERIFY(access(t.store(), [&](Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("x", {});
            QVERIFY(access(t.store(), [](Access &inner) {
                QCOMPARE(inner.openOrCreate(store::kMailFilterKey)->valueNames(),
                         QList<QByteArray>{"x"});
            }));
        }));
    }

    void aFailedStepKeepsWhatWasWrittenBefore()
    {
        StoreUnderTest t;
        QVERIFY(!access(t.store(), [](Access &a) {
            const auto key = a.openOrCreate(QByteArray(store::kAccountsKey) + "a@b");
            key->writeString("Pop3", "b");
            key->readInteger("SSL"); // absent: the access fails here
            key->writeString("Login", "never");
        }));
        QCOMPARE(m_prompts.shown.size(), 1);
        const QByteArray account = QByteArray(store::kAccountsKey) + "a@b";
        QCOMPARE(t.value(account, "Pop3")->data, QByteArray("b\0", 2));
        QVERIFY(!t.value(account, "Login"));
    }

    // A string's bytes include its terminating zero: the registry keeps strings as text of its
    // own and adds one where it is missing.
    void rawValuesKeepTypeBytesAndNames()
    {
        StoreUnderTest t;
        const QByteArray raw = "\\Software\\Zel Software\\Raw";
        const QByteArray qword("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
        {
            const auto access = t.store().beginAccess();
            const auto key = access->openOrCreate(raw);
            key->writeRaw("b", 11, qword);
            key->writeRaw("a", store::RegSz, QByteArray("text\0", 5));
            key->writeRaw("", store::RegBinary, QByteArray());
            key->writeRaw("B", store::RegDword, QByteArray("\x2a\0\0\0", 4)); // replaces "b"
            access->finish();
        }
        QCOMPARE(t.value(raw, "b")->type, int(store::RegDword));
        QCOMPARE(t.value(raw, "")->type, int(store::RegBinary));
        QCOMPARE(t.value(raw, "a")->data, QByteArray("text\0", 5));

        const auto access = t.store().beginAccess();
        const auto key = access->openExisting(raw.toUpper());
        QVERIFY(key->isOpen());
        QHash<QByteArray, store::RawValue> byName;
        for (const store::RawValue &value : key->rawValues())
            byName.insert(value.name, value);
        QCOMPARE(byName.size(), 3);
        QCOMPARE(byName["b"].type, int(store::RegDword)); // the name as first written
        QCOMPARE(byName["b"].data, QByteArray("\x2a\0\0\0", 4));
        QCOMPARE(byName["a"].data, QByteArray("text\0", 5));
        QCOMPARE(byName[""].type, int(store::RegBinary));
        QCOMPARE(byName[""].data, QByteArray());
        const auto one = key->readRaw("A");
        QVERIFY(one.has_value());
        QCOMPARE(one->name, QByteArray("a"));
        QCOMPARE(one->type, int(store::RegSz));
        QVERIFY(!key->readRaw("missing").has_value());
        // The typed reads still see a raw string as a string.
        QCOMPARE(key->readString("a"), QByteArray("text"));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, key->writeRaw(QByteArray(16384, 'n'), 3, "x"));
    }

    void openExistingCreatesNothing()
    {
        StoreUnderTest t;
        {
            const auto access = t.store().beginAccess();
            access->openOrCreate("\\Software\\Zel Software\\A\\B");
            QVERIFY(!access->openExisting("\\Software\\Zel Software\\A\\C")->isOpen());
            QVERIFY(!access->openExisting("\\Software\\Zel Software\\X\\Y")->isOpen());
            QVERIFY(access->openExisting("software\\zel software\\a\\b\\")->isOpen());
            const auto missing = access->openExisting("\\Software\\Zel Software\\A\\C");
            QVERIFY(missing->rawValues().isEmpty());
            QVERIFY(missing->subkeyNames().isEmpty());
            QVERIFY(!missing->readRaw("v").has_value());
            QVERIFY_THROWS_EXCEPTION(store::StoreError, missing->writeRaw("v", 1, "x"));
            QVERIFY_THROWS_EXCEPTION(store::StoreError, missing->deleteKey("v"));
            access->finish();
        }
        QVERIFY(t.keyExists("\\Software\\Zel Software\\A\\B"));
        QVERIFY(!t.keyExists("\\Software\\Zel Software\\A\\C"));
        QVERIFY(!t.keyExists("\\Software\\Zel Software\\X"));
    }

    // The import of a registry file and its dry run keep all or nothing.
    void abandonDropsEverythingTheAccessWrote()
    {
        StoreUnderTest t;
        const QByteArray kept = "\\Software\\Zel Software\\Kept";
        {
            const auto access = t.store().beginAccess();
            access->openOrCreate(kept)->writeString("v", "old");
            access->openOrCreate(kept + "\\Below")->writeInteger("n", 7);
            access->finish();
        }
        {
            const auto access = t.store().beginAccess();
            access->openOrCreate(kept)->writeString("v", "new");
            access->openOrCreate(kept)->writeString("added", "x");
            access->openOrCreate("\\Software\\Zel Software\\Dropped\\Deep")->writeInteger("n", 1);
            access->openOrCreate("\\Software\\Zel Software")->deleteKey("Kept");
            access->abandon();
            access->finish(); // does nothing now
        }
        QCOMPARE(t.value(kept, "v")->data, QByteArray("old\0", 4));
        QVERIFY(!t.value(kept, "added"));
        QCOMPARE(t.value(kept + "\\Below", "n")->data, QByteArray("\x07\0\0\0", 4));
        QVERIFY(!t.keyExists("\\Software\\Zel Software\\Dropped"));

        // The same store goes on working after the dropped writes.
        const auto access = t.store().beginAccess();
        QVERIFY(!access->openExisting("\\Software\\Zel Software\\Dropped\\Deep")->isOpen());
        access->openOrCreate("\\Software\\Zel Software\\Dropped")->writeString("w", "x");
        access->finish();
        QCOMPARE(t.value("\\Software\\Zel Software\\Dropped", "w")->data, QByteArray("x\0", 2));
    }

    void abandoningANestedAccessKeepsTheOuterWrites()
    {
        StoreUnderTest t;
        const QByteArray outerKey = "\\Software\\Zel Software\\Outer";
        const QByteArray innerKey = "\\Software\\Zel Software\\Inner";
        {
            const auto outer = t.store().beginAccess();
            outer->openOrCreate(outerKey)->writeString("v", "kept");
            {
                const auto inner = t.store().beginAccess();
                inner->openOrCreate(innerKey)->writeString("v", "dropped");
                inner->openOrCreate(outerKey)->writeString("v", "changed");
                inner->abandon();
            }
            QCOMPARE(outer->openExisting(outerKey)->readString("v"), QByteArray("kept"));
            QVERIFY(!outer->openExisting(innerKey)->isOpen());
            outer->finish();
        }
        QCOMPARE(t.value(outerKey, "v")->data, QByteArray("kept\0", 5));
        QVERIFY(!t.keyExists(innerKey));
    }

    // What a nested access kept is the outer access's to drop.
    void abandoningTheOuterAccessDropsWhatANestedOneKept()
    {
        StoreUnderTest t;
        const QByteArray key = "\\Software\\Zel Software\\Outer";
        {
            const auto outer = t.store().beginAccess();
            {
                const auto inner = t.store().beginAccess();
                inner->openOrCreate(key)->writeString("v", "inner");
                inner->finish();
            }
            outer->abandon();
        }
        QVERIFY(!t.keyExists(key));
    }
};

QTEST_GUILESS_MAIN(TestStoreBehaviour)
#include "tst_storebehaviour.moc"
