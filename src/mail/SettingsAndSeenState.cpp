#include "mail/SettingsAndSeenState.h"

#include "mail/MonitorLog.h"
#include "mail/RemovedCopies.h"
#include "mail/Settings.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace mail {

namespace {

store::SqliteStore::Options readOnly()
{
    store::SqliteStore::Options options;
    options.readOnly = true;
    return options;
}

} // namespace

SettingsAndSeenState::SettingsAndSeenState(const QString &storePath, MonitorLog &log)
    : m_storePath(storePath)
    , m_log(log)
    , m_seen(seenStatePathFor(storePath))
    , m_removed(removedRecordPathFor(storePath))
    , m_settings(storePath, readOnly())
{
    if (!m_seen.problem().isEmpty())
        log.write(QStringLiteral("Warning: the record of judged messages is kept in memory only "
                                 "(%1); messages are judged again when the program starts anew")
                      .arg(m_seen.problem()));
}

CheckReport SettingsAndSeenState::check(const MailCheck::Options &options)
{
    m_log.beginCheck();
    // Read-only, a missing store is an empty tree: that must not pass for "no accounts".
    if (const QString problem = settingsFileProblem(m_storePath); !problem.isEmpty()) {
        CheckReport report;
        report.dryRun = options.dryRun;
        report.settingsProblem = problem;
        m_log.writeWarning(
            QStringLiteral("Check failed: %1").arg(settingsProblemSentence(problem)));
        return report;
    }
    MailCheck::Options withRecord = options;
    if (!withRecord.removedRecord)
        withRecord.removedRecord = &m_removed;
    if (withRecord.removedCopiesFolder.isEmpty())
        withRecord.removedCopiesFolder = removedCopiesFolderFor(m_storePath);
    CheckReport report = MailCheck(m_settings, m_seen, m_log, withRecord).run();
    if (const QString problem = m_seen.takeWriteProblem(); !problem.isEmpty())
        m_log.write(QStringLiteral("Warning: the record of judged messages cannot be written "
                                   "(%1); it is kept in memory only, and messages are judged "
                                   "again when the program starts anew")
                        .arg(problem));
    return report;
}

void SettingsAndSeenState::warnAboutStore(const QString &storePath, MonitorLog &log)
{
    if (const QString warning = storePermissionWarning(storePath); !warning.isEmpty())
        log.write(warning);
}

QString unsafeFolderReason(const QString &folder)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return {};
    if (info.st_uid != ::geteuid())
        return QStringLiteral("the folder belongs to another user");
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("the folder may be written by others than its owner");
    return {};
}

} // namespace mail
