#pragma once

#include "windows/Page.h"

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
    // The page's buttons show the actions, and the actions run the page's handlers.
    AccountsPage(platform::System &system, const PageActions &actions, QWidget *parent = nullptr);

    void pageShown() override { tsAccountsShow(); }

    void tsAccountsShow();
    void acAddAccountExecute();
    void acEditAccountExecute();
    void acRemoveAccountExecute();

    QTreeWidget *lvAccounts = nullptr;

private:
    platform::System &m_system;
};
