#include "mail/MonitorLog.h"

#include "mail/SettingsAndSeenState.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace mail {

namespace {

// What could move a terminal's cursor, retitle it, or turn text around when the log is shown.
bool isControl(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString escapedControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            width = 2;
        }
        if (c == u'\r' || c == u'\n')
            out += u' ';
        else if (!isControl(c))
            out += QStringView(text).mid(i, width);
        else if (c < 0x100)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (c < 0x10000)
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
        i += width - 1;
    }
    return out;
}

// Never between the two halves of a surrogate pair.
qsizetype cutPoint(const QString &text, qsizetype length)
{
    return text.at(length - 1).isHighSurrogate() ? length - 1 : length;
}

} // namespace

MonitorLog::MonitorLog(QString path, std::FILE *echo)
    : m_path(std::move(path))
    , m_echo(echo)
{
    if (m_path.isEmpty())
        return;
    // Another user could link the log to a file of their choosing, or swap it between our
    // checks: in such a folder the log is not kept at all.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (const QString reason = unsafeFolderReason(folder); !reason.isEmpty()) {
        m_keepFile = false;
        writeWarning(QStringLiteral("Warning: the log is not kept in %1: %2").arg(folder, reason));
    }
}

void MonitorLog::beginCheck()
{
    std::lock_guard lock(m_mutex);
    m_mayRotate = true;
    m_writeProblem.clear();
}

QString MonitorLog::cleaned(const QString &line) const
{
    QString text = line;
    // Escaping only lengthens the text: what lies past the limit now would be cut anyway.
    bool cut = false;
    if (text.size() > kMaxLineChars) {
        text.truncate(cutPoint(text, kMaxLineChars));
        cut = true;
    }
    text = escapedControls(text);
    if (text.size() > kMaxLineChars) {
        text.truncate(cutPoint(text, kMaxLineChars));
        cut = true;
    }
    if (cut)
        text += QStringLiteral("\u2026[cut]");
    return text;
}

void MonitorLog::write(const QString &line)
{
    const QByteArray text =
        (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "))
         + cleaned(line))
            .toUtf8()
        + '\n';
    std::lock_guard lock(m_mutex);
    if (m_echo) {
        std::fwrite(text.constData(), 1, size_t(text.size()), m_echo);
        std::fflush(m_echo);
    }
    writeFile(text);
}

void MonitorLog::writeWarning(const QString &line)
{
    write(line);
    if (m_echo != stderr) {
        const QByteArray text = cleaned(line).toUtf8() + '\n';
        std::lock_guard lock(m_mutex);
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fflush(stderr);
    }
}

void MonitorLog::writeFile(const QByteArray &text)
{
    if (m_path.isEmpty() || !m_keepFile)
        return;
    const QByteArray file = QFile::encodeName(m_path);
    struct stat info
    {};
    // Once a check at most: a check that writes much never moves its own first lines away.
    // rename() moves a link itself, never what it points to.
    if (m_mayRotate && ::lstat(file.constData(), &info) == 0 && S_ISREG(info.st_mode)
        && info.st_size + text.size() > kRotateBytes) {
        ::rename(file.constData(), (file + ".1").constData());
        m_mayRotate = false;
    }
    // Owner-only like the store: the log names senders and subjects.
    const int fd =
        ::open(file.constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_writeProblem = QStringLiteral("%1: %2").arg(m_path, qt_error_string(errno));
        return;
    }
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const char *data = text.constData();
        qsizetype left = text.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, size_t(left));
            if (written <= 0) {
                m_writeProblem = QStringLiteral("%1: %2").arg(
                    m_path,
                    written < 0 ? qt_error_string(errno) : QStringLiteral("nothing written"));
                break;
            }
            data += written;
            left -= written;
        }
    } else {
        m_writeProblem = QStringLiteral("%1: not a file").arg(m_path);
    }
    ::close(fd);
}

QString MonitorLog::takeWriteProblem()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_writeProblem, QString());
}

} // namespace mail
