#pragma once

#include "mail/MailCheck.h"
#include "mail/Settings.h"
#include "mail/TlsTrust.h"

#include <QHash>
#include <QSet>

#include <atomic>
#include <memory>

namespace mail {

class MessageBudget;
class Pop3Session;
class RemovedCopies;
class RemovedRecord;
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
        RemovedRecord *removed = nullptr;
        RemovedCopies *copies = nullptr; // none: removals go without a copy
    };

    explicit AccountCheck(const Context &context);
    ~AccountCheck();
    AccountCheck(const AccountCheck &) = delete;
    AccountCheck &operator=(const AccountCheck &) = delete;

    // Greeting to QUIT, in steps: connect and log in, plan what to fetch, fetch and judge, hold
    // what a runaway rule condemned, prove that each condemned message is the one judged, keep
    // its copy, remove, record.
    AccountOutcome run(const AccountSettings &account);

private:
    // What the server holds, and which of it is to be judged.
    struct FetchPlan
    {
        QHash<int, QByteArray> ids; // message number -> unique id
        bool haveIds = false;       // the server has UIDL
        QSet<QByteArray> judgedBefore;
        // Removed by the last check, yet still listed: the server kept them.
        QSet<QByteArray> keptByServer;
        QList<std::pair<int, qint64>> toFetch; // message number, listed size
        QHash<int, qint64> listedSize;
    };
    // A message the rules matched, with what proves before its DELE that it is the one judged.
    struct Condemned
    {
        int number = 0;
        MatchedMessage match;
        QByteArray headerDigest;
        bool lengthFits = true; // a whole message's length fits its listed size
    };
    // What fetching and judging found.
    struct Judgement
    {
        QList<Condemned> condemned;
        QSet<QByteArray> cleared; // ids judged and kept, or kept as too large to judge
        QList<MatchedMessage> allowed;
    };

    bool connect(const AccountSettings &account);
    bool planFetch(FetchPlan *plan);
    bool fetchAndJudge(const FetchPlan &plan, Judgement *judgement);
    void applyBrake(Judgement *judgement);
    bool prove(const FetchPlan &plan, const Judgement &judgement);
    bool keepCopies(const FetchPlan &plan, Judgement *judgement);
    bool commitRemovals(const Judgement &judgement, QList<int> *refused);
    void discardCopies(const Judgement &judgement, const QList<int> *only = nullptr);
    void reportRemovals(const Judgement &judgement, const QList<int> &refused);
    void record(const FetchPlan &plan, const Judgement &judgement, const QList<int> &refused);
    AccountOutcome failed();

    void logOutcome(int newMessages);
    void logMatch(const QString &what, const MatchedMessage &match);
    void logUnreadable(int number, const QString &why);
    void rememberTooLarge(int number, const QHash<int, QByteArray> &ids);

    const Context &m_context;
    QString m_address;
    QByteArray m_identity;
    AccountOutcome m_outcome;
    std::unique_ptr<Pop3Session> m_session;
};

// The seen-state's name for an account: the same address on another server is another mailbox.
QByteArray accountIdentity(const AccountSettings &account);

} // namespace mail
