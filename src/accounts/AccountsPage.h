#pragma once

#include "windows/Page.h"

class QAction;
class QTreeWidget;

namespace platform {
struct System;
}
namespace store {
class Access;
}

// The mail accounts the monitor checks: one key per address under Accounts, listed from the
// store every time the page shows and after every change.
class AccountsPage : public Page
{
    Q_OBJECT

public:
    struct Actions
    {
        QAction *add;
        QAction *edit;
        QAction *remove;
    };

    AccountsPage(platform::System &system, const Actions &actions, QWidget *parent = nullptr);

    void pageShown() override { tsAccountsShow(); }

    void tsAccountsShow();
    void acAddAccountExecute();
    void acEditAccountExecute();
    void acRemoveAccountExecute();

    QTreeWidget *lvAccounts = nullptr;

private:
    platform::System &m_system;
};
