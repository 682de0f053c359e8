#include "WidgetTest.h"
#include "configuration/ConfigurationPage.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/WholeNumberField.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWheelEvent>

using platform::ServiceManager;

namespace {

// The captions that name the system: a Windows build shows the designed ones, a Linux build
// says what it does here.
#ifdef Q_OS_WIN
const char *const kServiceCaption = "Run as Windows Service (Windows NT/2000/XP)";
const char *const kTrayCaption = "Run as tray icon (Windows 98/ME/NT/2000/XP)";
const char *const kAutorunCaption = "Autorun on Windows startup";
#else
const char *const kServiceCaption = "Run as system service";
const char *const kTrayCaption = "Run as tray icon";
const char *const kAutorunCaption = "Start with the desktop session";
#endif

// The page's service and tray controls in the order they are laid out, each named for what it
// does, so that a failed comparison says which control is wrong rather than which digit.
enum Control : unsigned
{
    Nothing = 0,
    InstallService = 1u << 0,
    UninstallService = 1u << 1,
    StartService = 1u << 2,
    StopService = 1u << 3,
    StartTray = 1u << 4,
    StopTray = 1u << 5,
    Autorun = 1u << 6,
};
constexpr const char *kControlNames[] = {"InstallService", "UninstallService", "StartService",
                                         "StopService",    "StartTray",        "StopTray",
                                         "Autorun"};

// "InstallService:off UninstallService:on ...": every control, with whether it can be used.
QString enabled(unsigned controls)
{
    QStringList states;
    for (int i = 0; i < int(std::size(kControlNames)); ++i)
        states.append(QLatin1String(kControlNames[i])
                      + (controls & (1u << i) ? QLatin1String(":on") : QLatin1String(":off")));
    return states.join(QLatin1Char(' '));
}

// A service query that gets no answer at all.
constexpr quint32 kNoStatus = 0;

} // namespace

class TestConfigurationPage : public WidgetTest
{
    Q_OBJECT

private:
    ConfigurationPage *m_page = nullptr;

    // The controls the user can use now, in the form enabled() gives.
    QString enabledControls() const
    {
        unsigned controls = Nothing;
        const QWidget *const laidOut[] = {m_page->btnInstallService, m_page->btnUninstallService,
                                          m_page->btnStartService,   m_page->btnStopService,
                                          m_page->btnStartTray,      m_page->btnStopTray,
                                          m_page->cbxAutorun};
        for (int i = 0; i < int(std::size(laidOut)); ++i) {
            if (laidOut[i]->isEnabled())
                controls |= 1u << i;
        }
        return enabled(controls);
    }
    std::optional<qint32> storedInterval() const
    {
        return StoreReader(t->storePath).dword(store::kSettingsKey, "ScanEvery");
    }
    void storeValue(const std::function<void(store::RegistryKey &)> &write)
    {
        seed([&](store::Access &a) { write(*a.openOrCreate(store::kSettingsKey)); });
    }

    void setUpTest() override
    {
        m_page = new ConfigurationPage(t->system);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page));
    }
    void tearDownTest() override
    {
        delete m_page;
        m_page = nullptr;
    }

