#include "mail/AccountCheck.h"

#include "mail/JudgeQueue.h"
#include "mail/MessageBudget.h"
#include "mail/MessageFacts.h"
#include "mail/MonitorLog.h"
#include "mail/Pop3Session.h"
#include "mail/Rules.h"
#include "mail/SeenState.h"
#include "mail/ServerAddress.h"

#include <QScopeGuard>
#include <QSet>

#include <thread>

namespace mail {

namespace {

// Larger messages are not fetched to be judged: they are kept, and the log says so.
constexpr qint64 kMaxJudgedBytes = 64 * 1024 * 1024;
// Messages read but not yet judged, at most.
constexpr qsizetype kQueuedMessages = 256;
constexpr qint64 kQueuedBytes = 16 * 1024 * 1024;

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

} // namespace

QByteArray accountIdentity(const AccountSettings &account)
{
    return account.address + '\0' + account.pop3.trimmed() + '\0' + account.login;
}

void AccountCheck::logOutcome(const AccountOutcome &outcome, int newMessages)
{
    if (!outcome.checked) {
        m_context.log.write(QStringLiteral("%1: %2").arg(outcome.address, outcome.failure));
        return;
    }
    m_context.log.write(QStringLiteral("%1: %2 messages, %3 new, %4 %5")
                            .arg(outcome.address)
                            .arg(outcome.messages)
                            .arg(newMessages)
                            .arg(outcome.matched.size())
                            .arg(m_context.dryRun ? QStringLiteral("would be removed")
                                                  : QStringLiteral("removed")));
}

void AccountCheck::logMatch(const QString &what, const MatchedMessage &match)
{
    m_context.log.write(QStringLiteral("%1: %2 message from %3, subject %4, %5 bytes (%6: %7)")
                            .arg(m_address, what,
                                 match.sender.isEmpty() ? QStringLiteral("(nobody)") : match.sender,
                                 quoted(match.subject))
                            .arg(match.size)
                            .arg(match.rule.list, match.rule.pattern));
}

void AccountCheck::rememberTooLarge(const QByteArray &identity, int number,
                                    const QHash<int, QByteArray> &ids)
{
    // The server sent more than it listed: that message would end every check of the
    // account, so it is kept, and not fetched again under these rules.
    m_context.log.write(QStringLiteral("%1: message %2 kept: it is larger than the server said "
                                       "and too large to judge; it is not fetched again")
                            .arg(m_address)
                            .arg(number));
    if (!ids.contains(number))
        return;
    QSet<QByteArray> onServer;
    for (const QByteArray &id : ids)
        onServer.insert(id);
    m_context.seen.record(identity, m_context.rules.fingerprint(), onServer, {ids.value(number)});
}

AccountOutcome AccountCheck::run(const AccountSettings &account)
{
    AccountOutcome outcome;
    outcome.address = QString::fromLocal8Bit(account.address);
    m_address = outcome.address;
    if (!account.problem.isEmpty()) {
        outcome.failure = QStringLiteral("not checked: %1").arg(account.problem);
        logOutcome(outcome, 0);
        return outcome;
    }
    const std::optional<ServerAddress> server = parseServerAddress(account.pop3, account.ssl);
    if (!server) {
        outcome.failure = QStringLiteral("not checked: the POP3 server \"%1\" is not a host or "
                                         "host:port")
                              .arg(QString::fromLocal8Bit(account.pop3));
        logOutcome(outcome, 0);
        return outcome;
    }

    Pop3Session::Options options;
    options.connectTimeoutMs = m_context.connectTimeoutMs;
    options.replyTimeoutMs = m_context.replyTimeoutMs;
    options.sessionTimeoutMs = m_context.sessionTimeoutMs;
    options.cancel = m_context.cancel;
    options.maxMessageBytes = kMaxJudgedBytes;
    options.trust = &m_context.trust;
    // A server may echo the password back in a reply: no line of the log ever shows it.
    m_context.log.addSecret(account.password);
    auto session = std::make_unique<Pop3Session>(options);
    session->open(*server);
    const auto failed = [&]() {
        outcome.checked = false;
        outcome.failure = session->failureText();
        outcome.matched.clear();
        logOutcome(outcome, 0);
        return outcome;
    };

    const QByteArray login = account.login.isEmpty() ? account.address : account.login;
    if (session->failure() != Pop3Session::Failure::None)
        return failed();
    if (!session->encrypted()) {
        // Said at every check: a server that stopped offering STLS, or someone between who
        // removed the offer, gets the password in the clear, and only this line tells.
        m_context.log.write(QStringLiteral("%1: Warning: the password is sent in the clear: the "
                                           "server offers no secure connection (tick SSL to "
                                           "require one)")
                                .arg(outcome.address));
    }
    QHash<int, QByteArray> ids;
    bool haveIds = false;
    if (!session->login(login, account.password) || !session->uniqueIds(&ids, &haveIds))
        return failed();

    const Rules &rules = m_context.rules;
    const QByteArray identity = accountIdentity(account);
    const QSet<QByteArray> judgedBefore =
        haveIds ? m_context.seen.judged(identity, rules.fingerprint()) : QSet<QByteArray>();
    // The sizes are needed only for messages to fetch: a check that finds nothing new (the
    // usual one) does without the listing.
    const bool anythingNew =
        !haveIds || std::any_of(ids.cbegin(), ids.cend(), [&judgedBefore](const QByteArray &id) {
            return !judgedBefore.contains(id);
        });
    QList<std::pair<int, qint64>> sizes;
    if (!haveIds || (!rules.isEmpty() && anythingNew)) {
        if (!session->listSizes(&sizes))
            return failed();
        outcome.messages = int(sizes.size());
    } else {
        outcome.messages = int(ids.size());
    }

    // Only messages not judged under these rules are fetched, and only as much as needed.
    QList<std::pair<int, qint64>> toFetch;
    QSet<QByteArray> judgedNow;
    const bool whole = rules.needsWholeMessage();
    if (!rules.isEmpty()) {
        for (const auto &[number, size] : std::as_const(sizes)) {
            const QByteArray id = ids.value(number);
            if (haveIds && judgedBefore.contains(id))
                continue;
            toFetch.append({number, size});
        }
    }
    const int newMessages = int(toFetch.size());

    QList<int> toDelete;
    QHash<int, MatchedMessage> matches;
    QHash<int, qint64> listedSize;
    for (const auto &[number, size] : std::as_const(toFetch))
        listedSize.insert(number, size);
    // Whole messages are held within the check's shared budget, from before they are asked for
    // until they are judged.
    std::optional<HeldMessages> held;
    if (m_context.budget) {
        held.emplace(*m_context.budget, m_context.cancel);
        session->setReserve([&held](int number, qint64 size, bool mayWait) {
            return held->take(number, size, mayWait);
        });
    }
    // Judging runs beside the reading: while one message is parsed, the next ones arrive.
    const auto judge = [&](int number, QByteArray message) {
        const auto giveBack = qScopeGuard([&held, number] {
            if (held)
                held->give(number);
        });
        if (message.isEmpty())
            return; // the server would not send it: judged next time
        const MessageFacts facts = readMessageFacts(std::move(message), whole);
        ++outcome.judged;
        const Verdict verdict = judgeMessage(facts, rules);
        if (!verdict.keptBecause.isEmpty()) {
            m_context.log.write(QStringLiteral("%1: message %2 %3")
                                    .arg(outcome.address)
                                    .arg(number)
                                    .arg(verdict.keptBecause));
        }
        if (!verdict.removeBy) {
            if (haveIds)
                judgedNow.insert(ids.value(number));
            return;
        }
        toDelete.append(number);
        matches.insert(number, MatchedMessage{facts.fromText, facts.subject,
                                              listedSize.value(number), *verdict.removeBy});
    };
    JudgeQueue queue(kQueuedMessages, kQueuedBytes);
    std::thread judging([&queue, &judge] {
        while (std::optional<JudgeQueue::Item> item = queue.pop())
            judge(item->number, std::move(item->message));
    });
    // Called by this thread while the judging thread fills judgedNow: kept apart until then.
    QSet<QByteArray> tooLarge;
    const auto keepTooLarge = [&](int number) {
        m_context.log.write(QStringLiteral("%1: message %2 kept: %3 bytes is too large to judge")
                                .arg(outcome.address)
                                .arg(number)
                                .arg(listedSize.value(number)));
        if (haveIds)
            tooLarge.insert(ids.value(number));
    };
    const bool fetched = session->fetch(
        toFetch, !whole,
        [&queue](int number, QByteArray message) { queue.push(number, std::move(message)); },
        keepTooLarge);
    if (fetched)
        queue.close();
    else
        queue.abandon();
    judging.join();
    judgedNow.unite(tooLarge);
    if (!fetched) {
        if (session->failure() == Pop3Session::Failure::TooLarge)
            rememberTooLarge(identity, session->tooLargeMessage(), ids);
        return failed();
    }

    // Nothing is removed unless the conversation is provably in step: no reply came that no
    // command asked for, and the server names each message to remove as the one judged.
    QList<std::pair<int, QByteArray>> judgedAs;
    for (int number : std::as_const(toDelete))
        judgedAs.append(
            {number, haveIds ? ids.value(number) : QByteArray::number(listedSize.value(number))});
    if ((!toFetch.isEmpty() && !session->inStep())
        || (!judgedAs.isEmpty() && !session->confirmListed(haveIds, judgedAs)))
        return failed();

    QList<int> refused;
    if (!m_context.dryRun && !session->markDeleted(toDelete, &refused))
        return failed();
    // The server removes what is marked once it has QUIT, whether or not its answer arrives:
    // the marked messages are named before it is sent.
    int marked = 0;
    for (int number : std::as_const(toDelete)) {
        if (m_context.dryRun || refused.contains(number))
            continue;
        ++marked;
        logMatch(QStringLiteral("marked for removal"), matches[number]);
    }
    if (!session->quit()) {
        if (marked > 0) {
            m_context.log.write(QStringLiteral("%1: the server did not confirm QUIT (%2): the %3 "
                                               "messages marked above may have been removed")
                                    .arg(outcome.address, session->failureText())
                                    .arg(marked));
        }
        return failed();
    }

    outcome.checked = true;
    for (int number : std::as_const(toDelete)) {
        if (refused.contains(number))
            continue;
        const MatchedMessage &match = matches[number];
        outcome.matched.append(match);
        logMatch(m_context.dryRun ? QStringLiteral("would remove") : QStringLiteral("removed"),
                 match);
    }
    for (int number : std::as_const(refused)) {
        m_context.log.write(QStringLiteral("%1: the server would not remove message %2; it is "
                                           "judged again next time")
                                .arg(outcome.address)
                                .arg(number));
    }
    // A dry run leaves the state as it was, so the next real check judges the same messages.
    // Nothing judged and nothing gone: the record stands as it is.
    const bool recordChanges = !judgedNow.isEmpty() || judgedBefore.size() != qsizetype(ids.size())
                               || judgedBefore.isEmpty();
    if (haveIds && !m_context.dryRun && recordChanges) {
        QSet<QByteArray> onServer;
        for (const QByteArray &id : std::as_const(ids))
            onServer.insert(id);
        m_context.seen.record(identity, rules.fingerprint(), onServer, judgedNow);
    }
    logOutcome(outcome, newMessages);
    return outcome;
}

} // namespace mail
