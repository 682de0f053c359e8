#include "SystemdMock.h"

#include "platform/SystemdServiceManager.h"

#include <QElapsedTimer>
#include <QTest>

#include <systemd/sd-bus.h>

SystemdMock::SystemdMock() = default;

SystemdMock::~SystemdMock()
{
    for (QProcess *process : {&m_mock, &m_bus}) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
        process->waitForFinished(3000);
    }
}

bool SystemdMock::start(QString *why)
{
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(5000)) {
        *why = QStringLiteral("dbus-daemon is not installed");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!m_bus.canReadLine() && clock.elapsed() < 10000)
        m_bus.waitForReadyRead(100);
    m_address = m_bus.readLine().trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address);

    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                  QStringLiteral("--template"), QStringLiteral("systemd")});
    if (!m_mock.waitForStarted(5000)) {
        *why = QStringLiteral("python3 is not installed");
        return false;
    }
    clock.restart();
    while (!platform::SystemdServiceManager().isServiceCapable()) {
        if (clock.elapsed() > 15000) {
            *why = QStringLiteral("the systemd mock did not answer");
            return false;
        }
        QTest::qWait(50);
    }
    const auto add = [](const char *method, const char *in, const char *out, const char *code) {
        return call("/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
                    [=](sd_bus_message *m) {
                        return sd_bus_message_append(m, "sssss", "org.freedesktop.systemd1.Manager",
                                                     method, in, out, code);
                    });
    };
    const bool ok =
        add("ListUnits", "", "a(ssssssouso)",
            "ret = [(n, 'Ostrove mail monitor', 'loaded', "
            "objects[p].Get('org.freedesktop.systemd1.Unit', 'ActiveState'), 'dead', '', p, 0, "
            "'', '/') for n, p in self.units.items()]")
        && add("ListUnitFiles", "", "a(ss)", "ret = []") && add("Reload", "", "", "")
        && add("EnableUnitFiles", "asbb", "ba(sss)",
               "ret = (False, [('symlink', "
               "'/etc/systemd/system/multi-user.target.wants/' + args[0][0], "
               "'/etc/systemd/system/' + args[0][0])])")
        && add("DisableUnitFiles", "asb", "a(sss)",
               "ret = [('unlink', '/etc/systemd/system/multi-user.target.wants/' + args[0][0], "
               "'')]");
    if (!ok)
        *why = QStringLiteral("the mock would not take the missing methods");
    return ok;
}

bool SystemdMock::call(const char *path, const char *interface, const char *member,
                       const std::function<int(sd_bus_message *)> &arguments)
{
    sd_bus *bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return false;
    sd_bus_message *message = nullptr;
    sd_bus_message *reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const bool ok = sd_bus_message_new_method_call(bus, &message, "org.freedesktop.systemd1", path,
                                                   interface, member)
                        >= 0
                    && arguments(message) >= 0
                    && sd_bus_call(bus, message, 5000000, &error, &reply) >= 0;
    if (!ok)
        qWarning("%s failed: %s", member, error.message ? error.message : "?");
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(message);
    sd_bus_flush_close_unref(bus);
    return ok;
}

QStringList SystemdMock::calls() const
{
    QStringList names;
    sd_bus *bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return names;
    sd_bus_message *reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                           "org.freedesktop.DBus.Mock", "GetCalls", &error, &reply, "")
            >= 0
        && sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(tsav)") >= 0) {
        while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "tsav") > 0) {
            uint64_t stamp = 0;
            const char *method = nullptr;
            sd_bus_message_read(reply, "ts", &stamp, &method);
            names.append(QString::fromUtf8(method));
            sd_bus_message_skip(reply, "av");
            sd_bus_message_exit_container(reply);
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return names;
}

bool SystemdMock::clearCalls()
{
    return call("/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "ClearCalls",
                [](sd_bus_message *) { return 0; });
}
