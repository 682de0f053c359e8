#include "WidgetTest.h"
#include "accounts/AccountsPage.h"
#include "accounts/Form_AddEditAccount.h"
#include "store/PasswordCipher.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/AlternatingRowDelegate.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>

namespace {

QByteArray accountKey(const QByteArray &address)
{
    return QByteArray(store::kAccountsKey) + address;
}

// The user fills the dialog and confirms it.
WidgetTestSystem::DialogStep enterAccount(const QString &email, const QString &pop3,
                                          const QString &login, const QString &password, bool ssl)
{
    return [=](QDialog &dialog) {
        auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
        if (!email.isNull()) {
            account.edEmail->setFocus();
            typeInto(account.edEmail, email);
            QTest::keyClick(account.edEmail, Qt::Key_Tab); // leaving the field fills the rest
        }
        if (!pop3.isNull()) {
            account.edPop3->clear();
            typeInto(account.edPop3, pop3);
        }
        if (!login.isNull()) {
            account.edLogin->clear();
            typeInto(account.edLogin, login);
        }
        if (!password.isNull()) {
            account.edPassword->clear();
            typeInto(account.edPassword, password);
        }
        account.cbxSSL->setChecked(ssl);
        account.btnOK->click();
    };
}

} // namespace

class TestAccountsPage : public WidgetTest
{
    Q_OBJECT

private:
    std::unique_ptr<QAction> m_add, m_edit, m_remove;
    AccountsPage *m_page = nullptr;

    void storeAccount(const QByteArray &address, const QByteArray &pop3, const QByteArray &login,
                      const QByteArray &password, std::optional<bool> ssl)
    {
        seed([&](store::Access &access) {
            const auto key = access.openOrCreate(accountKey(address));
            key->writeString(store::kPop3, pop3);
            key->writeString(store::kLogin, login);
            key->writeString(store::kPassword, store::EncryptPassword(password));
            if (ssl)
                key->writeBool(store::kSsl, *ssl);
        });
    }
    QStringList captions() const
    {
        QStringList result;
        for (int i = 0; i < m_page->lvAccounts->topLevelItemCount(); ++i)
            result.append(m_page->lvAccounts->topLevelItem(i)->text(0));
        return result;
    }
    void select(int row)
    {
        m_page->lvAccounts->setCurrentItem(m_page->lvAccounts->topLevelItem(row));
        QVERIFY(m_page->lvAccounts->topLevelItem(row)->isSelected());
    }

