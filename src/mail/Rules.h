#pragma once

#include "mail/MessageFacts.h"
#include "mail/Settings.h"
#include "mail/Wildcard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace mail {

// Which list and pattern a message matched, for the log.
struct RuleMatch
{
    QString list; // the list's key name: MailFilter, SubjectFilter, ContentFilter, Attachments
    QString pattern;
};

// The four filter lists as the monitor applies them. Built once per check from the settings;
// patterns that would match nearly every message are left out, with a warning for the log.
class Rules
{
public:
    explicit Rules(const MonitorSettings &settings);

    bool isEmpty() const;
    // Body and attachment rules need the whole message; the others only its header.
    bool needsWholeMessage() const;
    std::optional<RuleMatch> match(const MessageFacts &facts) const;
    // The allowed-senders pattern a sender of the message matches: its mail is never removed.
    std::optional<RuleMatch> allowedBy(const MessageFacts &facts) const;

    // Changes whenever the rules in force change, so that messages are judged again.
    QByteArray fingerprint() const { return m_fingerprint; }
    QStringList warnings() const { return m_warnings; }

private:
    struct Attachment
    {
        QString folded;
        WildcardPattern wildcard;
        QString pattern;
        bool hasRange = false;
        qint32 sizeFrom = 0;
        qint32 sizeTo = 0;
    };
    struct Pattern
    {
        QString folded;
        WildcardPattern wildcard;
        QString pattern;
    };

    QList<Pattern> takeTextPatterns(const QStringList &patterns, const char *list);

    QList<Pattern> m_allowed;
    QList<Pattern> m_senders;
    QList<Pattern> m_subjects;
    QList<Pattern> m_contents;
    QList<Attachment> m_attachments;
    QStringList m_warnings;
    QByteArray m_fingerprint;
};

// What becomes of one message: the only place where mail is condemned. Removed only when a
// rule matched what could be read; kept otherwise, with the reason when part of the message
// could not be read (a message that cannot be read at all is kept, whatever the rules).
struct Verdict
{
    std::optional<RuleMatch> removeBy;
    QString keptBecause; // for the log; empty when all was read and no rule matched
    // A rule matched, but the sender is allowed: the AllowFilter pattern that kept it.
    std::optional<RuleMatch> allowedBy;
};
Verdict judgeMessage(const MessageFacts &facts, const Rules &rules);

// Size in kB as the attachment page counts it: bytes / 1024, rounded up.
qint64 sizeInKilobytes(qint64 bytes);

} // namespace mail
