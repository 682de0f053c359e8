#include "service/ServiceInstaller.h"

#include "contract/MonitorContract.h"
#include "platform/ServiceControl.h"
#include "platform/SystemdBus.h"
#include "platform/SystemdServiceManager.h"
#include "service/SystemdUnitFiles.h"
#include "store/SqliteStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

namespace service {

namespace {

QByteArray unitName()
{
    return QByteArray(contract::kServiceName) + ".service";
}

// A value in double quotes as systemd reads a unit file: C escapes, and % starts a specifier.
QString quotedForSystemd(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', QLatin1String("\\\\"))
        .replace(u'"', QLatin1String("\\\""))
        .replace(u'%', QLatin1String("%%"));
    return u'"' + escaped + u'"';
}

// A word of ExecStart=, where $ also starts a variable.
QString commandWordForSystemd(const QString &text)
{
    return quotedForSystemd(text).replace(u'$', QLatin1String("$$"));
}

// A unit file is read line by line: a line break in a value would start a setting of the
// value's choosing. Other control characters have no business in a path either.
bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator
               || c == QChar::ParagraphSeparator;
    });
}

} // namespace

ServiceInstaller::ServiceInstaller(Options options, std::FILE *out)
    : m_options(std::move(options))
    , m_out(out)
{}

QString ServiceInstaller::defaultUnitFolder()
{
    QString folder = qEnvironmentVariable("OSTROVE_SYSTEMD_UNIT_DIR");
    if (!folder.isEmpty())
        return folder;
    if (platform::actsOnSystemManager())
        return QStringLiteral("/etc/systemd/system");
    // A user's own units, which their own manager runs.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/systemd/user");
}

QString ServiceInstaller::unitText(const QString &programPath, const QString &storePath,
                                   bool forUser, const QString &certificateFile)
{
    QString text = QStringLiteral("[Unit]\n"
                                  "Description=Ostrove mail monitor\n");
    // Once the program is gone (its package removed) the unit is skipped, not failed and
    // restarted for ever. A condition's path is taken as written: no quotes, only % escaped.
    text += QStringLiteral("ConditionFileIsExecutable=%1\n")
                .arg(QString(programPath).replace(u'%', QLatin1String("%%")));
    // A user's manager has no network target of its own to wait for.
    if (!forUser)
        text += QStringLiteral("Wants=network-online.target\n"
                               "After=network-online.target\n");
    text += QStringLiteral("\n"
                           "[Service]\n"
                           "Type=notify\n"
                           "ExecStart=%1\n")
                .arg(commandWordForSystemd(programPath));
    if (!storePath.isEmpty())
        text += QStringLiteral("Environment=%1\n")
                    .arg(quotedForSystemd(QStringLiteral("OSTROVE_REGISTRY=") + storePath));
    if (!certificateFile.isEmpty())
        text += QStringLiteral("Environment=%1\n")
                    .arg(quotedForSystemd(QStringLiteral("SSL_CERT_FILE=") + certificateFile));
    text += QStringLiteral("Restart=on-failure\n"
                           "RestartSec=30\n"
                           "TimeoutStopSec=10\n"
                           "NoNewPrivileges=yes\n"
                           "PrivateTmp=yes\n"
                           "UMask=0077\n");
    if (!forUser)
        text += confinement(storePath);
    text +=
        QStringLiteral("\n"
                       "[Install]\n"
                       "WantedBy=%1\n")
            .arg(forUser ? QStringLiteral("default.target") : QStringLiteral("multi-user.target"));
    return text;
}

QString ServiceInstaller::confinement(const QString &storePath)
{
    // The machine's monitor runs as root: it may read and write its store's folder and reach
    // mail servers, and nothing else. A check needs no device, no kernel setting, no other
    // user's files, no privilege beyond the owner's rights to its own files.
    QString text = QStringLiteral("ProtectSystem=strict\n");
    const QString folder =
        QFileInfo(storePath.isEmpty() ? store::SqliteStore::defaultPath(true) : storePath)
            .absolutePath();
    const bool underHome =
        folder.startsWith(QLatin1String("/home/")) || folder.startsWith(QLatin1String("/root/"))
        || folder == QLatin1String("/root") || folder.startsWith(QLatin1String("/run/user/"));
    if (storePath.isEmpty())
        text += QStringLiteral("StateDirectory=ostrove\nStateDirectoryMode=0700\n");
    else
        text += QStringLiteral("ReadWritePaths=%1\n").arg(quotedForSystemd(folder));
    text += QStringLiteral("ProtectHome=%1\n")
                .arg(underHome ? QStringLiteral("read-only") : QStringLiteral("yes"));
    text += QStringLiteral("PrivateDevices=yes\n"
                           "PrivateIPC=yes\n"
                           "ProtectKernelTunables=yes\n"
                           "ProtectKernelModules=yes\n"
                           "ProtectKernelLogs=yes\n"
                           "ProtectControlGroups=yes\n"
                           "ProtectClock=yes\n"
                           "ProtectHostname=yes\n"
                           "ProtectProc=invisible\n"
                           "ProcSubset=pid\n"
                           "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
                           "RestrictNamespaces=yes\n"
                           "RestrictRealtime=yes\n"
                           "RestrictSUIDSGID=yes\n"
                           "LockPersonality=yes\n"
                           "MemoryDenyWriteExecute=yes\n"
                           "RemoveIPC=yes\n"
                           "CapabilityBoundingSet=\n"
                           "AmbientCapabilities=\n"
                           "SystemCallArchitectures=native\n"
                           "SystemCallFilter=@system-service\n"
                           "SystemCallFilter=~@privileged @resources\n"
                           "SystemCallErrorNumber=EPERM\n"
                           "DevicePolicy=closed\n");
    return text;
}

