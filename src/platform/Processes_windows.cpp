#include "platform/Processes.h"

#include <QDir>
#include <QTimer>

#include <windows.h>

namespace platform {

namespace {

// ShellExecute and WinExec report success as a number above 31.
constexpr quintptr kFirstSuccess = 32;

} // namespace

SystemProcesses::SystemProcesses(QString opener)
    : m_opener(std::move(opener))
{}

bool SystemProcesses::startDetached(const QString &program, const QStringList &arguments)
{
    // One command line, the path unquoted as the service program has always been started; the
    // program runs hidden, since its switches ask nothing of the user.
    QString commandLine = QDir::toNativeSeparators(program);
    for (const QString &argument : arguments)
        commandLine += QLatin1Char(' ') + argument;
    return WinExec(commandLine.toLocal8Bit().constData(), SW_HIDE) >= kFirstSuccess;
}

bool SystemProcesses::openProgram(const QString &program)
{
    const HINSTANCE result =
        ShellExecuteA(nullptr, "open", QDir::toNativeSeparators(program).toLocal8Bit().constData(),
                      nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<quintptr>(result) >= kFirstSuccess;
}

void SystemProcesses::openDocument(const QString &path, QObject *context,
                                   std::function<void(bool opened)> done)
{
    // Notepad with the path as its one parameter, unquoted; whether it starts is not examined,
    // so no other viewer stands in for it.
    ShellExecuteA(nullptr, "open", "Notepad",
                  QDir::toNativeSeparators(path).toLocal8Bit().constData(), "", SW_SHOWNORMAL);
    QTimer::singleShot(0, context, [done] { done(true); });
}

} // namespace platform