private slots:
    void firstShowingIsTrayModeWithOneTrayButton()
    {
        QVERIFY(m_page->rbTray->isChecked());
        QCOMPARE(enabledControls(), enabled(StartTray | StopTray | Autorun));
        m_page->tsConfigurationShow();
        QCOMPARE(enabledControls(), enabled(StartTray | Autorun));
        QVERIFY(!m_page->cbxAutorun->isChecked());
        t->windows.titles = {QStringLiteral("OstroveTray")};
        m_page->tsConfigurationShow();
        QCOMPARE(enabledControls(), enabled(StopTray | Autorun));
        QCOMPARE(t->services.enumerations, 0);
    }

    void captionsNameWhatThisBuildRunsOn()
    {
        QCOMPARE(m_page->rgService->text(), QLatin1String(kServiceCaption));
        QCOMPARE(m_page->rbTray->text(), QLatin1String(kTrayCaption));
        QCOMPARE(m_page->cbxAutorun->text(), QLatin1String(kAutorunCaption));
        for (QWidget *caption : std::initializer_list<QWidget *>{m_page->rgService, m_page->rbTray,
                                                                 m_page->cbxAutorun})
            QVERIFY2(caption->width() >= caption->sizeHint().width(),
                     qPrintable(caption->objectName()));
    }

    void serviceModeFollowsTheService_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<quint32>("state");
        QTest::addColumn<bool>("capable");
        QTest::addColumn<unsigned>("expected");
        QTest::newRow("not installed") << false << kNoStatus << true << unsigned(InstallService);
        QTest::newRow("not installed, not capable")
            << false << kNoStatus << false << unsigned(Nothing);
        QTest::newRow("stopped") << true << ServiceManager::kStopped << true
                                 << (UninstallService | StartService);
        QTest::newRow("running") << true << ServiceManager::kRunning << true
                                 << (UninstallService | StopService);
        QTest::newRow("running, not capable")
            << true << ServiceManager::kRunning << false << unsigned(StopService);
        QTest::newRow("state unknown")
            << true << kNoStatus << true << (UninstallService | StartService);
    }
    void serviceModeFollowsTheService()
    {
        QFETCH(bool, installed);
        QFETCH(quint32, state);
        QFETCH(bool, capable);
        QFETCH(unsigned, expected);
        t->services.capable = capable;
        if (installed)
            t->services.services = {{"OstroveSvc", "Ostrove"}};
        if (state != kNoStatus)
            t->services.statusScript = {platform::ServiceStatus{state, 0, 0}};
        const int lookups = t->windows.lookups;
        m_page->rgService->click();
        QCOMPARE(enabledControls(), enabled(expected));
        QCOMPARE(t->windows.lookups, lookups); // service mode never looks for the tray window

        m_page->rbTray->click();
        QCOMPARE(enabledControls(), enabled(StartTray | Autorun));
    }

    void serviceNamesCompareWithCase()
    {
        t->services.services = {{"ostrovesvc", "other"}};
        m_page->rgService->click();
        QCOMPARE(enabledControls(), enabled(InstallService));
    }

    void withoutAdministratorRightsTheServiceLooksUninstalled()
    {
        t->services.adminRights = false;
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {serviceRunning()};
        m_page->rgService->click();
        QCOMPARE(enabledControls(), enabled(InstallService));
    }

    void comingBackInServiceModeEnablesATrayButton()
    {
        m_page->rgService->click();
        m_page->tsConfigurationShow();
        QCOMPARE(enabledControls(), enabled(InstallService | StartTray));
    }

    void installAndUninstallRunTheServiceProgram()
    {
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {serviceRunning()};
        m_page->rgService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StopService));
        // Running when asked, then pending after the stop request, then stopped.
        t->services.statusScript = {serviceRunning(), serviceStopPending(1, 10), serviceStopped()};
        t->services.stopAnswer = {true, serviceStopPending(0, 10)};
        m_page->btnUninstallService->click();
        QCOMPARE(enabledControls(), enabled(InstallService));
        // The running service was stopped and awaited before the uninstaller started.
        QVERIFY(t->services.calls.contains(QStringLiteral("control 1")));
        QCOMPARE(t->services.sleeps, QList<quint32>{10});
        const QString program = t->folder.path() + QStringLiteral("/OstroveService");
        QCOMPARE(t->processes.started, (QList<QStringList>{{program, "/uninstall", "/silent"}}));

        m_page->btnInstallService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StartService));
        QCOMPARE(t->processes.started.last(), (QStringList{program, "/install", "/silent"}));
    }

    void startAndStopChangeTheButtonsOnlyOnSuccess()
    {
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {serviceStopped()};
        m_page->rgService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StartService));

        t->services.startSucceeds = false;
        m_page->btnStartService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StartService));
        // The status line says where to read why, and forgets it once the service starts.
        const auto status = m_page->findChild<QLabel *>(QStringLiteral("lblServiceStatus"));
        QCOMPARE(status->text(), QStringLiteral("see the journal of OstroveSvc"));

        t->services.startSucceeds = true;
        t->services.statusScript = {serviceStartPending(1, 5), serviceStartPending(2, 5),
                                    serviceRunning()};
        m_page->btnStartService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StopService));
        QVERIFY(status->text().isEmpty());

        // Stopping a service that has stopped meanwhile: refused, but it says it is stopped.
        t->services.stopAnswer = {false, serviceStopped()};
        m_page->btnStopService->click();
        QCOMPARE(enabledControls(), enabled(UninstallService | StartService));
    }

    void trayButtonsStartAndStopTheTrayProgram()
    {
        m_page->tsConfigurationShow();
        m_page->btnStartTray->click();
        QCOMPARE(enabledControls(), enabled(StopTray | Autorun));
        QCOMPARE(t->processes.started,
                 QList<QStringList>{{t->folder.path() + QStringLiteral("/OstroveTray")}});
        // Nothing came up (no tray program there): showing the page again tells.
        m_page->tsConfigurationShow();
        QCOMPARE(enabledControls(), enabled(StartTray | Autorun));
        m_page->btnStartTray->click();

        m_page->btnStopTray->click(); // no tray window: nothing is sent
        QCOMPARE(enabledControls(), enabled(StartTray | Autorun));
        QVERIFY(t->windows.closeRequests.isEmpty());

        t->windows.titles = {QStringLiteral("OstroveTray")};
        m_page->tsConfigurationShow();
        m_page->btnStopTray->click();
        QCOMPARE(t->windows.closeRequests, QStringList{"OstroveTray"});
    }

    void autorunWritesAndDeletesTheRunValue()
    {
        const QByteArray path = (t->folder.path() + QStringLiteral("/OstroveTray")).toLocal8Bit();
        m_page->cbxAutorun->click();
        QCOMPARE(StoreReader(t->storePath).string(store::kRunKey, "OstroveTray"), path);
        m_page->cbxAutorun->click();
        QVERIFY(!StoreReader(t->storePath).value(store::kRunKey, "OstroveTray"));
        m_page->cbxAutorun->click();
        m_page->cbxAutorun->click();
        m_page->cbxAutorun->click();
        QCOMPARE(StoreReader(t->storePath).valueNames(store::kRunKey),
                 QList<QByteArray>{"OstroveTray"});
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void autorunShowsTheStoredRunValueAlsoOnAReadOnlyStore()
    {
        seed([](store::Access &a) {
            a.openOrCreate(store::kRunKey)->writeString(store::kAutorunValue, "/x/OstroveTray");
        });
        m_page->tsConfigurationShow();
        QVERIFY(m_page->cbxAutorun->isChecked());

        store::SqliteStore readOnly(t->storePath, {5000, {}, true});
        platform::System system{readOnly,    t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        ConfigurationPage page(system);
        page.show();
        page.tsConfigurationShow();
        QVERIFY(page.cbxAutorun->isChecked());
        page.cbxAutorun->click();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QVERIFY(page.cbxAutorun->isChecked());
        QCOMPARE(StoreReader(t->storePath).string(store::kRunKey, "OstroveTray"),
                 QByteArray("/x/OstroveTray"));

        seed([](store::Access &a) { a.openOrCreate(store::kRunKey)->deleteValue("OstroveTray"); });
        page.tsConfigurationShow();
        QVERIFY(!page.cbxAutorun->isChecked());
    }

    // A fresh store has no interval yet: that is no error, and the default stands.
    void missingIntervalShowsFifteenAndWritesNothing()
    {
        m_page->tsConfigurationShow();
        QCOMPARE(takePromptTexts(), QStringList());
        QCOMPARE(m_page->seEvery->text(), QStringLiteral("15"));
        QVERIFY(!storedInterval());
        QVERIFY(StoreReader(t->storePath).keyExists(store::kSettingsKey));
    }

    void storedIntervalOutsideTheRangeIsBroughtBack_data()
    {
        QTest::addColumn<qint32>("stored");
        QTest::addColumn<qint32>("shown");
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("500") << 500 << 200;
        QTest::newRow("-3") << -3 << 1;
        QTest::newRow("30") << 30 << 30;
    }
    void storedIntervalOutsideTheRangeIsBroughtBack()
    {
        QFETCH(qint32, stored);
        QFETCH(qint32, shown);
        storeValue([stored](store::RegistryKey &k) { k.writeInteger("ScanEvery", stored); });
        m_page->tsConfigurationShow();
        QCOMPARE(m_page->seEvery->value(), shown);
        QCOMPARE(storedInterval(), shown);
    }

    void intervalStoredAsTextShowsTheMessage()
    {
        storeValue([](store::RegistryKey &k) { k.writeString("ScanEvery", "30"); });
        m_page->tsConfigurationShow();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(m_page->seEvery->text(), QStringLiteral("15"));
    }

    void showingAReadOnlyStoreWritesBackOnlyACorrection()
    {
        storeValue([](store::RegistryKey &k) { k.writeInteger("ScanEvery", 30); });
        store::SqliteStore readOnly(t->storePath, {5000, {}, true});
        platform::System system{readOnly,    t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        ConfigurationPage page(system);
        page.show();
        page.tsConfigurationShow();
        QCOMPARE(page.seEvery->value(), 30);
        QCOMPARE(takePromptTexts(), QStringList());

        QList<bool> freeAtTheMessage;
        t->prompts.onShow = [&](const platform::Prompt &) {
            freeAtTheMessage.append(StoreReader(t->storePath).unlocked());
        };
        storeValue([](store::RegistryKey &k) { k.writeInteger("ScanEvery", 500); });
        page.tsConfigurationShow();
        QCOMPARE(page.seEvery->value(), 200);
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(freeAtTheMessage, QList<bool>{true});
        QCOMPARE(storedInterval(), 500);
    }

    void showingTheStoredIntervalAgainWritesNothing()
    {
        m_page->seEvery->setValue(40);
        storeValue([](store::RegistryKey &k) { k.writeInteger("ScanEvery", 30); });
        // From here on any write fails, and would say so.
        StoreReader(t->storePath)
            .exec("CREATE TRIGGER refused BEFORE UPDATE ON vals BEGIN SELECT raise(ABORT, 'x'); "
                  "END");
        m_page->tsConfigurationShow();
        QCOMPARE(m_page->seEvery->value(), 30);
        QCOMPARE(takePromptTexts(), QStringList());
        StoreReader(t->storePath).exec("DROP TRIGGER refused");
    }

    void onlyArrowsStepTheIntervalAndTheWheelNeedsTheFocus()
    {
        WholeNumberField *every = m_page->seEvery;
        every->setFocus();
        QVERIFY(every->hasFocus());
        QTest::keyClick(every, Qt::Key_PageUp);
        QTest::keyClick(every, Qt::Key_PageDown);
        QTest::keyClick(every, Qt::Key_PageDown);
        QCOMPARE(every->text(), QStringLiteral("15"));
        QVERIFY(!storedInterval());
        QTest::keyClick(every, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(every->text(), QStringLiteral("16"));
        QTest::keyClick(every, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(every, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(every->text(), QStringLiteral("14"));
        QCOMPARE(storedInterval(), 14);

        const auto turnWheel = [every](Qt::KeyboardModifiers modifiers) {
            const QPointF centre = QRectF(every->rect()).center();
            QWheelEvent wheel(centre, every->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                              Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(every, &wheel);
        };
        m_page->btnStartTray->setFocus();
        turnWheel(Qt::NoModifier);
        QCOMPARE(every->text(), QStringLiteral("14"));
        QVERIFY(!every->hasFocus());
        every->setFocus();
        turnWheel(Qt::NoModifier);
        QCOMPARE(every->text(), QStringLiteral("15"));
        turnWheel(Qt::ControlModifier);
        QCOMPARE(every->text(), QStringLiteral("16"));
        QCOMPARE(storedInterval(), 16);
    }

    void typingWritesEveryChangeAndLeavingBringsItIntoRange()
    {
        m_page->seEvery->setFocus();
        QVERIFY(m_page->seEvery->hasFocus());
        m_page->seEvery->selectAll();
        QTest::keyClick(m_page->seEvery, Qt::Key_Delete);
        QCOMPARE(storedInterval(), 1); // an empty field stores the minimum
        QTest::keyClicks(m_page->seEvery, QStringLiteral("250"));
        QCOMPARE(storedInterval(), 250);
        m_page->btnStartTray->setFocus();
        QCOMPARE(m_page->seEvery->text(), QStringLiteral("200"));
        QCOMPARE(storedInterval(), 200);
        m_page->seEvery->setFocus();
        QTest::keyClick(m_page->seEvery, Qt::Key_Up);
        QCOMPARE(storedInterval(), 200);
        QTest::keyClick(m_page->seEvery, Qt::Key_Down);
        QCOMPARE(storedInterval(), 199);
        QTest::keyClick(m_page->seEvery, Qt::Key_X);
        QCOMPARE(m_page->seEvery->text(), QStringLiteral("199"));
        m_page->seEvery->setText(QStringLiteral("-5"));
        QCOMPARE(StoreReader(t->storePath).value(store::kSettingsKey, "ScanEvery")->data,
                 QByteArray("\xFB\xFF\xFF\xFF", 4));
    }
};

QTEST_MAIN(TestConfigurationPage)
#include "tst_configurationpage.moc"
