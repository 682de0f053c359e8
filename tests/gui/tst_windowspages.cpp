#include "RecordingPrompts.h"
#include "StoreUnderTest.h"
#include "accounts/AccountsPage.h"
#include "accounts/Form_AddEditAccount.h"
#include "configuration/ConfigurationPage.h"
#include "contract/MonitorContract.h"
#include "platform/Processes.h"
#include "platform/ScmServiceManager.h"
#include "platform/ServiceControl.h"
#include "platform/System.h"
#include "platform/Win32Windows.h"
#include "store/RegistryPaths.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

// The pages on Windows with the system's real parts: the registry, WinExec and the shell, the
// service control manager and FindWindow, with the tests' own service program (which can also
// fail or hang while starting) and tray program in the program folder under the monitor's names. Wine reports Windows 2000 to this test (set by
// ctest), where the service can be installed from the page.
class TestWindowsPages : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    StoreUnderTest m_store;
    RecordingPrompts m_prompts;
    platform::SystemProcesses m_processes;
    platform::Win32Windows m_windows;
    platform::ScmServiceManager m_services;
    std::function<void(QDialog &)> m_dialogStep;
    std::unique_ptr<platform::System> m_system;

    // Runs the service program in the program folder with its switches, as the page does.
    bool runServiceProgram(const QStringList &arguments)
    {
        return QProcess::execute(contract::serviceProgramPath(m_system->programFolder), arguments)
               == 0;
    }

    void installProgram(const char *built, const char *name)
    {
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                + QLatin1String(built),
                            contract::besideProgram(m_system->programFolder, name)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_system.reset(new platform::System{m_store.store(), m_prompts, m_processes, m_windows,
                                            m_services, QDir::toNativeSeparators(m_folder.path()),
                                            [this](QDialog &dialog) {
                                                dialog.show();
                                                if (m_dialogStep)
                                                    m_dialogStep(dialog);
                                                return dialog.result();
                                            },
                                            m_folder.filePath(QStringLiteral("OstroveConf.exe"))});
        installProgram("test_service.exe", contract::kServiceProgram);
        installProgram("fake_tray.exe", contract::kTrayProgram);
    }

    void cleanup() { QVERIFY2(m_prompts.shown.isEmpty(), qPrintable(m_prompts.texts().join('|'))); }

    void anAccountAddedOnThePageIsInTheRegistry()
    {
        QAction add(QStringLiteral("&Add"));
        QAction edit(QStringLiteral("&Edit"));
        QAction remove(QStringLiteral("&Remove"));
        AccountsPage page(*m_system, {&add, &edit, &remove});
        page.show();
        page.tsAccountsShow();
        m_dialogStep = [](QDialog &dialog) {
            auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
            QTest::keyClicks(account.edEmail, QStringLiteral("ewa@example.org"));
            account.edPop3->clear();
            QTest::keyClicks(account.edPop3, QStringLiteral("pop.example.org"));
            account.edLogin->clear();
            QTest::keyClicks(account.edLogin, QStringLiteral("ewa"));
            QTest::keyClicks(account.edPassword, QStringLiteral("secret"));
            account.btnOK->click();
        };
        page.acAddAccountExecute();
        m_dialogStep = nullptr;
        const QByteArray account = store::accountPath("ewa@example.org");
        QCOMPARE(m_store.value(account, store::kPop3)->data, QByteArray("pop.example.org\0", 16));
        QCOMPARE(m_store.value(account, store::kLogin)->data, QByteArray("ewa\0", 4));
        QVERIFY(m_store.value(account, store::kPassword)->data != QByteArray("secret\0", 7));
    }

    void theServiceIsInstalledStartedStoppedAndRemovedFromThePage()
    {
        ConfigurationPage page(*m_system);
        page.show();
        page.tsConfigurationShow();
        page.rgService->setChecked(true);
        page.rgServiceClick();
        platform::ServiceControl control(m_services);
        QVERIFY(!control.IsServiceInstalled(contract::kServiceName));
        QVERIFY(page.btnInstallService->isEnabled());

        page.btnInstallServiceClick(); // WinExec, not awaited
        QTRY_VERIFY_WITH_TIMEOUT(control.IsServiceInstalled(contract::kServiceName), 15000);
        page.rgServiceClick();
        QVERIFY(page.btnStartService->isEnabled());
        QVERIFY(!page.btnStopService->isEnabled());

        page.btnStartServiceClick();
        QCOMPARE(control.GetServiceState(contract::kServiceName), 4u);
        QVERIFY(!control.StartServiceAndWait(contract::kServiceName)); // already running
        page.rgServiceClick();
        QVERIFY(page.btnStopService->isEnabled());
        page.btnStopServiceClick();
        QCOMPARE(control.GetServiceState(contract::kServiceName), 1u);
        // Stopping a stopped service is refused, with the status saying it is stopped.
        QVERIFY(control.StopServiceAndWait(contract::kServiceName));

        page.rgServiceClick();
        QVERIFY(page.btnUninstallService->isEnabled());
        page.btnUninstallServiceClick();
        QTRY_VERIFY_WITH_TIMEOUT(!control.IsServiceInstalled(contract::kServiceName), 15000);
    }

    // However a service behaves while it starts, the page's wait ends, and within its bound.
    void aServiceThatFailsOrHangsEndsTheStartWait_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<quint32>("stateAfterStart");
        QTest::newRow("fails to start") << QStringLiteral("fails") << quint32(SERVICE_STOPPED);
        QTest::newRow("hangs while starting")
            << QStringLiteral("hangs") << quint32(SERVICE_START_PENDING);
    }

    void aServiceThatFailsOrHangsEndsTheStartWait()
    {
        QFETCH(QString, mode);
        QFETCH(quint32, stateAfterStart);
        constexpr quint32 kWaitLimitMs = 1500;
        platform::ServiceControl control(m_services, {kWaitLimitMs, 600});
        QVERIFY(runServiceProgram({QStringLiteral("/install"), mode}));
        // The manager finds services without regard to case; the check compares exactly.
        QVERIFY(!control.IsServiceInstalled("ostrovesvc"));
        QElapsedTimer clock;
        clock.start();
        const bool started = control.StartServiceAndWait(contract::kServiceName);
        const quint32 state = control.GetServiceState(contract::kServiceName);
        const qint64 waited = clock.elapsed();
        QVERIFY(runServiceProgram({QStringLiteral("/uninstall")}));
        QVERIFY(!started);
        QCOMPARE(state, stateAfterStart);
        QVERIFY2(waited < kWaitLimitMs + 5000, qPrintable(QString::number(waited)));
    }

    void theTrayProgramIsStartedClosedAndRunAtLogon()
    {
        ConfigurationPage page(*m_system);
        page.show();
        page.tsConfigurationShow();
        page.rbTray->setChecked(true);
        page.rgServiceClick();
        const QString title = QLatin1String(contract::kTrayWindowTitle);
        QVERIFY(!m_windows.exists(title));

        page.btnStartTrayClick(); // ShellExecute "open", not awaited
        QTRY_VERIFY_WITH_TIMEOUT(m_windows.exists(title), 15000);
        QVERIFY(m_windows.exists(QStringLiteral("ostroveTRAY"))); // titles compare without case
        page.btnStopTrayClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows.exists(title), 15000);
        QVERIFY(!m_windows.requestClose(title));

        page.cbxAutorun->click();
        QCOMPARE(m_store.value(store::kRunKey, store::kAutorunValue)->data,
                 (QDir::toNativeSeparators(m_folder.path()) + QStringLiteral("\\OstroveTray.exe"))
                         .toLocal8Bit()
                     + '\0');
        page.cbxAutorun->click();
        QVERIFY(!m_store.value(store::kRunKey, store::kAutorunValue));
    }
};

QTEST_MAIN(TestWindowsPages)
#include "tst_windowspages.moc"
