#include "RecordingPrompts.h"
#include "StoreUnderTest.h"
#include "accounts/AccountsPage.h"
#include "accounts/Form_AddEditAccount.h"
#include "monitor/ConfigurationPage.h"
#include "monitor/MonitorNames.h"
#include "monitor/ServiceControl.h"
#include "platform/Processes.h"
#include "platform/ScmServiceManager.h"
#include "platform/System.h"
#include "platform/Win32Windows.h"
#include "store/RegistryPaths.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

// The pages on Windows with the system's real parts: the registry, WinExec and the shell, the
// service control manager and FindWindow, with the tests' own service and tray programs in the
// program folder under the monitor's names. Wine reports Windows 2000 to this test (set by
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

    void installProgram(const char *built, const char *name)
    {
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                + QLatin1String(built),
                            monitor::besideProgram(m_system->programFolder, name)));
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
        installProgram("test_service.exe", monitor::kServiceProgram);
        installProgram("fake_tray.exe", monitor::kTrayProgram);
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
        monitor::ServiceControl control(m_services);
        QVERIFY(!control.IsServiceInstalled(monitor::kServiceName));
        QVERIFY(page.btnInstallService->isEnabled());

        page.btnInstallServiceClick(); // WinExec, not awaited
        QTRY_VERIFY_WITH_TIMEOUT(control.IsServiceInstalled(monitor::kServiceName), 15000);
        page.rgServiceClick();
        QVERIFY(page.btnStartService->isEnabled());
        QVERIFY(!page.btnStopService->isEnabled());

        page.btnStartServiceClick();
        QCOMPARE(control.GetServiceState(monitor::kServiceName), 4u);
        page.rgServiceClick();
        QVERIFY(page.btnStopService->isEnabled());
        page.btnStopServiceClick();
        QCOMPARE(control.GetServiceState(monitor::kServiceName), 1u);

        page.rgServiceClick();
        QVERIFY(page.btnUninstallService->isEnabled());
        page.btnUninstallServiceClick();
        QTRY_VERIFY_WITH_TIMEOUT(!control.IsServiceInstalled(monitor::kServiceName), 15000);
    }

    void theTrayProgramIsStartedClosedAndRunAtLogon()
    {
        ConfigurationPage page(*m_system);
        page.show();
        page.tsConfigurationShow();
        page.rbTray->setChecked(true);
        page.rgServiceClick();
        const QString title = QLatin1String(monitor::kTrayWindowTitle);
        QVERIFY(!m_windows.exists(title));

        page.btnStartTrayClick(); // ShellExecute "open", not awaited
        QTRY_VERIFY_WITH_TIMEOUT(m_windows.exists(title), 15000);
        page.btnStopTrayClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows.exists(title), 15000);

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
