#include "contract/MonitorContract.h"
#include "mail/MailCheck.h"
#include "mail/MonitorLog.h"
#include "platform/CoreDumps.h"
#include "platform/LargeAllocations.h"
#include "store/SqliteStore.h"
#include "tray/Autostart.h"
#include "tray/SingleInstance.h"
#include "tray/StopSignals.h"
#include "tray/TrayProgram.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    platform::forbidCoreDumps(); // before the passwords are read
    platform::returnLargeAllocationsWhenFreed();
    // The standard streams are those of whoever started it, such as the configuration program
    // that has ended since: a message to a closed pipe must not end the monitor, and Qt writes
    // its first ones while the application is built.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString storePath = store::SqliteStore::defaultPath();

    // Decided before any window or connection exists: most logins end here when the tick is off.
    if (tray::startedByDesktopSession(arguments)) {
        store::SqliteStore::Options options;
        options.readOnly = true;
        store::SqliteStore settings(storePath, options);
        if (!tray::autorunIsStored(settings))
            return 0;
    }

    QApplication application(argc, argv);
    // Qt titles its hidden client-leader window with the application's name; only our own
    // window may carry the title the configuration page looks for.
    QApplication::setApplicationName(QStringLiteral("ostrove-tray"));
    QApplication::setQuitOnLastWindowClosed(false); // the preview closes, the program goes on

    tray::SingleInstance instance(storePath);
    if (instance.askRunningToCheck())
        return 0;
    mail::MonitorLog log(contract::logPathFor(storePath));
    if (!instance.listen())
        log.write(QStringLiteral("Warning: a second tray program for this store cannot be "
                                 "detected (local socket %1)")
                      .arg(instance.serverName()));

    tray::TrayProgram program(storePath, log, instance);
    tray::StopSignals stopSignals;
    QObject::connect(&stopSignals, &tray::StopSignals::stopRequested, &program,
                     &tray::TrayProgram::quit);
    program.start();
    return QApplication::exec();
}
