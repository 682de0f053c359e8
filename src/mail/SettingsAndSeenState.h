#pragma once

#include "mail/MailCheck.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"
#include "store/SqliteStore.h"

#include <QString>

namespace mail {

class MonitorLog;

// What a monitor program checks with: the settings, opened read-only (the monitor never writes
// them), and beside them the record of judged messages and the record of removed mail. What
// cannot be kept is said in the log.
class SettingsAndSeenState
{
public:
    SettingsAndSeenState(const QString &storePath, MonitorLog &log);

    store::SqliteStore &settings() { return m_settings; }
    CheckReport check(const MailCheck::Options &options);

    // Said once when a monitor program starts: the store holds the passwords.
    static void warnAboutStore(const QString &storePath, MonitorLog &log);

private:
    QString m_storePath;
    MonitorLog &m_log;
    SeenState m_seen;
    RemovedRecord m_removed;
    store::SqliteStore m_settings;
};

// Why files beside the store must not be kept in this folder (another user may write it, and
// so put links or files of their choosing where the monitor writes), else empty.
QString unsafeFolderReason(const QString &folder);

} // namespace mail
