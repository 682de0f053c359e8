#include "SystemdMock.h"
#include "platform/ServiceControl.h"
#include "platform/SystemdServiceManager.h"

#include <QProcess>
#include <QTest>

#include <systemd/sd-bus.h>
#include <unistd.h>

// The systemd service manager layer against python-dbusmock's systemd template on a private
// bus that this test starts and names as the system bus: for what a real systemd is not put in
// on purpose (a unit pending without a job, no bus at all) and what the container test with a
// real one does not reach. Starting, stopping and installing are proved there.
class TestSystemdServiceManager : public QObject
{
    Q_OBJECT

private:
    QProcess m_bus;
    QProcess m_mock;

    static bool call(const char *path, const char *interface, const char *member,
                     const std::function<int(sd_bus_message *)> &arguments)
    {
        return SystemdMock::call(path, interface, member, arguments);
    }

    // How many times the mock was asked to run a method of the manager.
    static int methodCalls(const char *method)
    {
        sd_bus *bus = nullptr;
        if (sd_bus_open_system(&bus) < 0)
            return -1;
        sd_bus_message *reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int count = -1;
        if (sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                               "org.freedesktop.DBus.Mock", "GetMethodCalls", &error, &reply, "s",
                               method)
                >= 0
            && sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(tav)") >= 0) {
            count = 0;
            while (sd_bus_message_skip(reply, "(tav)") > 0)
                ++count;
        }
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
        return count;
    }

    // The unit's start job, or none with id 0, as systemd shows it while the job waits.
    static bool setUnitJob(quint32 id)
    {
        const QByteArray path =
            id ? "/org/freedesktop/systemd1/job/" + QByteArray::number(id) : QByteArray("/");
        return call("/org/freedesktop/systemd1/unit/OstroveSvc_service",
                    "org.freedesktop.DBus.Properties", "Set", [&](sd_bus_message *m) {
                        return sd_bus_message_append(m, "ssv", "org.freedesktop.systemd1.Unit",
                                                     "Job", "(uo)", id, path.constData());
                    });
    }

    static bool setUnitState(const char *state)
    {
        return call("/org/freedesktop/systemd1/unit/OstroveSvc_service",
                    "org.freedesktop.DBus.Mock", "UpdateProperties", [state](sd_bus_message *m) {
                        return sd_bus_message_append(m, "sa{sv}", "org.freedesktop.systemd1.Unit",
                                                     1, "ActiveState", "s", state);
                    });
    }

