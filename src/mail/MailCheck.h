#pragma once

#include "contract/MonitorContract.h"
#include "mail/Rules.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>

namespace store {
class Store;
}

namespace mail {

class AccountSessions;
class MonitorLog;
class RemovedRecord;
class SeenState;

// A message the rules matched: removed, or only named in a dry run.
struct MatchedMessage
{
    QString sender;
    QString subject;
    qint64 size = 0;
    RuleMatch rule;
    QString copy;            // the id of its kept copy, empty when none was kept
    bool headerOnly = false; // too large to keep whole: only its header was kept
};

struct AccountOutcome
{
    QString address;
    QByteArray identity;       // accountIdentity(): what the monitor's state knows the account by
    bool checked = false;      // the session ran to its end
    bool stillRunning = false; // its session outlasted the check's patience and goes on
    QString failure;           // why not, as the log says it
    int messages = 0;
    int judged = 0;
    int unreadable = 0;            // messages the server would not send, or sent empty
    int deferred = 0;              // left to the next check: no room to judge them in this one
    int notKept = 0;               // matched, but left on the server: no copy could be kept
    QList<MatchedMessage> matched; // removed, or would be in a dry run
    // Matched by a rule that would remove more than half of the mailbox: kept until the
    // person releases that rule.
    QList<MatchedMessage> held;
    // Matched, but kept: the sender is allowed (the rule is the AllowFilter pattern).
    QList<MatchedMessage> allowed;
};

struct CheckReport
{
    bool dryRun = false;
    QString settingsProblem; // the settings could not be read: nothing was checked
    QString logProblem;      // lines of this check could not be written to the log
    QList<AccountOutcome> accounts;
    int judged = 0;
    int removed = 0; // or, in a dry run, would be removed
    qint64 milliseconds = 0;
    // As the settings read for this check said: the program needs no second read for them.
    int scanEveryMinutes = contract::kDefaultScanEvery;
    bool autorun = false;

    bool allChecked() const;
    // Every account checked, and every line of it in the log.
    bool succeeded() const { return allChecked() && logProblem.isEmpty(); }
    // One line for a tray tooltip or the service's status.
    QString summary() const;
};

// One check of every account: reads the settings, talks to each server (several at once),
// removes what the rules match (unless a dry run), records what was judged and logs it all.
class MailCheck
{
public:
    struct Options
    {
        bool dryRun = false;
        int connectTimeoutMs = 20000;
        int replyTimeoutMs = 60000;
        int sessionTimeoutMs = 10 * 60 * 1000;
        int accountsAtOnce = 4;
        // Whole messages held at once by all accounts, and how long an account waits for room
        // before it leaves its remaining messages to the next check.
        qint64 wholeMessageBytes = 64 * 1024 * 1024;
        int wholeMessageWaitMs = 60000;
        const std::atomic<bool> *cancel = nullptr;
        // A program that checks again and again keeps its sessions here, and waits this long
        // for a slow account before it reports the check (-1: until every account is done);
        // that account is skipped until its session ends. Without it, every check waits.
        AccountSessions *sessions = nullptr;
        int patienceMs = -1;
        // Told, from the accounts' own threads, when an account's session begins (no outcome)
        // and ends (its outcome), also when that is after the check was reported.
        std::function<void(const QString &address, const AccountOutcome *ended)> accountProgress;
        // Where each account's session records what it removed, once the server confirmed.
        RemovedRecord *removedRecord = nullptr;
        // Where the copies of removed messages are kept (empty: none are; a dry run keeps none).
        QString removedCopiesFolder;
    };
    // How long a program that checks every `interval` waits for a slow account: half the
    // interval, and no more than five minutes.
    static int patienceFor(std::chrono::milliseconds interval);

    MailCheck(store::Store &store, SeenState &seen, MonitorLog &log, Options options);

    CheckReport run();

private:
    store::Store &m_store;
    SeenState &m_seen;
    MonitorLog &m_log;
    Options m_options;
};

// "1 message", "2 messages": counts as the log, tooltip and windows show them.
QString countOf(qsizetype count, const char *one, const char *many);

// The monitor's files live beside the settings store: its folder cannot be the program's.
QString monitorFolder(const QString &storePath);
QString seenStatePathFor(const QString &storePath);
// A warning for the log when others than the owner may read the store (it holds passwords).
QString storePermissionWarning(const QString &storePath);

} // namespace mail
