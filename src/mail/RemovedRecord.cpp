#include "mail/RemovedRecord.h"

#include "mail/MailCheck.h"
#include "mail/SettingsAndSeenState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace mail {

namespace {

constexpr char kRecordFile[] = "removed.log";

// The file at `path` only if it is a regular file reached without a link; -1 otherwise.
int openPlain(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written <= 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

QByteArray readAll(int fd)
{
    QByteArray data;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        data.append(buffer, got);
    }
    return data;
}

// Sessions of several accounts end at once, and trimming replaces the file.
std::mutex recordMutex;

QString cutField(const QString &text)
{
    if (text.size() <= RemovedRecord::kMaxFieldChars)
        return text;
    qsizetype length = RemovedRecord::kMaxFieldChars;
    if (text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length) + QChar(0x2026);
}

QByteArray entryLine(const RemovedEntry &entry)
{
    const QJsonObject object{
        {QStringLiteral("at"), entry.at.toString(Qt::ISODate)},
        {QStringLiteral("account"), cutField(entry.account)},
        {QStringLiteral("sender"), cutField(entry.sender)},
        {QStringLiteral("subject"), cutField(entry.subject)},
        {QStringLiteral("size"), entry.size},
        {QStringLiteral("list"), cutField(entry.list)},
        {QStringLiteral("pattern"), cutField(entry.pattern)},
        {QStringLiteral("copy"), entry.copy},
        {QStringLiteral("headerOnly"), entry.headerOnly},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<RemovedEntry> parsedLine(const QByteArray &line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    RemovedEntry entry;
    entry.at = QDateTime::fromString(object.value(QStringLiteral("at")).toString(), Qt::ISODate);
    if (!entry.at.isValid())
        return std::nullopt;
    entry.account = object.value(QStringLiteral("account")).toString();
    entry.sender = object.value(QStringLiteral("sender")).toString();
    entry.subject = object.value(QStringLiteral("subject")).toString();
    entry.size = object.value(QStringLiteral("size")).toInteger();
    entry.list = object.value(QStringLiteral("list")).toString();
    entry.pattern = object.value(QStringLiteral("pattern")).toString();
    entry.copy = object.value(QStringLiteral("copy")).toString();
    entry.headerOnly = object.value(QStringLiteral("headerOnly")).toBool();
    return entry;
}

} // namespace

RemovedRecord::RemovedRecord(QString path)
    : m_path(std::move(path))
{}

bool RemovedRecord::append(const QString &account, const QList<MatchedMessage> &removed,
                           const QDateTime &at)
{
    if (removed.isEmpty())
        return true;
    // As with the log: in a folder others may write, a link could aim our writes anywhere.
    if (!unsafeFolderReason(QFileInfo(m_path).absolutePath()).isEmpty())
        return false;
    QByteArray lines;
    for (const MatchedMessage &message : removed) {
        lines +=
            entryLine({at, account, message.sender, message.subject, message.size,
                       message.rule.list, message.rule.pattern, message.copy, message.headerOnly});
    }
    const std::lock_guard lock(recordMutex);
    const QByteArray file = QFile::encodeName(m_path);
    const int fd = openPlain(file, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, lines);
    struct stat info
    {};
    const qint64 size = ::fstat(fd, &info) == 0 ? info.st_size : 0;
    ::close(fd);
    return written && (size <= kMaxBytes || trim());
}

bool RemovedRecord::trim() const
{
    const QByteArray file = QFile::encodeName(m_path);
    const int in = openPlain(file, O_RDONLY);
    if (in < 0)
        return false;
    const QByteArray data = readAll(in);
    ::close(in);
    // The newest half is kept, from a line's start, so that trimming is rare.
    qsizetype from = data.indexOf('\n', qMax<qsizetype>(0, data.size() - kMaxBytes / 2 - 1));
    from = from < 0 ? data.size() : from + 1;
    const QByteArray fresh = file + ".new";
    ::unlink(fresh.constData()); // a link left there is removed, never followed
    const int out = openPlain(fresh, O_WRONLY | O_CREAT | O_EXCL);
    if (out < 0)
        return false;
    const bool written = writeAll(out, data.mid(from));
    ::close(out);
    if (!written || ::rename(fresh.constData(), file.constData()) != 0) {
        ::unlink(fresh.constData());
        return false;
    }
    return true;
}

QList<RemovedEntry> RemovedRecord::read(int limit) const
{
    QList<RemovedEntry> entries;
    const int fd = openPlain(QFile::encodeName(m_path), O_RDONLY);
    if (fd < 0)
        return entries;
    const QByteArray data = readAll(fd);
    ::close(fd);
    const QList<QByteArray> lines = data.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend() && entries.size() < limit; ++line) {
        if (const std::optional<RemovedEntry> entry = parsedLine(*line))
            entries.append(*entry);
    }
    return entries;
}

QString removedRecordPathFor(const QString &storePath)
{
    return QDir(monitorFolder(storePath)).filePath(QLatin1String(kRecordFile));
}

} // namespace mail
