#include "TestSystem.h"
#include "platform/ServiceControl.h"

#include <QTest>

using platform::ServiceControl;
using platform::ServiceManager;

class TestServiceControl : public QObject
{
    Q_OBJECT

private:
    FakeServiceManager m_manager;

private slots:
    void init()
    {
        m_manager = FakeServiceManager();
        m_manager.services = {{"OstroveSvc", "Ostrove mail monitor"}};
    }
    void cleanup() { QCOMPARE(m_manager.openHandles, 0); } // every handle was closed

    void installedMeansTheExactServiceName()
    {
        ServiceControl control(m_manager);
        QVERIFY(control.IsServiceInstalled("OstroveSvc"));
        QVERIFY(!control.IsServiceInstalled("ostrovesvc"));
        QVERIFY(!control.IsServiceInstalled("Ostrove mail monitor")); // a display name is not it
        QCOMPARE(m_manager.calls.first(),
                 FakeServiceManager::openManagerCall(ServiceManager::kManagerAllAccess));
    }

    void theEnumerationBufferHoldsWhatFits()
    {
        // A record of 36 bytes plus a four-letter name and an empty display name, each with its
        // zero, takes 42 bytes: the 147,492-byte buffer holds the first 3,511 of them only.
        QList<platform::ServiceEntry> many;
        for (int i = 0; i < 4096; ++i)
            many.append(platform::ServiceEntry{QByteArray::number(1000 + i), {}});
        m_manager.services = many;
        m_manager.services.append(platform::ServiceEntry{"OstroveSvc", {}});
        ServiceControl control(m_manager);
        QVERIFY(!control.IsServiceInstalled("OstroveSvc"));
        m_manager.services.move(m_manager.services.size() - 1, 0);
        QVERIFY(control.IsServiceInstalled("OstroveSvc"));
        QCOMPARE(platform::entriesThatFit(many, ServiceControl::kEnumerationBufferBytes).size(),
                 3511); // 147,492 / 42
    }

    // 3,509 records of 42 bytes leave 114 for the last: its 36-byte record, "OstroveSvc" and a
    // display name of 66 letters, each name with its zero, fill the buffer to its last byte.
    void aServiceThatFillsTheBufferExactlyIsFound()
    {
        QList<platform::ServiceEntry> many;
        for (int i = 0; i < 3509; ++i)
            many.append(platform::ServiceEntry{QByteArray::number(1000 + i), {}});
        m_manager.services = many;
        m_manager.services.append(platform::ServiceEntry{"OstroveSvc", QByteArray(66, 'd')});
        ServiceControl control(m_manager);
        QVERIFY(control.IsServiceInstalled("OstroveSvc"));
        m_manager.services.last().displayName.append('d'); // one byte past the end
        QVERIFY(!control.IsServiceInstalled("OstroveSvc"));
    }

    void failuresToOpenAnswerNo()
    {
        m_manager.managerOpens = false;
        ServiceControl control(m_manager);
        QVERIFY(!control.IsServiceInstalled("OstroveSvc"));
        QCOMPARE(control.GetServiceState("OstroveSvc"), 0u);
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QVERIFY(!control.StopServiceAndWait("OstroveSvc"));
        m_manager.managerOpens = true;
        m_manager.enumerationFails = true;
        QVERIFY(!control.IsServiceInstalled("OstroveSvc"));
        QCOMPARE(control.GetServiceState("NoSuchService"), 0u);
        QVERIFY(!control.StopServiceAndWait("NoSuchService"));
    }

    void startWaitsWhileTheCheckpointRises()
    {
        m_manager.statusScript = {serviceStartPending(1, 100), serviceStartPending(2, 200),
                                  serviceStartPending(2, 300), serviceRunning()};
        ServiceControl control(m_manager);
        QVERIFY(control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.sleeps, (QList<quint32>{100, 200, 300})); // each hint as reported
        QCOMPARE(m_manager.calls.at(1), FakeServiceManager::openServiceCall(
                                            "OstroveSvc", ServiceManager::kServiceQueryStatus
                                                              | ServiceManager::kServiceStart));
    }

    void aDroppingCheckpointEndsTheWait()
    {
        m_manager.statusScript = {serviceStartPending(5, 10), serviceStartPending(3, 10),
                                  serviceRunning()};
        ServiceControl control(m_manager);
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.sleeps.size(), 1);
    }

    void startOfARunningServiceFails()
    {
        m_manager.startSucceeds = false;
        m_manager.statusScript = {serviceRunning()};
        ServiceControl control(m_manager);
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.queries, 0);
    }

    void stopOfAStoppedServiceSucceeds()
    {
        m_manager.stopAnswer = {false, serviceStopped()};
        ServiceControl control(m_manager);
        QVERIFY(control.StopServiceAndWait("OstroveSvc"));
        m_manager.stopAnswer = {false, std::nullopt};
        QVERIFY(!control.StopServiceAndWait("OstroveSvc"));
    }

    void stopWaitsForStopped()
    {
        m_manager.stopAnswer = {true, serviceStopPending(0, 50)};
        m_manager.statusScript = {serviceStopPending(1, 50), serviceStopped()};
        ServiceControl control(m_manager);
        QVERIFY(control.StopServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.calls.at(1), FakeServiceManager::openServiceCall(
                                            "OstroveSvc", ServiceManager::kServiceQueryStatus
                                                              | ServiceManager::kServiceStop));
    }

    // The waits are bounded: a service stuck in a pending state, with a stalled checkpoint or a
    // hint of zero, ends the wait with no in bounded time.
    void aServiceThatNeverLeavesPendingEndsTheWait()
    {
        m_manager.statusScript = {serviceStartPending(7, 1000)};
        ServiceControl control(m_manager, {5000, 600});
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        quint32 slept = 0;
        for (const quint32 pause : std::as_const(m_manager.sleeps))
            slept += pause;
        QCOMPARE(slept, 5000u);
    }

    void aHugeWaitHintIsCutToTheBound()
    {
        m_manager.statusScript = {serviceStartPending(1, 0xFFFFFFFF)};
        ServiceControl control(m_manager, {3000, 600});
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.sleeps, QList<quint32>{3000});
    }

    void aStoppedServiceWithoutHintEndsTheWait()
    {
        m_manager.statusScript = {serviceStopped()};
        ServiceControl control(m_manager, {30000, 50});
        QVERIFY(!control.StartServiceAndWait("OstroveSvc"));
        QCOMPARE(m_manager.sleeps.size(), 50);
    }
};

QTEST_GUILESS_MAIN(TestServiceControl)
#include "tst_servicecontrol.moc"
