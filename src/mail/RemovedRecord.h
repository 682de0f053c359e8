#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace mail {

struct MatchedMessage;

// One message a real check removed, as the record keeps it.
struct RemovedEntry
{
    QDateTime at;
    QString account;
    QString sender;
    QString subject;
    qint64 size = 0;
    QString list;
    QString pattern;
    QString copy;            // the id of its kept copy (RemovedCopies), empty when none
    bool headerOnly = false; // only its header was kept: it was too large
};

// What the checks removed, one JSON object a line in removed.log beside the log, so that the
// tray can list it without reading log text. Owner-only, never written through a link, and
// kept to about kMaxBytes by dropping the oldest lines; a long field is cut, so that no entry
// can push the others out. Written by each account's session once the server confirmed QUIT,
// whichever program runs it, from the session's own thread.
class RemovedRecord
{
public:
    explicit RemovedRecord(QString path);

    // Adds what one account's session removed. False when the record could not be written
    // (the monitor goes on without it).
    bool append(const QString &account, const QList<MatchedMessage> &removed, const QDateTime &at);
    // Newest first, at most `limit` entries; lines that cannot be read are passed over.
    QList<RemovedEntry> read(int limit = kMaxEntriesShown) const;
    QString path() const { return m_path; }

    static constexpr qint64 kMaxBytes = 512 * 1024;
    static constexpr int kMaxEntriesShown = 5000;
    static constexpr qsizetype kMaxFieldChars = 1000;

private:
    bool trim() const;

    QString m_path;
};

QString removedRecordPathFor(const QString &storePath);

} // namespace mail
