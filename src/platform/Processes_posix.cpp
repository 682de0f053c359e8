#include "platform/Processes.h"

#include <QProcess>

namespace platform {

bool SystemProcesses::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool SystemProcesses::openProgram(const QString &program)
{
    return QProcess::startDetached(program, {});
}

bool SystemProcesses::openDocument(const QString &path)
{
    // xdg-open hands the file to the desktop's viewer for text, as Notepad is on Windows.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

} // namespace platform
