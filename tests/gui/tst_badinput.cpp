#include "WidgetTest.h"
#include "accounts/AccountsPage.h"
#include "accounts/Form_AddEditAccount.h"
#include "app/Form_Ostrove.h"
#include "configuration/ConfigurationPage.h"
#include "filters/AttachmentFilterPage.h"
#include "filters/Form_AddEditAttachment.h"
#include "filters/PatternFilterPage.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/CloseUpComboBox.h"
#include "windows/WholeNumberField.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <sqlite3.h>

// Every kind of bad input the program meets, from the user, from files and from other programs,
// driven through the real window: each gets correct handling or the one clear message, never a
// crash, and the stored data stays whole.
class TestBadInput : public WidgetTest
{
    Q_OBJECT

private:
    static QByteArray hashOf(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private slots:
    // A store file that is not a store: the window opens, every access says so once, and the
    // file is left exactly as it was.
    void windowOpensOnAForeignStoreFile_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("text") << QByteArray("text");
        QTest::newRow("other schema") << QByteArray("CREATE TABLE t(x);");
        QTest::newRow("newer version")
            << QByteArray("PRAGMA user_version = 7; CREATE TABLE keys(id);");
        QTest::newRow("garbage") << QByteArray("garbage");
    }
    void windowOpensOnAForeignStoreFile()
    {
        QFETCH(QByteArray, setup);
        if (setup == "text")
            writeFile(t->storePath, "[Settings]\nScanEvery=15\n");
        else if (setup == "garbage")
            writeFile(t->storePath, QByteArray("SQLite format 3\0", 16) + QByteArray(5000, '\x5A'));
        else
            StoreReader(t->storePath).exec(setup);
        const QByteArray before = hashOf(t->storePath);
        {
            TfrmOstrove window(t->system);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(takePromptTexts(), (QStringList{"Error reading/writing to registry",
                                                     "Error reading/writing to registry"}));
            window.tsConfiguration()->cbxAutorun->click();
            QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        }
        QCOMPARE(hashOf(t->storePath), before);
    }