    void setUpTest() override
    {
        m_add = std::make_unique<QAction>(QStringLiteral("&Add"));
        m_add->setObjectName(QStringLiteral("acAddAccount"));
        m_edit = std::make_unique<QAction>(QStringLiteral("&Edit"));
        m_remove = std::make_unique<QAction>(QStringLiteral("&Remove"));
        m_page = new AccountsPage(t->system, {m_add.get(), m_edit.get(), m_remove.get()});
        m_page->show();
        m_page->tsAccountsShow();
    }
    void tearDownTest() override
    {
        delete m_page;
        m_page = nullptr;
    }

private slots:
    void addWritesTheFourValuesInOrder()
    {
        scriptDialogs({enterAccount("ann@example.com", {}, {}, "s3cret pw", true)});
        // The buttons trigger the actions; press the real one.
        m_page->findChild<QPushButton *>(QStringLiteral("btnAddAccount"))->click();
        QCOMPARE(t->dialogsShown, 1);

        const StoreReader reader(t->storePath);
        const QByteArray key = accountKey("ann@example.com");
        QCOMPARE(reader.valueNames(key), (QList<QByteArray>{"Pop3", "Login", "Password", "SSL"}));
        QCOMPARE(reader.string(key, "Pop3"), QByteArray("example.com"));
        QCOMPARE(reader.string(key, "Login"), QByteArray("ann"));
        QCOMPARE(reader.string(key, "Password"), store::EncryptPassword("s3cret pw"));
        QCOMPARE(reader.dword(key, "SSL"), 1);
        QCOMPARE(captions(), QStringList{"ann@example.com"});
        QCOMPARE(m_page->lvAccounts->topLevelItem(0)->text(1), QStringLiteral("ann"));
        QCOMPARE(m_page->lvAccounts->topLevelItem(0)->text(2), QStringLiteral("example.com"));
        QVERIFY(m_page->lvAccounts->selectedItems().isEmpty());
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void addRefusesOnlyAnEqualAddress()
    {
        storeAccount("ann@example.com", "p", "l", "x", false);
        m_page->tsAccountsShow();
        scriptDialogs({enterAccount("ANN@Example.COM", "other", "other", "y", true)});
        m_page->acAddAccountExecute();
        QCOMPARE(StoreReader(t->storePath).string(accountKey("ann@example.com"), "Pop3"),
                 QByteArray("p"));
        QCOMPARE(takePromptTexts(), QStringList());

        // A shorter address that a listed one begins with is another account.
        scriptDialogs({enterAccount("ann@example.co", "pop.example.co", "ann", "z", false)});
        m_page->acAddAccountExecute();
        QCOMPARE(captions(), (QStringList{"ann@example.co", "ann@example.com"}));
    }

    void addComparesNonAsciiAddressesWithoutCase()
    {
        storeAccount("żaneta@poczta.pl", "p", "l", "x", false);
        m_page->tsAccountsShow();
        scriptDialogs({enterAccount(QStringLiteral("ŻANETA@POCZTA.PL"), {}, {}, "y", true)});
        m_page->acAddAccountExecute();
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey),
                 QList<QByteArray>{"żaneta@poczta.pl"});
    }

    void addRefusesABackslash()
    {
        scriptDialogs({enterAccount("a\\b@example.com", {}, {}, "", false)});
        m_page->acAddAccountExecute();
        const QList<platform::Prompt> shown = takePrompts();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().caption, QStringLiteral("Mail Account"));
        QCOMPARE(shown.first().text, QStringLiteral("An e-mail address cannot contain a backslash "
                                                    "(\\). The account was not added."));
        QCOMPARE(shown.first().icon, platform::Prompt::Icon::Exclamation);
        QVERIFY(StoreReader(t->storePath).subkeys(store::kAccountsKey).isEmpty());
    }

    void cancelWritesNothing()
    {
        scriptDialogs({[](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            QTest::keyClicks(account.edEmail, QStringLiteral("x@y"));
            account.btnCancel->click();
        }});
        m_page->acAddAccountExecute();
        QVERIFY(StoreReader(t->storePath).subkeys(store::kAccountsKey).isEmpty());
    }

    void editShowsTheStoredAccountAndRewritesAllFour()
    {
        storeAccount("bob@example.org", "pop.example.org", "bob", "  blanks  ", true);
        m_page->tsAccountsShow();
        select(0);
        scriptDialogs({[](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            QVERIFY(!account.edEmail->isEnabled());
            QCOMPARE(account.edEmail->text(), QStringLiteral("bob@example.org"));
            QCOMPARE(account.edPop3->text(), QStringLiteral("pop.example.org"));
            QCOMPARE(account.edLogin->text(), QStringLiteral("bob"));
            QCOMPARE(account.edPassword->text(), QStringLiteral("  blanks  "));
            QVERIFY(account.cbxSSL->isChecked());
            QVERIFY(account.btnOK->isEnabled());
            account.edLogin->setText(QStringLiteral("robert"));
            account.btnOK->click();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(t->dialogsShown, 1);
        const StoreReader reader(t->storePath);
        QCOMPARE(reader.string(accountKey("bob@example.org"), "Login"), QByteArray("robert"));
        QCOMPARE(reader.string(accountKey("bob@example.org"), "Password"),
                 store::EncryptPassword("  blanks  "));
        QCOMPARE(captions(), QStringList{"bob@example.org"});
        QVERIFY(m_page->lvAccounts->selectedItems().isEmpty());
    }

    void editWithoutSslShowsTheMessageThenTheDialog()
    {
        storeAccount("c@d", "pop", "c", "pw", std::nullopt);
        m_page->tsAccountsShow();
        select(0);
        scriptDialogs({[this](QDialog &dialog) {
            QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            QCOMPARE(account.edPassword->text(), QStringLiteral("pw"));
            QVERIFY(!account.cbxSSL->isChecked());
            account.btnOK->click();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(t->dialogsShown, 1);
        QCOMPARE(StoreReader(t->storePath).dword(accountKey("c@d"), "SSL"), 0);
    }

    void editOfAnAccountDeletedMeanwhileRecreatesItsKey()
    {
        storeAccount("gone@x", "pop", "g", "pw", true);
        m_page->tsAccountsShow();
        select(0);
        StoreReader(t->storePath)
            .exec("PRAGMA foreign_keys = ON; DELETE FROM keys WHERE name = 'gone@x'");
        scriptDialogs({[](QDialog &dialog) {
            dynamic_cast<TfrmAddEditAccount &>(dialog).btnCancel->click();
        }});
        m_page->acEditAccountExecute();
        // SSL is missing now.
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QVERIFY(StoreReader(t->storePath).keyExists(accountKey("gone@x")));
    }

    void editAndRemoveNeedASelectedRow()
    {
        storeAccount("a@b", "p", "l", "x", false);
        m_page->tsAccountsShow();
        m_page->lvAccounts->setCurrentItem(m_page->lvAccounts->topLevelItem(0));
        m_page->lvAccounts->clearSelection(); // a current row is not a selection
        m_page->acEditAccountExecute();
        m_page->acRemoveAccountExecute();
        QCOMPARE(t->dialogsShown, 0);
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void removeAsksAndHonoursTheAnswer()
    {
        storeAccount("a@b", "p", "l", "x", false);
        storeAccount("c@d", "p", "l", "x", false);
        m_page->tsAccountsShow();
        select(1);
        answerPrompts({platform::Answer::No});
        m_page->acRemoveAccountExecute();
        const QList<platform::Prompt> shown = takePrompts();
        QCOMPARE(shown.size(), 1);
        const platform::Prompt &asked = shown.first();
        QCOMPARE(asked.caption, QStringLiteral("Remove"));
        QCOMPARE(asked.text, QStringLiteral("Remove selected account?"));
        QCOMPARE(asked.icon, platform::Prompt::Icon::Question);
        QCOMPARE(asked.buttons, platform::Prompt::Buttons::YesNo);
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey).size(), 2);

        answerPrompts({platform::Answer::Yes});
        m_page->acRemoveAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Remove selected account?"});
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey), QList<QByteArray>{"a@b"});
        QCOMPARE(captions(), QStringList{"a@b"});
    }

    void loadStopsAtAValueOfTheWrongType()
    {
        storeAccount("a@b", "p1", "l1", "x", false);
        storeAccount("b@c", "p2", "l2", "x", false);
        storeAccount("c@d", "p3", "l3", "x", false);
        StoreReader(t->storePath)
            .exec("UPDATE vals SET type = 4, data = x'01000000' WHERE name = 'Pop3' AND key = "
                  "(SELECT id FROM keys WHERE name = 'b@c')");
        m_page->tsAccountsShow();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(captions(), (QStringList{"a@b", "b@c"}));
        QCOMPARE(m_page->lvAccounts->topLevelItem(1)->text(1), QStringLiteral("l2"));
        QCOMPARE(m_page->lvAccounts->topLevelItem(1)->text(2), QString());
    }

    void aFailedCommitListsWhatIsStored()
    {
        storeAccount("a@b", "p", "l", "x", false);
        store::SqliteStore quick(t->storePath, {200, {}, false});
        platform::System system{quick,       t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        AccountsPage page(system, {m_add.get(), m_edit.get(), m_remove.get()});
        page.tsAccountsShow();
        scriptDialogs({enterAccount("new@x", {}, {}, "pw", false)});
        {
            const ReaderInTheWay reader(t->storePath);
            page.acAddAccountExecute();
        }
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey), QList<QByteArray>{"a@b"});
        QCOMPARE(page.lvAccounts->topLevelItemCount(), 1);
        QCOMPARE(page.lvAccounts->topLevelItem(0)->text(0), QStringLiteral("a@b"));
    }

    void aFailedLoadShowsItsRowsBeforeTheMessage()
    {
        storeAccount("a@b", "p1", "l1", "x", false);
        storeAccount("b@c", "p2", "l2", "x", false);
        StoreReader(t->storePath)
            .exec("UPDATE vals SET type = 4, data = x'01000000' WHERE name = 'Pop3' AND key = "
                  "(SELECT id FROM keys WHERE name = 'b@c')");
        QStringList listedAtTheMessage;
        t->prompts.onShow = [&](const platform::Prompt &) {
            listedAtTheMessage = captions();
        };
        m_page->tsAccountsShow();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(listedAtTheMessage, (QStringList{"a@b", "b@c"}));
    }

    void aFailedReloadInsideAChangeSpeaksOnlyOnceTheFileIsFree()
    {
        storeAccount("b@c", "p2", "l2", "x", false);
        StoreReader(t->storePath)
            .exec("UPDATE vals SET type = 4, data = x'01000000' WHERE name = 'Pop3' AND key = "
                  "(SELECT id FROM keys WHERE name = 'b@c')");
        m_page->tsAccountsShow();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QList<bool> freeAtTheMessage;
        t->prompts.onShow = [&](const platform::Prompt &) {
            freeAtTheMessage.append(StoreReader(t->storePath).unlocked());
        };
        scriptDialogs({enterAccount("new@x", {}, {}, "pw", false)});
        m_page->acAddAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(freeAtTheMessage, QList<bool>{true});
        QCOMPARE(StoreReader(t->storePath).string(accountKey("new@x"), "Login"), QByteArray("new"));
    }

    void theCipherSpeaksOnlyOnceTheFileIsFree()
    {
        storeAccount("a@b", "p", "l", "x", true);
        // 256 hex digits: more than the cipher takes.
        StoreReader(t->storePath)
            .exec("UPDATE vals SET data = CAST(replace(hex(zeroblob(128)), '0', 'A') AS BLOB) "
                  "|| x'00' WHERE name = 'Password'");
        m_page->tsAccountsShow();
        select(0);
        QList<bool> freeAtTheMessage;
        t->prompts.onShow = [&](const platform::Prompt &) {
            freeAtTheMessage.append(StoreReader(t->storePath).unlocked());
        };
        scriptDialogs({[this](QDialog &dialog) {
            QCOMPARE(takePromptTexts(),
                     QStringList{"HexInput String Length Must Less 255 Character."});
            QCOMPARE(dynamic_cast<TfrmAddEditAccount &>(dialog).edPassword->text(), QString());
            dialog.reject();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(t->dialogsShown, 1);
        QCOMPARE(freeAtTheMessage, QList<bool>{true});
    }

    void editKeepsWhatWasNotChangedAsTheStoredBytes()
    {
        const QByteArray pop3("pop.caf\xE9", 8);
        const QByteArray login("\xFF\xFEuser", 6);
        const QByteArray password("pa\xE9ss", 5);
        storeAccount("a@b", pop3, login, password, true);
        m_page->tsAccountsShow();
        select(0);
        scriptDialogs({[](QDialog &dialog) {
            dynamic_cast<TfrmAddEditAccount &>(dialog).btnOK->click();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList());
        const StoreReader reader(t->storePath);
        QCOMPARE(reader.string(accountKey("a@b"), "Pop3"), pop3);
        QCOMPARE(reader.string(accountKey("a@b"), "Login"), login);
        QCOMPARE(reader.string(accountKey("a@b"), "Password"), store::EncryptPassword(password));

        // A field the user changed is written as typed; the others keep their bytes.
        select(0);
        scriptDialogs({[](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            account.edLogin->setText(QStringLiteral("ann"));
            account.btnOK->click();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(reader.string(accountKey("a@b"), "Login"), QByteArray("ann"));
        QCOMPARE(reader.string(accountKey("a@b"), "Pop3"), pop3);
        QCOMPARE(reader.string(accountKey("a@b"), "Password"), store::EncryptPassword(password));
    }

    void aPasswordAtTheLimitComesBackUnchanged_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const QString cyrillic(63, QChar(0x0416));
        QTest::newRow("two-byte letters") << cyrillic << cyrillic.left(50);
        const QString euro = QString(40, QChar(0x20AC)) + QStringLiteral("ab");
        QTest::newRow("three-byte signs") << euro << euro.left(33) + QStringLiteral("a");
        QTest::newRow("ascii") << QString(105, QLatin1Char('p')) << QString(100, QLatin1Char('p'));
    }
    void aPasswordAtTheLimitComesBackUnchanged()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        scriptDialogs({enterAccount("a@b", {}, {}, typed, false)});
        m_page->acAddAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList());
        select(0);
        QString shown;
        scriptDialogs({[&shown](QDialog &dialog) {
            shown = dynamic_cast<TfrmAddEditAccount &>(dialog).edPassword->text();
            dialog.reject();
        }});
        m_page->acEditAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList());
        QCOMPARE(shown, kept);
    }

    void rowsAlternateGreyAndWhite()
    {
        QCOMPARE(AlternatingRowDelegate::rowColour(0), QColor(238, 238, 238));
        QCOMPARE(AlternatingRowDelegate::rowColour(1), QColor(Qt::white));
        QCOMPARE(AlternatingRowDelegate::rowColour(2), QColor(238, 238, 238));
        QVERIFY(qobject_cast<AlternatingRowDelegate *>(m_page->lvAccounts->itemDelegate()));
    }

    // The header measures its captions in their own font, not in bold as Qt's does: the page
    // must look as with Qt's header, the captions left-aligned, the sections as designed.
    void theHeaderLooksAsQtsOwn()
    {
        QHeaderView *header = m_page->lvAccounts->header();
        QTreeWidget plain;
        plain.setHeaderLabels(
            {QStringLiteral("email"), QStringLiteral("User Name"), QStringLiteral("pop3 server")});
        QCOMPARE(header->sizeHint().height(), plain.header()->sizeHint().height());
        QCOMPARE(header->defaultAlignment(), plain.header()->defaultAlignment());
        QCOMPARE(header->sectionSize(0), 85);
        // Sections are measured in the font their captions are drawn in, not in bold.
        QFont bold = header->font();
        bold.setBold(true);
        const QString caption = QStringLiteral("User Name");
        const int regular = header->fontMetrics().size(0, caption).width();
        QVERIFY(QFontMetrics(bold).size(0, caption).width() > regular);
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        QCOMPARE(header->sectionSizeHint(1), regular + 2 * margin);
    }

    void aReadOnlyStoreListsAndRefusesChanges()
    {
        storeAccount("a@b", "p", "l", "x", false);
        store::SqliteStore readOnly(t->storePath, {5000, {}, true});
        platform::System system{readOnly,    t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        AccountsPage page(system, {m_add.get(), m_edit.get(), m_remove.get()});
        page.tsAccountsShow();
        QCOMPARE(page.lvAccounts->topLevelItemCount(), 1);
        QCOMPARE(takePromptTexts(), QStringList());
        scriptDialogs({enterAccount("new@x", {}, {}, "p", false)});
        page.acAddAccountExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        page.lvAccounts->setCurrentItem(page.lvAccounts->topLevelItem(0));
        answerPrompts({platform::Answer::Yes});
        page.acRemoveAccountExecute();
        QCOMPARE(takePromptTexts(),
                 (QStringList{"Remove selected account?", "Error reading/writing to registry"}));
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAccountsKey), QList<QByteArray>{"a@b"});
    }
};

QTEST_MAIN(TestAccountsPage)
#include "tst_accountspage.moc"
