#pragma once

#include "mail/MailCheck.h"
#include "mail/Settings.h"
#include "mail/TlsTrust.h"

#include <atomic>

namespace mail {

class MessageBudget;
class MonitorLog;
class Rules;
class SeenState;

// One account's part of a check: a session with its server from greeting to QUIT, run in a
// thread of its own. Messages are removed only when the server confirmed QUIT, and only then
// is anything recorded as judged.
class AccountCheck
{
public:
    struct Context
    {
        const Rules &rules;
        SeenState &seen;
        MonitorLog &log;
        TlsTrust &trust;
        bool dryRun = false;
        int connectTimeoutMs = 20000;
        int replyTimeoutMs = 60000;
        int sessionTimeoutMs = 10 * 60 * 1000;
        const std::atomic<bool> *cancel = nullptr;
        MessageBudget *budget = nullptr; // shared by the accounts checked at once
    };

    explicit AccountCheck(const Context &context)
        : m_context(context)
    {}

    AccountOutcome run(const AccountSettings &account);

private:
    void logOutcome(const AccountOutcome &outcome, int newMessages);
    void logMatch(const QString &what, const MatchedMessage &match);
    void rememberTooLarge(const QByteArray &identity, int number,
                          const QHash<int, QByteArray> &ids);

    const Context &m_context;
    QString m_address;
};

// The seen-state's name for an account: the same address on another server is another mailbox.
QByteArray accountIdentity(const AccountSettings &account);

} // namespace mail