QString ServiceInstaller::unitPath() const
{
    return QDir(m_options.unitFolder).filePath(QString::fromLatin1(unitName()));
}

void ServiceInstaller::say(const QString &line)
{
    if (!m_options.silent && m_out)
        std::fprintf(m_out, "%s\n", qPrintable(line));
}

int ServiceInstaller::refuse(const QString &why)
{
    std::fprintf(stderr, "OstroveService: %s\n", qPrintable(why));
    return 1;
}

int ServiceInstaller::install()
{
    if (hasControlCharacter(m_options.programPath))
        return refuse(QStringLiteral("this program's path holds a control character, which a "
                                     "unit file cannot carry; move it"));
    if (hasControlCharacter(m_options.certificateFile))
        return refuse(QStringLiteral("the certificate file's path (SSL_CERT_FILE) holds a control "
                                     "character, which a unit file cannot carry; move it"));
    if (hasControlCharacter(m_options.storePath))
        return refuse(QStringLiteral("the settings store's path (OSTROVE_REGISTRY) holds a control "
                                     "character (a line break, say), which a unit file cannot "
                                     "carry; move or rename the store"));
    platform::SystemdServiceManager services;
    SystemdUnitFiles units;
    // The same words as the configuration page's, which says why its buttons are off.
    if (!units.connected() || !services.isServiceCapable())
        return refuse(services.unavailableReason());
    if (!QDir().mkpath(m_options.unitFolder))
        return refuse(QStringLiteral("cannot make the folder %1").arg(m_options.unitFolder));

    QSaveFile file(unitPath());
    if (!file.open(QIODevice::WriteOnly)
        || file.write(unitText(m_options.programPath, m_options.storePath, m_options.forUser,
                               m_options.certificateFile)
                          .toUtf8())
               < 0
        || !file.commit()) {
        return refuse(QStringLiteral("cannot write %1: %2").arg(unitPath(), file.errorString()));
    }
    QFile::setPermissions(unitPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                          | QFile::ReadOther);
    say(QStringLiteral("Wrote %1").arg(unitPath()));

    QString error;
    if (!units.reload(&error))
        return refuse(QStringLiteral("systemd could not reload its units: %1").arg(error));
    say(QStringLiteral("Reloaded systemd"));
    if (!units.enable(unitName(), &error))
        return refuse(QStringLiteral("systemd could not enable %1: %2")
                          .arg(QString::fromLatin1(unitName()), error));
    say(QStringLiteral("Enabled %1; start it with: systemctl %2start %3")
            .arg(QString::fromLatin1(unitName()),
                 m_options.forUser ? QStringLiteral("--user ") : QString(),
                 QLatin1String(contract::kServiceName)));
    return 0;
}

int ServiceInstaller::uninstall()
{
    platform::SystemdServiceManager services;
    SystemdUnitFiles units;
    if (!units.connected() || !services.isServiceCapable())
        return refuse(services.unavailableReason());

    platform::ServiceControl control(services);
    const quint32 state = control.IsServiceInstalled(contract::kServiceName)
                              ? control.GetServiceState(contract::kServiceName)
                              : 0;
    if (state != 0 && state != platform::ServiceManager::kStopped) {
        if (!control.StopServiceAndWait(contract::kServiceName))
            return refuse(QStringLiteral("the service did not stop"));
        say(QStringLiteral("Stopped %1").arg(QString::fromLatin1(unitName())));
    }
    QString error;
    if (!units.disable(unitName(), &error))
        return refuse(QStringLiteral("systemd could not disable %1: %2")
                          .arg(QString::fromLatin1(unitName()), error));
    say(QStringLiteral("Disabled %1").arg(QString::fromLatin1(unitName())));
    if (QFile::exists(unitPath())) {
        if (!QFile::remove(unitPath()))
            return refuse(QStringLiteral("cannot remove %1").arg(unitPath()));
        say(QStringLiteral("Removed %1").arg(unitPath()));
    }
    if (!units.reload(&error))
        return refuse(QStringLiteral("systemd could not reload its units: %1").arg(error));
    say(QStringLiteral("Reloaded systemd"));
    return 0;
}

} // namespace service
