#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace mail {

struct CheckReport;

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
};

// What the checks removed, one JSON object a line in removed.log beside the log, so that the
// tray can list it without reading log text. Owner-only, never written through a link, and
// kept to about kMaxBytes by dropping the oldest lines. Written by the monitor programs after
// each real check, from the thread that owns the report.
class RemovedRecord
{
public:
    explicit RemovedRecord(QString path);

    // Adds what the report removed; a dry run or a check that removed nothing adds nothing.
    // False when the record could not be written (the monitor goes on without it).
    bool append(const CheckReport &report, const QDateTime &at);
    // Newest first, at most `limit` entries; lines that cannot be read are passed over.
    QList<RemovedEntry> read(int limit = kMaxEntriesShown) const;
    QString path() const { return m_path; }

    static constexpr qint64 kMaxBytes = 512 * 1024;
    static constexpr int kMaxEntriesShown = 5000;

private:
    bool trim() const;

    QString m_path;
};

QString removedRecordPathFor(const QString &storePath);

} // namespace mail
