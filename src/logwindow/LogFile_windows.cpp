#include "logwindow/LogFile.h"

#include <QFile>
#include <QFileInfo>

QByteArray logTail(const QString &path, qint64 maxBytes, bool *cut)
{
    *cut = false;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > maxBytes) {
        file.seek(file.size() - maxBytes);
        *cut = true;
    }
    QByteArray data = file.read(maxBytes);
    // A line begun before the cut is no line to read.
    if (*cut) {
        const qsizetype newline = data.indexOf('\n');
        data.remove(0, newline < 0 ? data.size() : newline + 1);
    }
    return data;
}

bool createLogIfMissing(const QString &path)
{
    if (QFileInfo(path).isFile())
        return true;
    // The program's folder may not be writable; Notepad is handed the path all the same.
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && QFileInfo(path).isFile();
}
