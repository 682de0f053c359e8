#include "mail/Settings.h"

#include "contract/MonitorContract.h"
#include "store/PasswordCipher.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mail {

namespace {

QString nameText(const QByteArray &name)
{
    return QString::fromLocal8Bit(name);
}

// A whole number the monitor reads, kept in its range; absent or damaged: the default.
int readNumber(store::RegistryKey &key, const char *name, int fallback, int lowest, int highest)
{
    if (!key.valueExists(name))
        return fallback;
    try {
        return int(std::clamp<qint64>(key.readInteger(name), lowest, highest));
    } catch (const store::StoreError &) {
        return fallback;
    }
}

QStringList valueNamesOf(store::Access &access, const char *path)
{
    QStringList names;
    for (const QByteArray &name : access.openOrCreate(path)->valueNames())
        names.append(nameText(name));
    return names;
}

AccountSettings readAccount(store::Access &access, const QByteArray &address)
{
    AccountSettings account;
    account.address = address;
    try {
        auto key = access.openOrCreate(store::accountPath(address));
        account.pop3 = key->readString(store::kPop3);
        account.login = key->readString(store::kLogin);
        account.password = store::DecryptPassword(key->readString(store::kPassword));
        account.ssl = key->valueExists(store::kSsl) && key->readBool(store::kSsl);
    } catch (const store::StoreError &) {
        account.problem = QStringLiteral("its settings cannot be read");
    }
    return account;
}

AttachmentPattern readAttachment(store::Access &access, const QByteArray &name)
{
    AttachmentPattern pattern;
    pattern.pattern = nameText(name);
    try {
        auto key = access.openOrCreate(store::attachmentPath(name));
        if (key->valueExists(store::kSizeFrom) && key->valueExists(store::kSizeTo)) {
            pattern.sizeFrom = key->readInteger(store::kSizeFrom);
            pattern.sizeTo = key->readInteger(store::kSizeTo);
            pattern.hasRange = true;
        }
    } catch (const store::StoreError &) {
        // A range that cannot be read is no range; the rules warn about patterns like "*".
        pattern.hasRange = false;
    }
    return pattern;
}

} // namespace

std::optional<MonitorSettings> readMonitorSettings(store::Store &store, QString *error)
{
    try {
        MonitorSettings settings;
        auto access = store.beginAccess();
        auto root = access->openOrCreate(store::kSettingsKey);
        settings.scanEveryMinutes =
            readNumber(*root, store::kScanEvery, contract::kDefaultScanEvery,
                       contract::kMinScanEvery, contract::kMaxScanEvery);
        for (const QByteArray &address : access->openOrCreate(store::kAccountsKey)->subkeyNames())
            settings.accounts.append(readAccount(*access, address));
        settings.senderPatterns = valueNamesOf(*access, store::kMailFilterKey);
        settings.subjectPatterns = valueNamesOf(*access, store::kSubjectFilterKey);
        settings.contentPatterns = valueNamesOf(*access, store::kContentFilterKey);
        for (const QByteArray &name : access->openOrCreate(store::kAttachmentsKey)->subkeyNames())
            settings.attachmentPatterns.append(readAttachment(*access, name));
        settings.allowedSenders = valueNamesOf(*access, store::kAllowFilterKey);
        settings.keepRemovedDays = readNumber(*root, store::kKeepRemovedDays, 30, 0, 3650);
        settings.keepRemovedMegabytes = readNumber(*root, store::kKeepRemovedMB, 200, 0, 1000000);
        settings.autorun = access->openOrCreate(store::kRunKey)->valueExists(store::kAutorunValue);
        access->finish();
        return settings;
    } catch (const store::StoreError &failure) {
        if (error)
            *error = QString::fromLocal8Bit(failure.what());
        return std::nullopt;
    }
}

QString noSettingsStoredIn(const QString &storePath)
{
    return QStringLiteral("no settings are stored in %1 yet: set them up with OstroveConf")
        .arg(storePath);
}

QString settingsProblemSentence(const QString &problem)
{
    // These say all there is to say; any other problem is why the settings cannot be read.
    if (problem.startsWith(u"no settings are stored")
        || problem.startsWith(u"the settings are busy"))
        return problem;
    return QStringLiteral("the settings cannot be read: %1").arg(problem);
}

QString settingsFileProblem(const QString &storePath)
{
    const int fd =
        ::open(QFile::encodeName(storePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(storePath, qt_error_string(errno));
    struct stat info
    {};
    const bool isFile = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!isFile)
        return QStringLiteral("%1: not a file").arg(storePath);
    // The monitor only reads: an empty file is one nobody has stored settings in, never a
    // mailbox-less setup that would pass as checked.
    if (info.st_size == 0)
        return noSettingsStoredIn(storePath);
    return {};
}

} // namespace mail
