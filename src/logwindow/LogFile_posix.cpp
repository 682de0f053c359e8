#include "logwindow/LogFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray logTail(const QString &path, qint64 maxBytes, bool *cut)
{
    *cut = false;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data;
    struct stat info
    {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (info.st_size > maxBytes) {
            ::lseek(fd, info.st_size - maxBytes, SEEK_SET);
            *cut = true;
        }
        char buffer[65536];
        while (data.size() < maxBytes) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            data.append(buffer, got);
        }
    }
    ::close(fd);
    // A line begun before the cut is no line to read.
    if (*cut) {
        const qsizetype newline = data.indexOf('\n');
        data.remove(0, newline < 0 ? data.size() : newline + 1);
    }
    return data;
}

bool createLogIfMissing(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat info
    {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}
