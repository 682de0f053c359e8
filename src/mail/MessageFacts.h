#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace mail {

struct AttachmentFact
{
    QString name;
    qint64 decodedBytes = 0; // -1: unknown (the data cannot be decoded, or is kept elsewhere)
};

// What the rules look at in one message, all as decoded text.
struct MessageFacts
{
    bool judgeable = false; // false: the message could not be read and must be kept
    QString problem;        // why it could not be read
    // Set when some part the content or attachment rules look at cannot be read: what was read
    // is still judged, but finding nothing in it does not clear the message.
    QString bodyProblem;
    QStringList senders; // the address of each mailbox in From, without its display name
    QString fromText;    // From as a person reads it, for the log
    QString subject;     // as a person reads it: no invisible code points, blanks collapsed
    // text/plain and de-tagged text/html parts, folded as the rules compare it
    // (foldedForMatching, blanks collapsed)
    QString bodyText;
    QList<AttachmentFact> attachments;
};

// Reads a message (or only its header, from TOP n 0) with GMime. With withBody false, neither
// the body text nor the attachments are looked at.
// Taken by value: a caller that moves the message in lets it go once GMime has read it.
MessageFacts readMessageFacts(QByteArray message, bool withBody);

} // namespace mail
