#include "monitor/MonitorNames.h"
#include "monitor/ServiceControl.h"
#include "platform/ScmServiceManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <windows.h>

// The service buttons' calls against the real service control manager (Wine's), with a service
// of the tests' own installed as OstroveSvc: one that runs, one that fails to start, one that
// hangs while starting.
class TestScmServiceManager : public QObject
{
    Q_OBJECT

private:
    static constexpr quint32 kWaitLimitMs = 1500;

    // Installs the test service as OstroveSvc, behaving as `mode` says; false when it could not.
    static bool install(const QByteArray &mode)
    {
        const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!manager)
            return false;
        const QByteArray program = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()
                                                            + QStringLiteral("/test_service.exe"))
                                       .toLocal8Bit();
        const QByteArray commandLine = '"' + program + "\" " + mode;
        const SC_HANDLE service = CreateServiceA(
            manager, monitor::kServiceName, "Ostrove test service", SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
            commandLine.constData(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }

    // Ends whatever the service's process is doing and removes the service.
    static void uninstall()
    {
        const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        const SC_HANDLE service = OpenServiceA(manager, monitor::kServiceName, SERVICE_ALL_ACCESS);
        if (service) {
            SERVICE_STATUS_PROCESS status{};
            DWORD needed = 0;
            if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE *>(&status), sizeof status, &needed)
                && status.dwProcessId != 0) {
                if (const HANDLE process =
                        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId)) {
                    TerminateProcess(process, 1);
                    WaitForSingleObject(process, 5000);
                    CloseHandle(process);
                }
            }
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }

private slots:
    void cleanup() { uninstall(); }

    void startAndStopWaitForTheService_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("started");
        QTest::addColumn<quint32>("stateAfterStart");
        QTest::newRow("runs") << QByteArray("good") << true << quint32(SERVICE_RUNNING);
        QTest::newRow("fails to start") << QByteArray("fails") << false << quint32(SERVICE_STOPPED);
        QTest::newRow("hangs while starting")
            << QByteArray("hangs") << false << quint32(SERVICE_START_PENDING);
    }

    void startAndStopWaitForTheService()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, started);
        QFETCH(quint32, stateAfterStart);
        platform::ScmServiceManager manager;
        monitor::ServiceControl control(manager, {kWaitLimitMs, 600});

        QVERIFY(!control.IsServiceInstalled(monitor::kServiceName));
        QCOMPARE(control.GetServiceState(monitor::kServiceName), 0u);
        QVERIFY(install(mode));
        QVERIFY(control.IsServiceInstalled(monitor::kServiceName));
        // The manager finds services without regard to case; the check compares exactly.
        QVERIFY(!control.IsServiceInstalled("ostrovesvc"));
        QCOMPARE(control.GetServiceState(monitor::kServiceName), quint32(SERVICE_STOPPED));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(control.StartServiceAndWait(monitor::kServiceName), started);
        // However the service behaves, the wait ends within its bound (and Wine's start-up).
        QVERIFY2(clock.elapsed() < kWaitLimitMs + 5000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(control.GetServiceState(monitor::kServiceName), stateAfterStart);
        if (!started)
            return;

        QVERIFY(!control.StartServiceAndWait(monitor::kServiceName)); // already running
        QVERIFY(control.StopServiceAndWait(monitor::kServiceName));
        QCOMPARE(control.GetServiceState(monitor::kServiceName), quint32(SERVICE_STOPPED));
        // Stopping a stopped service is refused, with the status saying it is stopped.
        QVERIFY(control.StopServiceAndWait(monitor::kServiceName));
    }
};

QTEST_GUILESS_MAIN(TestScmServiceManager)
#include "tst_scmservicemanager.moc"
