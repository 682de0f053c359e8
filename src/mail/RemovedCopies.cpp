#include "mail/RemovedCopies.h"

#include "mail/MailCheck.h"
#include "mail/SettingsAndSeenState.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mail {

namespace {

constexpr char kSuffix[] = ".eml";

// Sessions of several accounts keep copies at once, and expiry removes them.
std::mutex copiesMutex;

QString errorText()
{
    return qt_error_string(errno);
}

// What an id may be: the names this class gives, nothing that leads out of the folder.
bool isCopyId(const QString &id)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]{8}-[0-9]{6}-[0-9a-f]{8}$"));
    return shape.match(id).hasMatch();
}

} // namespace

RemovedCopies::RemovedCopies(QString folder, int keepDays, qint64 keepBytes)
    : m_folder(std::move(folder))
    , m_keepDays(std::max(0, keepDays))
    , m_keepBytes(std::max<qint64>(0, keepBytes))
{}

bool RemovedCopies::prepareFolder(QString *error)
{
    if (m_folderReady)
        return true;
    const QByteArray folder = QFile::encodeName(m_folder);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(m_folder, errorText());
        return false;
    }
    struct stat info
    {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("%1: not a folder").arg(m_folder);
        return false;
    }
    // The copies hold whole messages: a folder others may enter or write is refused.
    if (info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        *error = QStringLiteral("%1: others than its owner may use the folder").arg(m_folder);
        return false;
    }
    m_folderReady = true;
    return true;
}

QString RemovedCopies::keep(const QByteArray &text, QString *error)
{
    const std::lock_guard lock(copiesMutex);
    if (!prepareFolder(error))
        return {};
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Within a second, copies of one program sort in the order they were kept.
        static std::atomic<quint32> sequence{QRandomGenerator::global()->generate() & 0x0fffffff};
        QString id = QStringLiteral("%1-%2").arg(stamp).arg(sequence++, 8, 16, QLatin1Char('0'));
        const QByteArray path = QFile::encodeName(m_folder + u'/' + id + QLatin1String(kSuffix));
        const int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *error = QStringLiteral("%1: %2").arg(m_folder, errorText());
            return {};
        }
        const char *next = text.constData();
        qsizetype left = text.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, next, size_t(left));
            if (written <= 0)
                break;
            next += written;
            left -= written;
        }
        const int writeErrno = errno;
        // Made durable with the others by sync(), before anything is removed.
        if (left > 0 || ::close(fd) != 0) {
            *error = QStringLiteral("%1: %2").arg(m_folder,
                                                  qt_error_string(left > 0 ? writeErrno : errno));
            if (left > 0)
                ::close(fd);
            ::unlink(path.constData());
            return {};
        }
        return id;
    }
    *error = QStringLiteral("%1: no free name").arg(m_folder);
    return {};
}

bool RemovedCopies::sync(const QStringList &ids, QString *error)
{
    // Synced side by side: the file system commits syncs that wait together at once, where one
    // after another each costs a commit (0.3 ms each: 0.15 s for 500, against 0.04 s).
    constexpr qsizetype kAtOnce = 8;
    std::atomic<bool> failed{false};
    std::atomic<int> failure{0};
    const auto syncShare = [&](qsizetype first) {
        for (qsizetype i = first; i < ids.size(); i += kAtOnce) {
            const QByteArray path =
                QFile::encodeName(m_folder + u'/' + ids[i] + QLatin1String(kSuffix));
            const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 || ::fdatasync(fd) != 0) {
                failure = errno;
                failed = true;
            }
            if (fd >= 0)
                ::close(fd);
        }
    };
    std::vector<std::thread> threads;
    for (qsizetype first = 1; first < std::min(kAtOnce, ids.size()); ++first)
        threads.emplace_back(syncShare, first);
    syncShare(0);
    for (std::thread &thread : threads)
        thread.join();
    // And their names, in the folder.
    const int fd =
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (failed || fd < 0 || ::fsync(fd) != 0) {
        *error = QStringLiteral("%1: %2").arg(m_folder,
                                              qt_error_string(failed ? failure.load() : errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

void RemovedCopies::discard(const QString &id)
{
    if (isCopyId(id))
        ::unlink(QFile::encodeName(m_folder + u'/' + id + QLatin1String(kSuffix)).constData());
}

void RemovedCopies::expire(const QDateTime &now)
{
    const std::lock_guard lock(copiesMutex);
    QDir folder(m_folder);
    if (!folder.exists())
        return;
    // Names begin with the time kept: past the days kept go, then the oldest until it fits.
    const QString oldest = now.addDays(-m_keepDays).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    qint64 total = 0;
    QFileInfoList left;
    for (const QFileInfo &file : folder.entryInfoList(
             {QStringLiteral("*") + QLatin1String(kSuffix)}, QDir::Files | QDir::NoSymLinks)) {
        if (file.fileName() < oldest && QFile::remove(file.filePath()))
            continue;
        total += file.size();
        left.append(file);
    }
    std::sort(left.begin(), left.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    for (const QFileInfo &file : std::as_const(left)) {
        if (total <= m_keepBytes)
            break;
        if (QFile::remove(file.filePath()))
            total -= file.size();
    }
}

QString RemovedCopies::pathOf(const QString &id) const
{
    if (!isCopyId(id))
        return {};
    const QString path = m_folder + u'/' + id + QLatin1String(kSuffix);
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() ? path : QString();
}

QString removedCopiesFolderFor(const QString &storePath)
{
    return QDir(monitorFolder(storePath)).filePath(QStringLiteral("removed"));
}

} // namespace mail
