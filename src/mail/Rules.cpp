#include "mail/Rules.h"

#include "mail/MatchText.h"

#include <QCryptographicHash>

namespace mail {

namespace {

// Part of the fingerprint: a change in how messages are judged judges them all again.
constexpr char kJudgingVersion[] = "ostrove-rules-3";

constexpr char kAllowFilter[] = "AllowFilter";
constexpr char kMailFilter[] = "MailFilter";
constexpr char kSubjectFilter[] = "SubjectFilter";
constexpr char kContentFilter[] = "ContentFilter";
constexpr char kAttachments[] = "Attachments";

// The name an attachment is saved under, folded: Windows drops the dots and blanks at the end
// of a file name, so "invoice.exe." runs as invoice.exe.
QString savedName(const QString &name)
{
    QString folded = foldedForMatching(name, Blanks::Keep);
    qsizetype end = folded.size();
    while (end > 0 && (folded[end - 1] == u'.' || folded[end - 1] == u' '))
        --end;
    folded.truncate(end);
    return folded;
}

} // namespace

Verdict judgeMessage(const MessageFacts &facts, const Rules &rules)
{
    if (!facts.judgeable)
        return {std::nullopt, QStringLiteral("kept: %1").arg(facts.problem), std::nullopt};
    // Tested first: an allowed sender's mail stays whatever else matches.
    if (const std::optional<RuleMatch> allowed = rules.allowedBy(facts)) {
        if (!rules.match(facts))
            return {};
        return {
            std::nullopt,
            QStringLiteral("kept: sender allowed (%1: %2)").arg(allowed->list, allowed->pattern),
            allowed};
    }
    Verdict verdict{rules.match(facts), QString(), std::nullopt};
    if (!verdict.removeBy && !facts.bodyProblem.isEmpty())
        verdict.keptBecause =
            QStringLiteral("kept unjudged by the content and attachment rules: %1")
                .arg(facts.bodyProblem);
    return verdict;
}

qint64 sizeInKilobytes(qint64 bytes)
{
    return (bytes + 1023) / 1024;
}

QList<Rules::Pattern> Rules::takeTextPatterns(const QStringList &patterns, const char *list)
{
    QList<Pattern> taken;
    for (const QString &pattern : patterns) {
        if (pattern.isEmpty())
            continue;
        if (!hasLetterOrDigit(pattern)) {
            m_warnings.append(QStringLiteral("%1 pattern \"%2\" ignored: it would match nearly "
                                             "every message")
                                  .arg(QLatin1String(list), pattern));
            continue;
        }
        taken.append({foldedForMatching(pattern, Blanks::Keep), WildcardPattern(pattern), pattern});
    }
    return taken;
}

Rules::Rules(const MonitorSettings &settings)
{
    // Every allowed pattern counts, even one that matches every sender: it only keeps mail.
    for (const QString &pattern : settings.allowedSenders) {
        if (!pattern.isEmpty())
            m_allowed.append(
                {foldedForMatching(pattern, Blanks::Keep), WildcardPattern(pattern), pattern});
    }
    m_senders = takeTextPatterns(settings.senderPatterns, kMailFilter);
    m_subjects = takeTextPatterns(settings.subjectPatterns, kSubjectFilter);
    m_contents = takeTextPatterns(settings.contentPatterns, kContentFilter);
    for (const AttachmentPattern &stored : settings.attachmentPatterns) {
        if (stored.pattern.isEmpty())
            continue;
        if (!stored.hasRange && !hasLetterOrDigit(stored.pattern)) {
            m_warnings.append(QStringLiteral("Attachments pattern \"%1\" without a size range "
                                             "ignored: it would match every attachment")
                                  .arg(stored.pattern));
            continue;
        }
        if (stored.hasRange && stored.sizeFrom > stored.sizeTo) {
            m_warnings.append(QStringLiteral("Attachments pattern \"%1\" matches nothing: its "
                                             "size range %2 to %3 kB is reversed")
                                  .arg(stored.pattern)
                                  .arg(stored.sizeFrom)
                                  .arg(stored.sizeTo));
            continue;
        }
        m_attachments.append({foldedForMatching(stored.pattern, Blanks::Keep),
                              WildcardPattern(stored.pattern), stored.pattern, stored.hasRange,
                              stored.sizeFrom, stored.sizeTo});
    }

    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto add = [&hash](const QString &text) {
        const QByteArray bytes = text.toUtf8();
        const qint64 length = bytes.size();
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(&length), sizeof length));
        hash.addData(bytes);
    };
    add(QLatin1String(kJudgingVersion));
    for (const auto *list : {&m_allowed, &m_senders, &m_subjects, &m_contents}) {
        QStringList folded;
        for (const Pattern &pattern : *list)
            folded.append(pattern.folded);
        folded.sort();
        add(QString::number(folded.size()));
        for (const QString &text : folded)
            add(text);
    }
    QStringList attachments;
    for (const Attachment &rule : m_attachments) {
        attachments.append(
            rule.hasRange
                ? QStringLiteral("%1|%2|%3").arg(rule.folded).arg(rule.sizeFrom).arg(rule.sizeTo)
                : rule.folded + QLatin1String("|-"));
    }
    attachments.sort();
    add(QString::number(attachments.size()));
    for (const QString &text : attachments)
        add(text);
    m_fingerprint = hash.result().toHex();
}

