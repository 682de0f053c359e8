#include "accounts/AccountsPage.h"

#include "accounts/Form_AddEditAccount.h"
#include "platform/System.h"
#include "platform/UserPrompts.h"
#include "store/PasswordCipher.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/ActionButton.h"
#include "windows/ListHelpers.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// What editing read from the store, so that a value the user left alone goes back byte for
// byte even where the local encoding cannot show it.
struct ReadValues
{
    QByteArray pop3;
    QByteArray login;
    QByteArray password; // deciphered
};

QByteArray keptOrTyped(const QLineEdit *field, const QByteArray &read)
{
    return field->text() == fromStored(read) ? read : toStored(field->text());
}

// Writes the four values of an account from the dialog, in the order the monitor expects.
void writeAccount(store::RegistryKey &key, const TfrmAddEditAccount &dialog, const ReadValues &read,
                  platform::UserPrompts &prompts)
{
    key.writeString(store::kPop3, keptOrTyped(dialog.edPop3, read.pop3));
    key.writeString(store::kLogin, keptOrTyped(dialog.edLogin, read.login));
    key.writeString(store::kPassword, store::EncryptPassword(
                                          keptOrTyped(dialog.edPassword, read.password), &prompts));
    key.writeBool(store::kSsl, dialog.cbxSSL->isChecked());
}

} // namespace

AccountsPage::AccountsPage(platform::System &system, const PageActions &actions, QWidget *parent)
    : Page(QStringLiteral("tsAccounts"), QStringLiteral(" List of email acounts you want to check"),
           parent)
    , lvAccounts(new QTreeWidget(body()))
    , m_system(system)
{
    lvAccounts->setObjectName(QStringLiteral("lvAccounts"));
    setUpReportList(
        lvAccounts,
        {QStringLiteral("email"), QStringLiteral("User Name"), QStringLiteral("pop3 server")},
        {85, 65, 110});
    bodyLayout()->addWidget(lvAccounts, 1);
    addButtonRow({makeActionButton(actions.add), makeActionButton(actions.edit),
                  makeActionButton(actions.remove)});
    connect(actions.add, &QAction::triggered, this, &AccountsPage::acAddAccountExecute);
    connect(actions.edit, &QAction::triggered, this, &AccountsPage::acEditAccountExecute);
    connect(actions.remove, &QAction::triggered, this, &AccountsPage::acRemoveAccountExecute);
    connect(lvAccounts, &QTreeWidget::itemDoubleClicked, this, &AccountsPage::acEditAccountExecute);
}

void AccountsPage::tsAccountsShow()
{
    lvAccounts->clear();
    QList<QTreeWidgetItem *> rows;
    const store::MessageHold hold(m_system.store, m_system.prompts);
    store::registryAccess(m_system.store, m_system.prompts, [&rows](store::Access &access) {
        const auto accounts = access.openOrCreate(store::kAccountsKey);
        for (const QByteArray &name : accounts->subkeyNames()) {
            const auto account = access.openOrCreate(store::accountPath(name));
            auto *row = new QTreeWidgetItem({fromStored(name)});
            row->setData(0, kStoredNameRole, name);
            rows.append(row);
            row->setText(1, fromStored(account->readString(store::kLogin)));
            row->setText(2, fromStored(account->readString(store::kPop3)));
        }
    });
    // Rows read before a failure stay listed, and show before the message; adding them in one go
    // keeps large lists fast.
    lvAccounts->addTopLevelItems(rows);
}

void AccountsPage::acAddAccountExecute()
{
    TfrmAddEditAccount dialog;
    if (m_system.runModal(dialog) != QDialog::Accepted)
        return;

    const QByteArray address = toStored(dialog.edEmail->text());
    if (refusedForBackslash(m_system.prompts, address, QStringLiteral("Mail Account"),
                            QStringLiteral("An e-mail address cannot contain a backslash (\\). "
                                           "The account was not added."))
        || listsName(lvAccounts, address))
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &held) {
        writeAccount(*access.openOrCreate(store::accountPath(address)), dialog, {}, held);
    });
}

void AccountsPage::acEditAccountExecute()
{
    const QTreeWidgetItem *row = selectedRow(lvAccounts);
    if (!row)
        return;
    const QByteArray address = row->data(0, kStoredNameRole).toByteArray();

    TfrmAddEditAccount dialog;
    dialog.edEmail->setEnabled(false);
    ReadValues read;
    {
        store::MessageHold hold(m_system.store, m_system.prompts);
        store::registryAccess(m_system.store, m_system.prompts, [&](store::Access &access) {
            const auto account = access.openOrCreate(store::accountPath(address));
            dialog.edEmail->setText(fromStored(address));
            read.pop3 = account->readString(store::kPop3);
            dialog.edPop3->setText(fromStored(read.pop3));
            read.login = account->readString(store::kLogin);
            dialog.edLogin->setText(fromStored(read.login));
            read.password = store::DecryptPassword(account->readString(store::kPassword), &hold);
            dialog.edPassword->setText(fromStored(read.password));
            dialog.cbxSSL->setChecked(account->readBool(store::kSsl));
        });
    }

    if (m_system.runModal(dialog) != QDialog::Accepted)
        return;
    changeThenReload(m_system, [&](store::Access &access, platform::UserPrompts &held) {
        writeAccount(*access.openOrCreate(store::accountPath(address)), dialog, read, held);
    });
}

void AccountsPage::acRemoveAccountExecute()
{
    const QTreeWidgetItem *row = selectedRow(lvAccounts);
    if (!row)
        return;
    const QByteArray address = row->data(0, kStoredNameRole).toByteArray();

    if (!confirmRemoval(m_system.prompts, QStringLiteral("Remove selected account?")))
        return;
    changeThenReload(m_system, [&address](store::Access &access, platform::UserPrompts &) {
        access.openOrCreate(store::kAccountsKey)->deleteKey(address);
    });
}