    void windowOpensWhenTheStoreFolderCannotBeMade()
    {
        writeFile(t->folder.filePath(QStringLiteral("plain-file")), "x");
        store::SqliteStore nowhere(
            t->folder.filePath(QStringLiteral("plain-file/sub/registry.db")));
        platform::System system{nowhere,     t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        TfrmOstrove window(system);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(takePromptTexts(), QStringList()); // nothing to read is no error
        scriptDialogs({[](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            account.edEmail->setText(QStringLiteral("a@b"));
            account.btnOK->click();
        }});
        window.acAddAccount->trigger();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
    }

    void awkwardAddressesAreStoredAsTyped_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("non-ASCII") << QStringLiteral("Łukasz.Żółć@przykład.pl");
        QTest::newRow("100 characters")
            << QString(88, QLatin1Char('x')) + QStringLiteral("@example.com");
        QTest::newRow("blanks only") << QStringLiteral("   ");
        QTest::newRow("several @") << QStringLiteral("a@b@c@d");
        QTest::newRow("wildcards") << QStringLiteral("*?@[]");
    }
    void awkwardAddressesAreStoredAsTyped()
    {
        QFETCH(QString, address);
        QAction add, edit, remove;
        AccountsPage page(t->system, {&add, &edit, &remove});
        scriptDialogs({[&address](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            account.edEmail->setText(address);
            account.edEmailExit();
            account.btnOK->click();
        }});
        page.acAddAccountExecute();
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey),
                 QList<QByteArray>{address.toUtf8()});
        QCOMPARE(page.lvAccounts->topLevelItem(0)->text(0), address);
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void awkwardPatternsAreStoredAsTyped_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::newRow("100 characters") << QString(100, QLatin1Char('p'));
        QTest::newRow("blanks only") << QStringLiteral("  ");
        QTest::newRow("blanks around") << QStringLiteral(" spam ");
        QTest::newRow("upper non-ASCII") << QStringLiteral("ŻÓŁTY");
        QTest::newRow("star") << QStringLiteral("*");
        QTest::newRow("question mark") << QStringLiteral("?");
        QTest::newRow("backslash") << QStringLiteral("a\\b"); // a value name may hold it
    }
    void awkwardPatternsAreStoredAsTyped()
    {
        QFETCH(QString, pattern);
        QAction add, remove;
        PatternFilterPage page(t->system, PatternFilterPage::contentFilter(), &add, &remove);
        scriptDialogs({[&pattern](QDialog &dialog) {
            auto &entry = dynamic_cast<FilterEntryDialog &>(dialog);
            entry.field()->setText(pattern);
            entry.btnOK->click();
        }});
        page.addExecute();
        QCOMPARE(StoreReader(t->storePath).valueNames(store::kContentFilterKey),
                 QList<QByteArray>{pattern.toUtf8()});
        QCOMPARE(page.list()->item(0)->text(), pattern);
    }

    void sizeFieldsReadWhatTheyCanAndZeroOtherwise_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint32>("stored");
        QTest::newRow("minus") << "-" << 0;
        QTest::newRow("plus") << "+" << 0;
        QTest::newRow("double minus") << "--1" << 0;
        QTest::newRow("too large") << "2147483648" << 0;
        QTest::newRow("too small") << "-2147483649" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("negative") << "-12" << -12;
        QTest::newRow("blanks around, which the field refuses") << " 12 " << 12;
    }
    void sizeFieldsReadWhatTheyCanAndZeroOtherwise()
    {
        QFETCH(QString, typed);
        QFETCH(qint32, stored);
        QAction add, edit, remove;
        AttachmentFilterPage page(t->system, {&add, &edit, &remove});
        scriptDialogs({[&typed](QDialog &dialog) {
            auto &entry = dynamic_cast<TfrmAddEditAttachment &>(dialog);
            entry.edFileName->setText(QStringLiteral("*.zip"));
            entry.cbxSize->click();
            entry.seSizeFrom->setText(QString());
            entry.seSizeFrom->setFocus();
            QTest::keyClicks(entry.seSizeFrom, typed);
            entry.btnOK->click();
        }});
        page.acAddAttachmentExecute();
        QCOMPARE(StoreReader(t->storePath)
                     .dword(QByteArray(store::kAttachmentsKey) + "*.zip", "SizeFrom"),
                 stored);
    }

    // Typing cannot put a blank into a size, but an assistive tool replacing the field's text
    // through its accessible interface can. Blanks around the digits then make the size
    // unreadable, like any other stray character, rather than being trimmed into a number.
    void blanksAroundTheDigitsOfASizeAreNotANumber()
    {
        QAction add, edit, remove;
        AttachmentFilterPage page(t->system, {&add, &edit, &remove});
        scriptDialogs({[](QDialog &dialog) {
            auto &entry = dynamic_cast<TfrmAddEditAttachment &>(dialog);
            entry.edFileName->setText(QStringLiteral("*.zip"));
            entry.cbxSize->click();
            const auto replaceText = [](WholeNumberField *field, const QString &text) {
                QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
                QVERIFY(accessible && accessible->editableTextInterface());
                accessible->editableTextInterface()->replaceText(0, int(field->text().size()),
                                                                 text);
            };
            replaceText(entry.seSizeFrom, QStringLiteral(" 12 "));
            replaceText(entry.seSizeTo, QStringLiteral("\t34"));
            QCOMPARE(entry.seSizeFrom->text(), QStringLiteral(" 12 "));
            QCOMPARE(entry.seSizeTo->text(), QStringLiteral("\t34"));
            QCOMPARE(entry.seSizeFrom->value(), 0);
            QCOMPARE(entry.seSizeTo->value(), 0);
            entry.btnOK->click();
        }});
        page.acAddAttachmentExecute();
        const QByteArray key = QByteArray(store::kAttachmentsKey) + "*.zip";
        QCOMPARE(StoreReader(t->storePath).dword(key, "SizeFrom"), 0);
        QCOMPARE(StoreReader(t->storePath).dword(key, "SizeTo"), 0);
        QCOMPARE(page.lvFiles->topLevelItem(0)->text(1), QStringLiteral("0 kB"));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void valuesOtherProgramsStoredOddlyAreHandled()
    {
        seed([](store::Access &a) {
            a.openOrCreate(store::kMailFilterKey)->writeString("with data", "unexpected");
            a.openOrCreate(store::kMailFilterKey)->writeInteger("a number", 5);
            a.openOrCreate(QByteArray(store::kAccountsKey) + "nologin@x")
                ->writeInteger(store::kLogin, 1);
            a.openOrCreate(QByteArray(store::kAccountsKey) + "ok@x")
                ->writeString(store::kLogin, "ok");
        });
        TfrmOstrove window(t->system);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The account whose login is a number: listed, then the message, the rest not read.
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(window.tsAccounts->lvAccounts->topLevelItemCount(), 1);
        window.PageControl1->setCurrentWidget(window.tsIgnoreMail());
        QCOMPARE(window.tsIgnoreMail()->list()->count(), 2);
        window.tsIgnoreMail()->list()->setCurrentRow(1);
        answerPrompts({platform::Answer::Yes});
        window.acRemoveMail->trigger();
        QCOMPARE(takePromptTexts(), QStringList{"Remove selected eMail?"});
        QCOMPARE(StoreReader(t->storePath).valueNames(store::kMailFilterKey),
                 QList<QByteArray>{"with data"});
    }

    void oddLanguageFilesStillOpenTheWindow_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("addCaption");
        QTest::newRow("BOM and CRLF")
            << QByteArray("\xEF\xBB\xBF[Polski]\r\nAdd=&Dodaj\r\n") << "&Dodaj";
        QTest::newRow("comments, blanks, no =")
            << QByteArray("; c\n\n[Polski]\nnonsense\n  Add = Dodaj  \n") << "Dodaj";
        QTest::newRow("keys before sections") << QByteArray("Add=No\n[Polski]\n") << "Add";
        QTest::newRow("duplicate sections")
            << QByteArray("[Polski]\n[polski]\nAdd=Late\n") << "Add";
        QTest::newRow("duplicate keys")
            << QByteArray("[Polski]\nAdd=First\nAdd=Second\n") << "First";
        QTest::newRow("blanks around the name") << QByteArray("[  Polski  ]\nAdd=Tak\n") << "Tak";
        QTest::newRow("garbage") << QByteArray("\x00\xFF[\x01\x02]=\xFE", 8) << "Add";
    }
    void oddLanguageFilesStillOpenTheWindow()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, addCaption);
        writeFile(t->folder.filePath(QStringLiteral("Ostrove.lng")), contents);
        seed([](store::Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, "Polski");
        });
        TfrmOstrove window(t->system);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.acAddAccount->text(), addCaption);
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void aLanguageFileThatIsAFolderCountsAsNone()
    {
        QVERIFY(QDir(t->folder.path()).mkdir(QStringLiteral("Ostrove.lng")));
        TfrmOstrove window(t->system);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.tsConfiguration()->cbLang->count(), 0);
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
