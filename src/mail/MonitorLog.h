#pragma once

#include <QString>

#include <cstdio>
#include <mutex>

namespace mail {

// The monitor's log: Ostrove.log beside the settings store, one line an event with the local
// time first, moved to Ostrove.log.1 past 1 MiB. Lines can also go to a stream (standard output
// for a check in the foreground, standard error for the journal). A log that cannot be written
// never stops the monitor. Safe to use from several threads.
class MonitorLog
{
public:
    explicit MonitorLog(QString path, std::FILE *echo = nullptr);

    void write(const QString &line);
    QString path() const { return m_path; }

    static constexpr qint64 kRotateBytes = 1024 * 1024;

private:
    std::mutex m_mutex;
    QString m_path;
    std::FILE *m_echo;
};

} // namespace mail