bool Rules::isEmpty() const
{
    return m_senders.isEmpty() && m_subjects.isEmpty() && m_contents.isEmpty()
           && m_attachments.isEmpty();
}

bool Rules::needsWholeMessage() const
{
    return !m_contents.isEmpty() || !m_attachments.isEmpty();
}

std::optional<RuleMatch> Rules::allowedBy(const MessageFacts &facts) const
{
    for (const QString &sender : facts.senders) {
        const QString folded = foldedForMatching(sender, Blanks::Keep);
        for (const Pattern &pattern : m_allowed) {
            if (pattern.wildcard.matchesWhole(folded))
                return RuleMatch{QLatin1String(kAllowFilter), pattern.pattern};
        }
    }
    return std::nullopt;
}

std::optional<RuleMatch> Rules::match(const MessageFacts &facts) const
{
    if (!facts.judgeable)
        return std::nullopt;
    if (!m_senders.isEmpty()) {
        for (const QString &sender : facts.senders) {
            const QString folded = foldedForMatching(sender, Blanks::Keep);
            for (const Pattern &pattern : m_senders) {
                if (pattern.wildcard.matchesWhole(folded))
                    return RuleMatch{QLatin1String(kMailFilter), pattern.pattern};
            }
        }
    }
    if (!m_subjects.isEmpty()) {
        const QString folded = foldedForMatching(facts.subject, Blanks::Collapse);
        for (const Pattern &pattern : m_subjects) {
            if (pattern.wildcard.matchesPart(folded))
                return RuleMatch{QLatin1String(kSubjectFilter), pattern.pattern};
        }
    }
    if (!m_contents.isEmpty()) {
        for (const Pattern &pattern : m_contents) {
            if (pattern.wildcard.matchesPart(facts.bodyText))
                return RuleMatch{QLatin1String(kContentFilter), pattern.pattern};
        }
    }
    for (const AttachmentFact &attachment : facts.attachments) {
        const QString folded = savedName(attachment.name);
        const qint64 kilobytes = sizeInKilobytes(attachment.decodedBytes);
        for (const Attachment &rule : m_attachments) {
            // An attachment of unknown size lies in no range.
            if (rule.hasRange
                && (attachment.decodedBytes < 0 || kilobytes < rule.sizeFrom
                    || kilobytes > rule.sizeTo))
                continue;
            if (rule.wildcard.matchesWhole(folded))
                return RuleMatch{QLatin1String(kAttachments), rule.pattern};
        }
    }
    return std::nullopt;
}

} // namespace mail
