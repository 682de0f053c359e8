#include "mail/MonitorFiles.h"

#include "mail/MonitorLog.h"

namespace mail {

namespace {

store::SqliteStore::Options readOnly()
{
    store::SqliteStore::Options options;
    options.readOnly = true;
    return options;
}

} // namespace

MonitorFiles::MonitorFiles(const QString &storePath, MonitorLog &log)
    : m_log(log)
    , m_seen(seenStatePathFor(storePath))
    , m_settings(storePath, readOnly())
{
    if (!m_seen.problem().isEmpty())
        log.write(QStringLiteral("Warning: the record of judged messages is kept in memory only "
                                 "(%1); messages are judged again when the program starts anew")
                      .arg(m_seen.problem()));
}

CheckReport MonitorFiles::check(const MailCheck::Options &options)
{
    return MailCheck(m_settings, m_seen, m_log, options).run();
}

void MonitorFiles::warnAboutStore(const QString &storePath, MonitorLog &log)
{
    if (const QString warning = storePermissionWarning(storePath); !warning.isEmpty())
        log.write(warning);
}

} // namespace mail
