#include "mail/MailCheck.h"
#include "mail/MonitorLog.h"
#include "mail/SeenState.h"
#include "service/CommandLine.h"
#include "store/SqliteStore.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> g_stopRequested{false};

void requestStop(int)
{
    g_stopRequested = true;
}

int checkOnce(bool dryRun)
{
    const QString storePath = store::SqliteStore::defaultPath();
    mail::MonitorLog log(mail::logPathFor(storePath), stdout);
    if (const QString warning = mail::storePermissionWarning(storePath); !warning.isEmpty())
        log.write(warning);
    mail::SeenState seen(mail::seenStatePathFor(storePath));
    if (!seen.problem().isEmpty())
        log.write(QStringLiteral("Warning: the record of judged messages cannot be kept (%1); "
                                 "every message is judged again next time")
                      .arg(seen.problem()));
    store::SqliteStore::Options storeOptions;
    storeOptions.readOnly = true; // the monitor never writes the settings
    store::SqliteStore settings(storePath, storeOptions);
    mail::MailCheck::Options options;
    options.dryRun = dryRun;
    options.cancel = &g_stopRequested;
    const mail::CheckReport report = mail::MailCheck(settings, seen, log, options).run();
    return report.allChecked() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    std::signal(SIGPIPE, SIG_IGN);

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
    case service::CommandLine::Mode::Install:
    case service::CommandLine::Mode::Uninstall:
        std::fputs("OstroveService: this mode is not available yet; use --check-once\n", stderr);
        return 2;
    }
    return 2;
}
