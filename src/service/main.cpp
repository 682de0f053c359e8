#include "contract/MonitorContract.h"
#include "mail/MailCheck.h"
#include "mail/MonitorLog.h"
#include "mail/SettingsAndSeenState.h"
#include "platform/CoreDumps.h"
#include "platform/LargeAllocations.h"
#include "platform/SystemdBus.h"
#include "service/CommandLine.h"
#include "service/Daemon.h"
#include "service/KeptMail.h"
#include "service/ServiceInstaller.h"
#include "store/SqliteStore.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

namespace {

// Stop requests arrive as SIGTERM (systemd) or SIGINT (a terminal). They are blocked in every
// thread and taken by one thread that waits for them, so no work happens in a signal handler.
sigset_t stopSignals()
{
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGTERM);
    sigaddset(&wanted, SIGINT);
    return wanted;
}

template <typename OnStop>
void watchStopSignals(OnStop onStop)
{
    std::thread([onStop] {
        const sigset_t wanted = stopSignals();
        int signal = 0;
        if (sigwait(&wanted, &signal) == 0)
            onStop();
    }).detach();
}

int checkOnce(bool dryRun)
{
    static std::atomic<bool> stop{false};
    watchStopSignals([] { stop = true; });
    const QString storePath = store::SqliteStore::defaultPath();
    mail::MonitorLog log(contract::logPathFor(storePath), stdout);
    mail::SettingsAndSeenState::warnAboutStore(storePath, log);
    mail::SettingsAndSeenState files(storePath, log);
    mail::MailCheck::Options options;
    options.dryRun = dryRun;
    options.cancel = &stop;
    return files.check(options).succeeded() ? 0 : 1;
}

int runDaemon()
{
    static service::Daemon daemon(store::SqliteStore::defaultPath());
    watchStopSignals([] { daemon.requestStop(); });
    return daemon.run();
}

service::ServiceInstaller installer(bool silent)
{
    service::ServiceInstaller::Options options;
    options.programPath = QCoreApplication::applicationFilePath();
    options.storePath = qEnvironmentVariable("OSTROVE_REGISTRY");
    options.certificateFile = qEnvironmentVariable("SSL_CERT_FILE");
    options.unitFolder = service::ServiceInstaller::defaultUnitFolder();
    options.forUser = !platform::actsOnSystemManager();
    options.silent = silent;
    return service::ServiceInstaller(options);
}

} // namespace

int main(int argc, char *argv[])
{
    platform::forbidCoreDumps(); // before the passwords are read
    platform::returnLargeAllocationsWhenFreed();
    const sigset_t wanted = stopSignals();
    pthread_sigmask(SIG_BLOCK, &wanted, nullptr); // before any thread exists
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);

    const service::CommandLine line =
        service::CommandLine::parse(QCoreApplication::arguments().mid(1));
    switch (line.mode) {
    case service::CommandLine::Mode::Help:
        std::fputs(qPrintable(service::usageText()), stdout);
        return 0;
    case service::CommandLine::Mode::Invalid:
        std::fprintf(stderr, "OstroveService: %s\n\n%s", qPrintable(line.problem),
                     qPrintable(service::usageText()));
        return 2;
    case service::CommandLine::Mode::CheckOnce:
        return checkOnce(line.dryRun);
    case service::CommandLine::Mode::Daemon:
        return runDaemon();
    case service::CommandLine::Mode::Install:
        return installer(line.silent).install();
    case service::CommandLine::Mode::Uninstall:
        return installer(line.silent).uninstall();
    case service::CommandLine::Mode::ListRemoved:
        return service::listRemoved(store::SqliteStore::defaultPath());
    case service::CommandLine::Mode::SaveRemoved:
        return service::saveRemoved(store::SqliteStore::defaultPath(), line.copyId, line.saveFile);
    case service::CommandLine::Mode::ReleaseHeld:
        return service::releaseHeld(store::SqliteStore::defaultPath());
    }
    return 2;
}
