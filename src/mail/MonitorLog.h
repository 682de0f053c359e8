#pragma once

#include <QString>

#include <cstdio>
#include <mutex>

namespace mail {

// The monitor's log: Ostrove.log beside the settings store, one line an event with the local
// time first, moved to Ostrove.log.1 past 1 MiB. Lines can also go to a stream (standard output
// for a check in the foreground, standard error for the journal). A log that cannot be written
// never stops the monitor. Safe to use from several threads.
//
// Lines carry text from mail and servers: control characters are shown escaped, and a line is
// cut at kMaxLineChars. (A server's reply that repeats a password never reaches it.) The file is never opened through
// a link, and not kept at all in a folder others may write.
class MonitorLog
{
public:
    explicit MonitorLog(QString path, std::FILE *echo = nullptr);

    void write(const QString &line);
    // A line that must be seen also where nobody reads the log: on standard error as well.
    void writeWarning(const QString &line);
    QString path() const { return m_path; }

    // A check begins: the log may be moved aside once until the next check begins, so that
    // a check never moves its own earlier lines out of reach; a write problem before it is
    // forgotten.
    void beginCheck();
    // Why a line could not be written to the file since the last call (disk full, say), else
    // empty: lines lost without a word would pass for a quiet check.
    QString takeWriteProblem();

    static constexpr qint64 kRotateBytes = 1024 * 1024;
    static constexpr int kMaxLineChars = 1000;

private:
    QString cleaned(const QString &line) const;
    void writeFile(const QByteArray &text);

    mutable std::mutex m_mutex;
    QString m_path;
    bool m_keepFile = true;
    bool m_mayRotate = true;
    QString m_writeProblem;
    std::FILE *m_echo;
};

} // namespace mail
