#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace mail {

// The whole text of every removed message, kept in `removed/` beside the store so that a
// removal can be undone: one .eml file a message (0600, in a 0700 folder), written and synced
// before the DELE goes, never opened through a link. Kept for so many days and up to so many
// bytes, the oldest going first. Used by each account's session from its own thread.
class RemovedCopies
{
public:
    RemovedCopies(QString folder, int keepDays, qint64 keepBytes);

    // False when nothing is to be kept (0 days): removals then go without a copy.
    bool enabled() const { return m_keepDays > 0; }
    QString folder() const { return m_folder; }

    // Writes the text as a new copy and returns its id, or empty with the reason. Not yet
    // synced: sync() before anything is removed.
    QString keep(const QByteArray &text, QString *error);
    // Makes these copies durable; false with the reason when it cannot.
    bool sync(const QStringList &ids, QString *error);
    // A copy whose message was not removed after all.
    void discard(const QString &id);
    // Drops copies older than the days kept, then the oldest until the rest fits the bytes.
    void expire(const QDateTime &now);

    // The file of a kept copy, or empty when there is none (expired, or an id that is no copy).
    QString pathOf(const QString &id) const;

    static constexpr int kDefaultDays = 30;
    static constexpr int kDefaultMegabytes = 200;

private:
    bool prepareFolder(QString *error);

    QString m_folder;
    int m_keepDays;
    qint64 m_keepBytes;
    bool m_folderReady = false;
};

QString removedCopiesFolderFor(const QString &storePath);

} // namespace mail
