#include "MailTestSupport.h"

#include "QuietWrite.h"
#include "contract/MonitorContract.h"
#include "mail/MonitorLog.h"
#include "mail/RemovedCopies.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"
#include "store/PasswordCipher.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"

#include <QFile>
#include <QTest>

MailTestBench::MailTestBench()
{
    QVERIFY(m_dir.isValid());
}

MailTestBench::MailTestBench(const QString &parent)
    : m_dir(parent + QStringLiteral("/bench-XXXXXX"))
{
    QVERIFY(m_dir.isValid());
}

QString MailTestBench::storePath() const
{
    return m_dir.filePath(QStringLiteral("registry.db"));
}

QString MailTestBench::logPath() const
{
    return contract::logPathFor(storePath());
}

void MailTestBench::addAccount(const QByteArray &address, const QByteArray &pop3,
                               const QByteArray &login, const QByteArray &password, bool ssl)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        auto key = access.openOrCreate(QByteArray(store::kAccountsKey) + address);
        key->writeString(store::kPop3, pop3);
        key->writeString(store::kLogin, login);
        key->writeString(store::kPassword, store::EncryptPassword(password));
        key->writeBool(store::kSsl, ssl);
    });
}

void MailTestBench::removeAccount(const QByteArray &address)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        access.openOrCreate(store::kAccountsKey)->deleteKey(address);
    });
}

void MailTestBench::addPattern(const char *listKey, const QByteArray &pattern)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        access.openOrCreate(listKey)->writeString(pattern, QByteArray());
    });
}

void MailTestBench::removePattern(const char *listKey, const QByteArray &pattern)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        access.openOrCreate(listKey)->deleteValue(pattern);
    });
}

void MailTestBench::addAttachment(const QByteArray &pattern)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        access.openOrCreate(QByteArray(store::kAttachmentsKey) + pattern);
    });
}

void MailTestBench::addAttachment(const QByteArray &pattern, qint32 from, qint32 to)
{
    writeQuietly(storePath(), [&](store::Access &access) {
        auto key = access.openOrCreate(QByteArray(store::kAttachmentsKey) + pattern);
        key->writeInteger(store::kSizeFrom, from);
        key->writeInteger(store::kSizeTo, to);
    });
}

mail::CheckReport MailTestBench::check(bool dryRun, int replyTimeoutMs)
{
    mail::MonitorLog log(logPath());
    mail::SeenState seen(mail::seenStatePathFor(storePath()));
    store::SqliteStore::Options options;
    options.readOnly = true;
    store::SqliteStore settings(storePath(), options);
    mail::MailCheck::Options checkOptions;
    checkOptions.dryRun = dryRun;
    checkOptions.connectTimeoutMs = 5000;
    checkOptions.replyTimeoutMs = replyTimeoutMs;
    checkOptions.cancel = &cancel;
    checkOptions.wholeMessageBytes = wholeMessageBytes;
    checkOptions.wholeMessageWaitMs = wholeMessageWaitMs;
    checkOptions.removedCopiesFolder = mail::removedCopiesFolderFor(storePath());
    mail::RemovedRecord record(mail::removedRecordPathFor(storePath()));
    checkOptions.removedRecord = &record;
    return mail::MailCheck(settings, seen, log, checkOptions).run();
}

QString MailTestBench::log() const
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList MailTestBench::newLogLines()
{
    const QString all = log();
    const QString fresh = all.mid(m_logSeen);
    m_logSeen = all.size();
    QStringList lines = fresh.split(u'\n', Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.mid(20); // the time stamp "yyyy-MM-dd HH:mm:ss "
    return lines;
}

QByteArray testMessage(const QString &name)
{
    QFile file(QStringLiteral(MAIL_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test message %s", qPrintable(name));
    return file.readAll();
}
