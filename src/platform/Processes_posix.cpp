#include "platform/Processes.h"

#include <QProcess>

namespace platform {

SystemProcesses::SystemProcesses(QString opener)
    : m_opener(std::move(opener))
{}

bool SystemProcesses::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool SystemProcesses::openProgram(const QString &program)
{
    return QProcess::startDetached(program, {});
}

void SystemProcesses::openDocument(const QString &path, QObject *context,
                                   std::function<void(bool opened)> done)
{
    // xdg-open hands the file to the desktop's viewer for text, as Notepad is on Windows. It
    // starts, and then fails, where the desktop has no viewer for text. The opener has no
    // parent: a viewer it still waits on stays open when the program that asked ends.
    auto *opener = new QProcess;
    QObject::connect(opener, &QProcess::errorOccurred, context,
                     [done](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             done(false);
                     });
    QObject::connect(opener, &QProcess::finished, context,
                     [done](int code, QProcess::ExitStatus how) {
                         done(how == QProcess::NormalExit && code == 0);
                     });
    // It goes once it has ended, whether or not anybody still waits for its answer.
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->start(m_opener, {path});
}

} // namespace platform
