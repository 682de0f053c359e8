#include "mail/MonitorLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace mail {

MonitorLog::MonitorLog(QString path, std::FILE *echo)
    : m_path(std::move(path))
    , m_echo(echo)
{}

void MonitorLog::write(const QString &line)
{
    QString oneLine = line;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray text =
        (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + oneLine)
            .toUtf8()
        + '\n';
    std::lock_guard lock(m_mutex);
    if (m_echo) {
        std::fwrite(text.constData(), 1, size_t(text.size()), m_echo);
        std::fflush(m_echo);
    }
    if (m_path.isEmpty())
        return;
    if (QFileInfo(m_path).size() + text.size() > kRotateBytes) {
        const QString previous = m_path + QLatin1String(".1");
        QFile::remove(previous);
        QFile::rename(m_path, previous);
    }
    QFile file(m_path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(text);
}

} // namespace mail
