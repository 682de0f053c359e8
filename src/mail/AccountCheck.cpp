#include "mail/AccountCheck.h"

#include "mail/JudgeQueue.h"
#include "mail/JudgedText.h"
#include "mail/MessageBudget.h"
#include "mail/MessageFacts.h"
#include "mail/MonitorLog.h"
#include "mail/Pop3Session.h"
#include "mail/RemovedCopies.h"
#include "mail/RemovedRecord.h"
#include "mail/Rules.h"
#include "mail/SeenState.h"
#include "mail/ServerAddress.h"

#include <QDateTime>
#include <QScopeGuard>

#include <mutex>
#include <thread>

namespace mail {

namespace {

// Larger messages are not fetched to be judged: they are kept, and the log says so.
constexpr qint64 kMaxJudgedBytes = 64 * 1024 * 1024;
// Messages read but not yet judged, at most.
constexpr qsizetype kQueuedMessages = 256;
constexpr qint64 kQueuedBytes = 16 * 1024 * 1024;
// A rule that would remove more messages than this, and more than half of a mailbox, is held.
constexpr int kBrakeCount = 20;

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

QSet<QByteArray> idsOnServer(const QHash<int, QByteArray> &ids)
{
    QSet<QByteArray> onServer;
    onServer.reserve(ids.size());
    for (const QByteArray &id : ids)
        onServer.insert(id);
    return onServer;
}

} // namespace

QByteArray accountIdentity(const AccountSettings &account)
{
    return account.address + '\0' + account.pop3.trimmed() + '\0' + account.login;
}

AccountCheck::AccountCheck(const Context &context)
    : m_context(context)
{}

AccountCheck::~AccountCheck() = default;

AccountOutcome AccountCheck::run(const AccountSettings &account)
{
    m_outcome.address = QString::fromLocal8Bit(account.address);
    m_address = m_outcome.address;
    m_identity = accountIdentity(account);
    m_outcome.identity = m_identity;
    if (!connect(account))
        return failed();
    FetchPlan plan;
    if (!planFetch(&plan))
        return failed();
    Judgement judgement;
    if (!fetchAndJudge(plan, &judgement))
        return failed();
    applyBrake(&judgement);
    if (!prove(plan, judgement) || !keepCopies(plan, &judgement))
        return failed();
    QList<int> refused;
    if (!commitRemovals(judgement, &refused))
        return failed();

    m_outcome.checked = true;
    reportRemovals(judgement, refused);
    record(plan, judgement, refused);
    logOutcome(int(plan.toFetch.size()));
    return m_outcome;
}

bool AccountCheck::connect(const AccountSettings &account)
{
    if (!account.problem.isEmpty()) {
        m_outcome.failure = QStringLiteral("not checked: %1").arg(account.problem);
        return false;
    }
    const std::optional<ServerAddress> server = parseServerAddress(account.pop3, account.ssl);
    if (!server) {
        m_outcome.failure = QStringLiteral("not checked: the POP3 server \"%1\" is not a host or "
                                           "host:port")
                                .arg(QString::fromLocal8Bit(account.pop3));
        return false;
    }

    Pop3Session::Options options;
    options.connectTimeoutMs = m_context.connectTimeoutMs;
    options.replyTimeoutMs = m_context.replyTimeoutMs;
    options.sessionTimeoutMs = m_context.sessionTimeoutMs;
    options.cancel = m_context.cancel;
    options.maxMessageBytes = kMaxJudgedBytes;
    options.trust = &m_context.trust;
    m_session = std::make_unique<Pop3Session>(options);
    if (!m_session->open(*server))
        return false;
    if (!m_session->encrypted()) {
        // Said at every check: a server that stopped offering STLS, or someone between who
        // removed the offer, gets the password in the clear, and only this line tells.
        m_context.log.write(QStringLiteral("%1: Warning: the password is sent in the clear: the "
                                           "server offers no secure connection (tick SSL to "
                                           "require one)")
                                .arg(m_address));
    }
    return m_session->login(account.login.isEmpty() ? account.address : account.login,
                            account.password);
}

bool AccountCheck::planFetch(FetchPlan *plan)
{
    if (!m_session->uniqueIds(&plan->ids, &plan->haveIds))
        return false;
    const Rules &rules = m_context.rules;
    SeenState::Previous previous;
    if (plan->haveIds)
        previous = m_context.seen.previous(m_identity, rules.fingerprint());
    plan->judgedBefore = std::move(previous.judged);
    // The sizes are needed only for messages to fetch: a check that finds nothing new (the
    // usual one) does without the listing.
    const bool anythingNew =
        !plan->haveIds
        || std::any_of(plan->ids.cbegin(), plan->ids.cend(),
                       [plan](const QByteArray &id) { return !plan->judgedBefore.contains(id); });
    if (plan->haveIds && (rules.isEmpty() || !anythingNew)) {
        m_outcome.messages = int(plan->ids.size());
        return true;
    }
    QList<std::pair<int, qint64>> sizes;
    if (!m_session->listSizes(&sizes))
        return false;
    const QSet<QByteArray> &removedBefore = previous.removed;
    for (const auto &[number, size] : std::as_const(sizes)) {
        // A server that lists a message twice still has it once: it is judged once.
        if (plan->listedSize.contains(number))
            continue;
        plan->listedSize.insert(number, size);
        const QByteArray id = plan->ids.value(number);
        if (removedBefore.contains(id)) {
            // Said once: it is recorded as judged, so that it is not reported removed at every
            // check while it stays.
            m_context.log.write(QStringLiteral("%1: message %2 is still on the server although the "
                                               "server confirmed its removal at the last check; "
                                               "it is left there")
                                    .arg(m_address)
                                    .arg(number));
            plan->keptByServer.insert(id);
            continue;
        }
        if (rules.isEmpty() || (plan->haveIds && plan->judgedBefore.contains(id)))
            continue;
        plan->toFetch.append({number, size});
    }
    m_outcome.messages = int(plan->listedSize.size());
    return true;
}

// Reading and judging overlap: this thread reads the messages off the server while a judging
// thread reads each with GMime and holds it against the rules. Only the judging thread writes
// `found` until it is joined.
bool AccountCheck::fetchAndJudge(const FetchPlan &plan, Judgement *judgement)
{
    const Rules &rules = m_context.rules;
    const bool whole = rules.needsWholeMessage();
    // Whole messages are held within the check's shared budget, from before they are asked for
    // until they are judged.
    std::optional<HeldMessages> held;
    if (m_context.budget) {
        held.emplace(*m_context.budget, m_context.cancel);
        m_session->setReserve([&held](int number, qint64 size, bool mayWait) {
            return held->take(number, size, mayWait);
        });
    }
    Judgement found;
    int judged = 0;
    std::mutex unreadableMutex;
    QList<std::pair<int, QString>> unreadable;
    const auto judge = [&](int number, QByteArray message) {
        const auto giveBack = qScopeGuard([&held, number] {
            if (held)
                held->give(number);
        });
        if (message.isEmpty()) {
            const std::lock_guard lock(unreadableMutex);
            unreadable.append({number, QStringLiteral("the server sent it empty")});
            return;
        }
        Condemned condemned;
        condemned.headerDigest = headerDigest(message);
        if (whole)
            condemned.lengthFits = lengthFitsListedSize(message, plan.listedSize.value(number));
        const MessageFacts facts = readMessageFacts(std::move(message), whole);
        ++judged;
        const Verdict verdict = judgeMessage(facts, rules);
        if (!verdict.keptBecause.isEmpty())
            m_context.log.write(QStringLiteral("%1: message %2 %3")
                                    .arg(m_address)
                                    .arg(number)
                                    .arg(verdict.keptBecause));
        const auto matched = [&](const RuleMatch &rule) {
            MatchedMessage match;
            match.sender = facts.fromText;
            match.subject = facts.subject;
            match.size = plan.listedSize.value(number);
            match.rule = rule;
            return match;
        };
        if (verdict.allowedBy)
            found.allowed.append(matched(*verdict.allowedBy));
        if (!verdict.removeBy) {
            if (plan.haveIds)
                found.cleared.insert(plan.ids.value(number));
            return;
        }
        condemned.number = number;
        condemned.match = matched(*verdict.removeBy);
        found.condemned.append(std::move(condemned));
    };
    JudgeQueue queue(kQueuedMessages, kQueuedBytes);
    std::thread judging([&queue, &judge] {
        while (std::optional<JudgeQueue::Item> item = queue.pop())
            judge(item->number, std::move(item->message));
    });

    QSet<QByteArray> tooLarge;
    Pop3Session::FetchHandlers handlers;
    handlers.message = [&queue](int number, QByteArray message) {
        queue.push(number, std::move(message));
    };
    handlers.tooLarge = [&](int number) {
        m_context.log.write(QStringLiteral("%1: message %2 kept: %3 bytes is too large to judge")
                                .arg(m_address)
                                .arg(number)
                                .arg(plan.listedSize.value(number)));
        if (plan.haveIds)
            tooLarge.insert(plan.ids.value(number));
    };
    handlers.refused = [&](int number, const QString &reply) {
        const std::lock_guard lock(unreadableMutex);
        unreadable.append(
            {number, QStringLiteral("the server would not send it (-ERR %1)")
                         .arg(reply.isEmpty() ? QStringLiteral("without a reason") : reply)});
    };
    handlers.deferred = [this](const QList<int> &numbers) {
        m_outcome.deferred = int(numbers.size());
        m_context.log.write(QStringLiteral("%1: %2 left to the next check: the memory for "
                                           "judging whole messages is taken by other accounts' "
                                           "large messages")
                                .arg(m_address, countOf(numbers.size(), "message", "messages")));
    };
    const bool fetched = m_session->fetch(plan.toFetch, !whole, handlers);
    if (fetched)
        queue.close();
    else
        queue.abandon();
    judging.join();

    m_outcome.judged = judged;
    m_outcome.allowed = std::move(found.allowed);
    for (const auto &[number, why] : std::as_const(unreadable))
        logUnreadable(number, why);
    m_outcome.unreadable = int(unreadable.size());
    found.cleared.unite(tooLarge);
    *judgement = std::move(found);
    if (!fetched && m_session->failure() == Pop3Session::Failure::TooLarge)
        rememberTooLarge(m_session->tooLargeMessage(), plan.ids);
    return fetched;
}

// A rule that would remove more than half of an account's messages, and more than a few, is
// far more likely a slip (a one-letter word, a careless wildcard) than a wish: nothing goes by
// it until the person releases it. The other rules' removals go on.
void AccountCheck::applyBrake(Judgement *judgement)
{
    QHash<std::pair<QString, QString>, int> byRule;
    for (const Condemned &message : std::as_const(judgement->condemned))
        ++byRule[{message.match.rule.list, message.match.rule.pattern}];
    QSet<std::pair<QString, QString>> held;
    for (auto rule = byRule.cbegin(); rule != byRule.cend(); ++rule) {
        const auto &[list, pattern] = rule.key();
        if (rule.value() <= kBrakeCount || qint64(rule.value()) * 2 <= m_outcome.messages
            || m_context.seen.released(m_identity, list, pattern))
            continue;
        held.insert(rule.key());
        if (!m_context.dryRun)
            m_context.seen.hold(m_identity, list, pattern, rule.value());
        m_context.log.write(
            QStringLiteral("%1: %2 held: the rule (%3: %4) would remove more "
                           "than half of the mailbox; it removes nothing until "
                           "you confirm it (Remove them in the Preview, or "
                           "OstroveService --release-held)")
                .arg(m_address, countOf(rule.value(), "message", "messages"), list, pattern));
    }
    if (held.isEmpty())
        return;
    QList<Condemned> going;
    for (Condemned &message : judgement->condemned) {
        if (held.contains({message.match.rule.list, message.match.rule.pattern}))
            m_outcome.held.append(message.match);
        else
            going.append(std::move(message));
    }
    judgement->condemned = std::move(going);
}

// Nothing is removed unless the conversation is provably in step: no reply came that no
// command asked for, the server names each message to remove as the one judged and sends the
// header that was judged, and each whole message judged was as long as its listed size says.
bool AccountCheck::prove(const FetchPlan &plan, const Judgement &judgement)
{
    if (judgement.condemned.isEmpty())
        return plan.toFetch.isEmpty() || m_session->inStep();
    QList<Pop3Session::JudgedAs> judgedAs;
    for (const Condemned &message : judgement.condemned) {
        if (!message.lengthFits) {
            m_session->abort();
            m_outcome.failure =
                QStringLiteral("the server's replies are out of step with the commands (the text "
                               "judged as message %1 is not as long as the server listed it)")
                    .arg(message.number);
            return false;
        }
        const qint64 size = plan.listedSize.value(message.number);
        judgedAs.append({message.number,
                         plan.haveIds ? plan.ids.value(message.number) : QByteArray::number(size),
                         size, message.headerDigest});
    }
    return m_session->confirmJudged(plan.haveIds, judgedAs);
}

// Before anything is removed its whole text is on disk (its header alone when it is too large
// to fetch), read again and proven to be the text judged. A message whose copy cannot be
// written stays on the server in this check.
bool AccountCheck::keepCopies(const FetchPlan &plan, Judgement *judgement)
{
    RemovedCopies *copies = m_context.copies;
    if (m_context.dryRun || !copies || judgement->condemned.isEmpty())
        return true;
    QList<Pop3Session::CopyWanted> wanted;
    QHash<int, qsizetype> place;
    for (const Condemned &message : std::as_const(judgement->condemned)) {
        const qint64 size = plan.listedSize.value(message.number);
        place.insert(message.number, wanted.size());
        wanted.append({message.number, size, size > kMaxJudgedBytes});
    }
    QList<Condemned> kept;
    const bool fetched = m_session->fetchCopies(wanted, [&](int number, const QByteArray &text) {
        Condemned &message = judgement->condemned[place.value(number)];
        if (headerDigest(text) != message.headerDigest) {
            m_outcome.failure = QStringLiteral("the server's replies are out of step with the "
                                               "commands (the text of message %1 to keep is not "
                                               "the one judged)")
                                    .arg(number);
            return false;
        }
        QString problem;
        message.match.copy = copies->keep(text, &problem);
        message.match.headerOnly = wanted[place.value(number)].headerOnly;
        if (message.match.copy.isEmpty()) {
            ++m_outcome.notKept;
            m_context.log.write(QStringLiteral("%1: message %2 stays on the server: its copy "
                                               "cannot be kept (%3)")
                                    .arg(m_address)
                                    .arg(number)
                                    .arg(problem));
            return true;
        }
        kept.append(message);
        return true;
    });
    if (!fetched) {
        discardCopies(Judgement{kept, {}, {}});
        return false;
    }
    QString problem;
    QStringList ids;
    for (const Condemned &message : std::as_const(kept))
        ids.append(message.match.copy);
    if (!kept.isEmpty() && !copies->sync(ids, &problem)) {
        m_outcome.notKept += int(kept.size());
        m_context.log.write(
            QStringLiteral("%1: %2 stay on the server: their copies cannot be kept "
                           "(%3)")
                .arg(m_address, countOf(kept.size(), "message", "messages"), problem));
        discardCopies(Judgement{kept, {}, {}});
        kept.clear();
    }
    judgement->condemned = std::move(kept);
    return true;
}

// The copies of messages that were not removed after all: all of them, or those named.
void AccountCheck::discardCopies(const Judgement &judgement, const QList<int> *only)
{
    if (!m_context.copies)
        return;
    for (const Condemned &message : judgement.condemned) {
        if (!message.match.copy.isEmpty() && (!only || only->contains(message.number)))
            m_context.copies->discard(message.match.copy);
    }
}

bool AccountCheck::commitRemovals(const Judgement &judgement, QList<int> *refused)
{
    QList<int> numbers;
    for (const Condemned &message : judgement.condemned)
        numbers.append(message.number);
    if (!m_context.dryRun && !m_session->markDeleted(numbers, refused)) {
        discardCopies(judgement); // nothing is removed without QUIT
        return false;
    }
    discardCopies(judgement, refused);
    // The server removes what is marked once it has QUIT, whether or not its answer arrives:
    // the marked messages are named before it is sent.
    int marked = 0;
    for (const Condemned &message : judgement.condemned) {
        if (m_context.dryRun || refused->contains(message.number))
            continue;
        ++marked;
        logMatch(QStringLiteral("marked for removal"), message.match);
    }
    if (m_session->quit())
        return true;
    // The copies stay: what was marked may be gone.
    if (marked > 0) {
        m_context.log.write(
            QStringLiteral("%1: the server did not confirm QUIT (%2): the %3 "
                           "marked above may have been removed")
                .arg(m_address, m_session->failureText(), countOf(marked, "message", "messages")));
    }
    return false;
}

// After QUIT was confirmed: each removal named once, and each refusal.
void AccountCheck::reportRemovals(const Judgement &judgement, const QList<int> &refused)
{
    for (const Condemned &message : std::as_const(judgement.condemned)) {
        if (refused.contains(message.number))
            continue;
        m_outcome.matched.append(message.match);
        logMatch(m_context.dryRun ? QStringLiteral("would remove") : QStringLiteral("removed"),
                 message.match);
    }
    if (!m_context.dryRun && m_context.removed
        && !m_context.removed->append(m_address, m_outcome.matched, QDateTime::currentDateTime())) {
        m_context.log.write(
            QStringLiteral("Warning: the record of removed mail cannot be written (%1)")
                .arg(m_context.removed->path()));
    }
    for (int number : std::as_const(refused)) {
        m_context.log.write(QStringLiteral("%1: the server would not remove message %2; it is "
                                           "judged again next time")
                                .arg(m_address)
                                .arg(number));
    }
}

// Only after QUIT: the judged ids, so that they are not fetched again under these rules. A
// dry run leaves the state as it was, so the next real check judges the same messages.
void AccountCheck::record(const FetchPlan &plan, const Judgement &judgement,
                          const QList<int> &refused)
{
    if (!plan.haveIds || m_context.dryRun)
        return;
    QSet<QByteArray> removedNow;
    for (const Condemned &message : judgement.condemned) {
        if (!refused.contains(message.number))
            removedNow.insert(plan.ids.value(message.number));
    }
    const bool changes =
        !judgement.cleared.isEmpty() || !plan.keptByServer.isEmpty() || !removedNow.isEmpty()
        || plan.judgedBefore.size() != qsizetype(plan.ids.size()) || plan.judgedBefore.isEmpty();
    if (!changes)
        return;
    m_context.seen.record(m_identity, m_context.rules.fingerprint(), idsOnServer(plan.ids),
                          judgement.cleared + plan.keptByServer, removedNow);
}

AccountOutcome AccountCheck::failed()
{
    m_outcome.checked = false;
    if (m_outcome.failure.isEmpty() && m_session)
        m_outcome.failure = m_session->failureText();
    m_outcome.matched.clear();
    logOutcome(0);
    return m_outcome;
}

void AccountCheck::logOutcome(int newMessages)
{
    if (!m_outcome.checked) {
        m_context.log.write(QStringLiteral("%1: %2").arg(m_address, m_outcome.failure));
        return;
    }
    QString text =
        QStringLiteral("%1: %2, %3 new, %4 %5")
            .arg(m_address, countOf(m_outcome.messages, "message", "messages"))
            .arg(newMessages)
            .arg(m_outcome.matched.size())
            .arg(m_context.dryRun ? QStringLiteral("would be removed") : QStringLiteral("removed"));
    if (m_outcome.unreadable > 0)
        text += QStringLiteral(", %1 could not be read").arg(m_outcome.unreadable);
    if (m_outcome.deferred > 0)
        text += QStringLiteral(", %1 left to the next check").arg(m_outcome.deferred);
    if (!m_outcome.held.isEmpty())
        text += QStringLiteral(", %1 held").arg(m_outcome.held.size());
    m_context.log.write(text);
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

void AccountCheck::logUnreadable(int number, const QString &why)
{
    m_context.log.write(QStringLiteral("%1: message %2 could not be read: %3; it is tried again "
                                       "at the next check")
                            .arg(m_address)
                            .arg(number)
                            .arg(why));
}

void AccountCheck::rememberTooLarge(int number, const QHash<int, QByteArray> &ids)
{
    // The server sent more than it listed: that message would end every check of the
    // account, so it is kept, and not fetched again under these rules.
    m_context.log.write(QStringLiteral("%1: message %2 kept: it is larger than the server said "
                                       "and too large to judge; it is not fetched again")
                            .arg(m_address)
                            .arg(number));
    if (!ids.contains(number))
        return;
    m_context.seen.record(m_identity, m_context.rules.fingerprint(), idsOnServer(ids),
                          {ids.value(number)});
}

} // namespace mail