private slots:
    void initTestCase()
    {
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_bus.waitForStarted(5000))
            QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                      QStringLiteral("--template"), QStringLiteral("systemd")});
        QVERIFY(m_mock.waitForStarted(5000));
        // The mock is ready once it answers on the bus.
        QTRY_VERIFY_WITH_TIMEOUT(platform::SystemdServiceManager().isServiceCapable(), 15000);

        // The template lacks ListUnits; add it, listing the mock's units as systemd would.
        QVERIFY(call("/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
                     [](sd_bus_message *m) {
                         return sd_bus_message_append(
                             m, "sssss", "org.freedesktop.systemd1.Manager", "ListUnits", "",
                             "a(ssssssouso)",
                             "ret = [(n, 'Ostrove mail monitor', "
                             "objects[p].Get('org.freedesktop.systemd1.Unit', 'LoadState'), "
                             "objects[p].Get('org.freedesktop.systemd1.Unit', 'ActiveState'), "
                             "'dead', '', p, 0, '', '/') for n, p in self.units.items()] + "
                             "[('other.socket', '', 'loaded', 'active', 'running', '', "
                             "'/org/freedesktop/systemd1/unit/other_socket', 0, '', '/'), "
                             "('Ghost.service', 'Ghost.service', 'not-found', 'inactive', 'dead', "
                             "'', '/org/freedesktop/systemd1/unit/Ghost_service', 0, '', '/')]");
                     }));
        // And ListUnitFiles, with a service that is installed but not loaded.
        QVERIFY(call("/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
                     [](sd_bus_message *m) {
                         return sd_bus_message_append(
                             m, "sssss", "org.freedesktop.systemd1.Manager", "ListUnitFiles", "",
                             "a(ss)",
                             "ret = [('/etc/systemd/system/Dormant.service', 'enabled'), "
                             "('/lib/systemd/system/OstroveSvc.service', 'enabled')]");
                     }));
        QVERIFY(call(
            "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMockUnit",
            [](sd_bus_message *m) { return sd_bus_message_append(m, "s", "OstroveSvc.service"); }));
        // As systemd shows a unit without a job.
        QVERIFY(call("/org/freedesktop/systemd1/unit/OstroveSvc_service",
                     "org.freedesktop.DBus.Mock", "AddProperty", [](sd_bus_message *m) {
                         return sd_bus_message_append(m, "ssv", "org.freedesktop.systemd1.Unit",
                                                      "Job", "(uo)", 0u, "/");
                     }));
    }
    void cleanupTestCase()
    {
        m_mock.terminate();
        m_mock.waitForFinished(5000);
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    void listsServiceUnitsWithoutTheirSuffix()
    {
        platform::SystemdServiceManager manager;
        platform::ServiceControl control(manager);
        if (geteuid() != 0)
            QSKIP("full access to the service manager is for administrators");
        QVERIFY(control.IsServiceInstalled("OstroveSvc"));
        QVERIFY(!control.IsServiceInstalled("OstroveSvc.service"));
        QVERIFY(!control.IsServiceInstalled("ostrovesvc"));
        QVERIFY(!control.IsServiceInstalled("other"));
        QVERIFY(control.IsServiceInstalled("Dormant"));
    }

    void mapsTheUnitStates_data()
    {
        QTest::addColumn<QByteArray>("activeState");
        QTest::addColumn<quint32>("state");
        // Active and inactive are proved against a real systemd in the container test.
        QTest::newRow("reloading") << QByteArray("reloading") << 4u;
        QTest::newRow("failed") << QByteArray("failed") << 1u;
        QTest::newRow("activating") << QByteArray("activating") << 2u;
        QTest::newRow("deactivating") << QByteArray("deactivating") << 3u;
    }
    void mapsTheUnitStates()
    {
        QFETCH(QByteArray, activeState);
        QFETCH(quint32, state);
        QVERIFY(setUnitState(activeState.constData()));
        platform::SystemdServiceManager manager;
        const auto handle = manager.openManager(platform::ServiceManager::kManagerConnect);
        QVERIFY(handle);
        const auto service = manager.openService(handle, "OstroveSvc",
                                                 platform::ServiceManager::kServiceQueryStatus);
        QVERIFY(service);
        platform::ServiceStatus status;
        QVERIFY(manager.queryStatus(service, status));
        QCOMPARE(status.currentState, state);
        // While pending, ask again soon; a unit pending without a job makes no progress.
        QCOMPARE(status.waitHint, state == 2 || state == 3 ? 250u : 0u);
        QCOMPARE(status.checkPoint, 0u);
        manager.closeHandle(service);
        manager.closeHandle(handle);
        QVERIFY(setUnitState("inactive"));
    }

    void unitsSystemdCannotFindAreNotInstalled()
    {
        platform::SystemdServiceManager manager;
        platform::ServiceControl control(manager);
        if (geteuid() != 0)
            QSKIP("full access to the service manager is for administrators");
        QVERIFY(control.IsServiceInstalled("OstroveSvc"));
        QVERIFY(!control.IsServiceInstalled("Ghost"));
    }

    void startingARunningServiceFailsAndChangesNothing()
    {
        QVERIFY(setUnitState("active"));
        const int before = methodCalls("StartUnit");
        QVERIFY(before >= 0);
        platform::SystemdServiceManager manager;
        platform::ServiceControl control(manager);
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(methodCalls("StartUnit"), before);
        QCOMPARE(control.GetServiceState("OstroveSvc"), 4u);
        QVERIFY(setUnitState("inactive"));
    }

    void aUnitWhoseStartJobWaitsIsPending()
    {
        QVERIFY(setUnitState("inactive"));
        QVERIFY(setUnitJob(7));
        platform::SystemdServiceManager manager;
        const auto handle = manager.openManager(platform::ServiceManager::kManagerConnect);
        QVERIFY(handle);
        const auto service = manager.openService(handle, "OstroveSvc",
                                                 platform::ServiceManager::kServiceQueryStatus);
        QVERIFY(service);
        platform::ServiceStatus first;
        QVERIFY(manager.queryStatus(service, first));
        platform::ServiceStatus second;
        QVERIFY(manager.queryStatus(service, second));
        manager.closeHandle(service);
        manager.closeHandle(handle);
        QVERIFY(setUnitJob(0));
        QCOMPARE(first.currentState, platform::ServiceManager::kStartPending);
        QVERIFY(first.waitHint > 0);
        QVERIFY(second.checkPoint > first.checkPoint); // the wait goes on while the job is there
    }

    // A unit left pending without a job will not get anywhere: its checkpoint stands still, so
    // a caller waiting on it can tell.
    void aPendingUnitWithoutAJobHasStalled_data()
    {
        QTest::addColumn<QByteArray>("activeState");
        QTest::addColumn<quint32>("state");
        QTest::newRow("activating") << QByteArray("activating") << 2u;
        QTest::newRow("deactivating") << QByteArray("deactivating") << 3u;
    }
    void aPendingUnitWithoutAJobHasStalled()
    {
        QFETCH(QByteArray, activeState);
        QFETCH(quint32, state);
        QVERIFY(setUnitState(activeState.constData()));
        QVERIFY(setUnitJob(0));
        platform::SystemdServiceManager manager;
        const auto handle = manager.openManager(platform::ServiceManager::kManagerConnect);
        QVERIFY(handle);
        const auto service = manager.openService(handle, "OstroveSvc",
                                                 platform::ServiceManager::kServiceQueryStatus);
        QVERIFY(service);
        QList<platform::ServiceStatus> seen(3);
        for (platform::ServiceStatus &status : seen)
            QVERIFY(manager.queryStatus(service, status));
        // The same unit with its job back moves on again.
        QVERIFY(setUnitJob(9));
        platform::ServiceStatus moving;
        QVERIFY(manager.queryStatus(service, moving));
        manager.closeHandle(service);
        manager.closeHandle(handle);
        QVERIFY(setUnitJob(0));
        QVERIFY(setUnitState("inactive"));
        for (const platform::ServiceStatus &status : std::as_const(seen)) {
            QCOMPARE(status.currentState, state);
            QCOMPARE(status.waitHint, 250u);
            QCOMPARE(status.checkPoint, seen.first().checkPoint);
        }
        QVERIFY(moving.checkPoint > seen.first().checkPoint);
    }

    // systemd answers for a unit it has no file for, as loaded "not-found"; that is no service.
    void aUnitSystemdCannotFindIsNotOpened()
    {
        QVERIFY(call(
            "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMockUnit",
            [](sd_bus_message *m) { return sd_bus_message_append(m, "s", "Vanished.service"); }));
        QVERIFY(call("/org/freedesktop/systemd1/unit/Vanished_service", "org.freedesktop.DBus.Mock",
                     "UpdateProperties", [](sd_bus_message *m) {
                         return sd_bus_message_append(m, "sa{sv}", "org.freedesktop.systemd1.Unit",
                                                      1, "LoadState", "s", "not-found");
                     }));
        platform::SystemdServiceManager manager;
        const auto handle = manager.openManager(platform::ServiceManager::kManagerConnect);
        QVERIFY(handle);
        QCOMPARE(
            manager.openService(handle, "Vanished", platform::ServiceManager::kServiceQueryStatus),
            0u);
        manager.closeHandle(handle);
        const int starts = methodCalls("StartUnit");
        platform::ServiceControl control(manager);
        QCOMPARE(control.GetServiceState("Vanished"), 0u);
        QVERIFY(!control.StartServiceAndWait("Vanished"));
        QCOMPARE(methodCalls("StartUnit"), starts);
        if (geteuid() == 0)
            QVERIFY(!control.IsServiceInstalled("Vanished"));
    }

    // Entries go into the caller's buffer whole; one that ends on its last byte still fits.
    void theLastEntryMayFillTheBufferExactly()
    {
        platform::SystemdServiceManager manager;
        const auto handle = manager.openManager(platform::ServiceManager::kManagerConnect);
        QVERIFY(handle);
        const auto names = [&](qsizetype bufferBytes) {
            QList<QByteArray> listed;
            const auto entries =
                manager.enumerateServices(handle, platform::ServiceManager::kServiceWin32,
                                          platform::ServiceManager::kServiceStateAll, bufferBytes);
            for (const platform::ServiceEntry &entry :
                 entries.value_or(QList<platform::ServiceEntry>{}))
                listed.append(entry.name);
            return listed;
        };
        const auto all =
            manager.enumerateServices(handle, platform::ServiceManager::kServiceWin32,
                                      platform::ServiceManager::kServiceStateAll, 1 << 20);
        QVERIFY(all);
        QVERIFY(all->size() >= 2);
        // A 36-byte record per entry, then its two names with their zeros.
        qsizetype bytes = 0;
        for (const platform::ServiceEntry &entry : *all)
            bytes += 36 + entry.name.size() + 1 + entry.displayName.size() + 1;
        const QList<QByteArray> everything = names(1 << 20);
        QCOMPARE(names(bytes), everything);
        QCOMPARE(names(bytes - 1), everything.first(everything.size() - 1));
        manager.closeHandle(handle);
    }

    void anUnknownServiceHasNoState()
    {
        platform::SystemdServiceManager manager;
        platform::ServiceControl control(manager);
        QCOMPARE(control.GetServiceState("NoSuchService"), 0u);
        QVERIFY(!control.StartServiceAndWait("NoSuchService"));
        QVERIFY(!control.StopServiceAndWait("NoSuchService"));
    }

    void withoutABusNothingIsCapable()
    {
        const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        platform::SystemdServiceManager manager;
        QVERIFY(!manager.isServiceCapable());
        QCOMPARE(manager.openManager(platform::ServiceManager::kManagerConnect), 0u);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    }
};

QTEST_GUILESS_MAIN(TestSystemdServiceManager)
#include "tst_systemdservicemanager.moc"
