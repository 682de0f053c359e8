#include "service/ServiceInstaller.h"

#include "monitor/MonitorNames.h"
#include "monitor/ServiceControl.h"
#include "platform/SystemdServiceManager.h"
#include "service/SystemdUnitFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

namespace service {

namespace {

QByteArray unitName()
{
    return QByteArray(monitor::kServiceName) + ".service";
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
    const QString folder = qEnvironmentVariable("OSTROVE_SYSTEMD_UNIT_DIR");
    return folder.isEmpty() ? QStringLiteral("/etc/systemd/system") : folder;
}

QString ServiceInstaller::unitText(const QString &programPath, const QString &storePath)
{
    QString text = QStringLiteral("[Unit]\n"
                                  "Description=Ostrove mail monitor\n"
                                  "Wants=network-online.target\n"
                                  "After=network-online.target\n"
                                  "\n"
                                  "[Service]\n"
                                  "Type=notify\n"
                                  "ExecStart=%1\n")
                       .arg(commandWordForSystemd(programPath));
    if (!storePath.isEmpty())
        text += QStringLiteral("Environment=%1\n")
                    .arg(quotedForSystemd(QStringLiteral("OSTROVE_REGISTRY=") + storePath));
    text += QStringLiteral("Restart=on-failure\n"
                           "RestartSec=30\n"
                           "TimeoutStopSec=10\n"
                           "NoNewPrivileges=yes\n"
                           "PrivateTmp=yes\n"
                           "\n"
                           "[Install]\n"
                           "WantedBy=multi-user.target\n");
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

bool ServiceInstaller::mayChangeServices()
{
    return ::geteuid() == 0;
}

int ServiceInstaller::install()
{
    if (!mayChangeServices())
        return refuse(QStringLiteral("installing the service needs root rights (try sudo)"));
    if (hasControlCharacter(m_options.programPath))
        return refuse(QStringLiteral("this program's path holds a control character, which a "
                                     "unit file cannot carry; move it"));
    if (hasControlCharacter(m_options.storePath))
        return refuse(QStringLiteral("the settings store's path (OSTROVE_REGISTRY) holds a control "
                                     "character (a line break, say), which a unit file cannot "
                                     "carry; move or rename the store"));
    platform::SystemdServiceManager services;
    SystemdUnitFiles units;
    if (!units.connected() || !services.isServiceCapable())
        return refuse(QStringLiteral("systemd does not answer here: the service cannot be "
                                     "installed"));

    QSaveFile file(unitPath());
    if (!file.open(QIODevice::WriteOnly)
        || file.write(unitText(m_options.programPath, m_options.storePath).toUtf8()) < 0
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
    say(QStringLiteral("Enabled %1; start it with: systemctl start %2")
            .arg(QString::fromLatin1(unitName()), QLatin1String(monitor::kServiceName)));
    return 0;
}

int ServiceInstaller::uninstall()
{
    if (!mayChangeServices())
        return refuse(QStringLiteral("removing the service needs root rights (try sudo)"));
    platform::SystemdServiceManager services;
    SystemdUnitFiles units;
    if (!units.connected() || !services.isServiceCapable())
        return refuse(QStringLiteral("systemd does not answer here: the service cannot be "
                                     "removed"));

    monitor::ServiceControl control(services);
    const quint32 state = control.IsServiceInstalled(monitor::kServiceName)
                              ? control.GetServiceState(monitor::kServiceName)
                              : 0;
    if (state != 0 && state != platform::ServiceManager::kStopped) {
        if (!control.StopServiceAndWait(monitor::kServiceName))
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
