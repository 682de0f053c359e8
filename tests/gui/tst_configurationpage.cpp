#include "TestSystem.h"
#include "monitor/ConfigurationPage.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/WholeNumberField.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWheelEvent>

using platform::ServiceStatus;

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

} // namespace

class TestConfigurationPage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSystem> t;
    ConfigurationPage *m_page = nullptr;

    QString enabledButtons() const
    {
        QString flags;
        for (const QWidget *control : std::initializer_list<const QWidget *>{
                 m_page->btnInstallService, m_page->btnUninstallService, m_page->btnStartService,
                 m_page->btnStopService, m_page->btnStartTray, m_page->btnStopTray,
                 m_page->cbxAutorun})
            flags.append(control->isEnabled() ? QLatin1Char('1') : QLatin1Char('0'));
        return flags;
    }
    std::optional<qint32> storedInterval() const
    {
        return StoreReader(t->storePath).dword(store::kSettingsKey, "ScanEvery");
    }
    void storeValue(const std::function<void(store::RegistryKey &)> &write)
    {
        RecordingPrompts quiet;
        QVERIFY(store::registryAccess(t->store, quiet, [&](store::Access &a) {
            write(*a.openOrCreate(store::kSettingsKey));
        }));
    }

private slots:
    void init()
    {
        t = std::make_unique<TestSystem>();
        m_page = new ConfigurationPage(t->system);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page));
    }
    void cleanup()
    {
        delete m_page;
        t.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void firstShowingIsTrayModeWithOneTrayButton()
    {
        QVERIFY(m_page->rbTray->isChecked());
        QCOMPARE(enabledButtons(), QStringLiteral("0000111"));
        m_page->tsConfigurationShow();
        QCOMPARE(enabledButtons(), QStringLiteral("0000101"));
        QVERIFY(!m_page->cbxAutorun->isChecked());
        t->windows.titles = {QStringLiteral("OstroveTray")};
        m_page->tsConfigurationShow();
        QCOMPARE(enabledButtons(), QStringLiteral("0000011"));
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
        QTest::addColumn<QString>("expected");
        QTest::newRow("not installed") << false << 0u << true << "1000000";
        QTest::newRow("not installed, not capable") << false << 0u << false << "0000000";
        QTest::newRow("stopped") << true << 1u << true << "0110000";
        QTest::newRow("running") << true << 4u << true << "0101000";
        QTest::newRow("running, not capable") << true << 4u << false << "0001000";
        QTest::newRow("state unknown") << true << 0u << true << "0110000";
    }
    void serviceModeFollowsTheService()
    {
        QFETCH(bool, installed);
        QFETCH(quint32, state);
        QFETCH(bool, capable);
        QFETCH(QString, expected);
        t->services.capable = capable;
        if (installed)
            t->services.services = {{"OstroveSvc", "Ostrove"}};
        if (state)
            t->services.statusScript = {ServiceStatus{state, 0, 0}};
        const int lookups = t->windows.lookups;
        m_page->rgService->click();
        QCOMPARE(enabledButtons(), expected);
        QCOMPARE(t->windows.lookups, lookups); // service mode never looks for the tray window

        m_page->rbTray->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0000101"));
    }

    void serviceNamesCompareWithCase()
    {
        t->services.services = {{"ostrovesvc", "other"}};
        m_page->rgService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("1000000"));
    }

    void withoutAdministratorRightsTheServiceLooksUninstalled()
    {
        t->services.adminRights = false;
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {ServiceStatus{4, 0, 0}};
        m_page->rgService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("1000000"));
    }

    void comingBackInServiceModeEnablesATrayButton()
    {
        m_page->rgService->click();
        m_page->tsConfigurationShow();
        QCOMPARE(enabledButtons(), QStringLiteral("1000100"));
    }

    void installAndUninstallRunTheServiceProgram()
    {
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {ServiceStatus{4, 0, 0}};
        m_page->rgService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0101000"));
        // Running when asked, then pending after the stop request, then stopped.
        t->services.statusScript = {ServiceStatus{4, 0, 0}, ServiceStatus{3, 1, 10},
                                    ServiceStatus{1, 0, 0}};
        t->services.stopAnswer = {true, ServiceStatus{3, 0, 10}};
        m_page->btnUninstallService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("1000000"));
        // The running service was stopped and awaited before the uninstaller started.
        QVERIFY(t->services.calls.contains(QStringLiteral("control 1")));
        QCOMPARE(t->services.sleeps, QList<quint32>{10});
        const QString program = t->folder.path() + QStringLiteral("/OstroveService");
        QCOMPARE(t->processes.started, (QList<QStringList>{{program, "/uninstall", "/silent"}}));

        m_page->btnInstallService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0110000"));
        QCOMPARE(t->processes.started.last(), (QStringList{program, "/install", "/silent"}));
    }

    void startAndStopChangeTheButtonsOnlyOnSuccess()
    {
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        t->services.statusScript = {ServiceStatus{1, 0, 0}};
        m_page->rgService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0110000"));

        t->services.startSucceeds = false;
        m_page->btnStartService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0110000"));

        t->services.startSucceeds = true;
        t->services.statusScript = {ServiceStatus{2, 1, 5}, ServiceStatus{2, 2, 5},
                                    ServiceStatus{4, 0, 0}};
        m_page->btnStartService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0101000"));

        // Stopping a service that has stopped meanwhile: refused, but it says it is stopped.
        t->services.stopAnswer = {false, ServiceStatus{1, 0, 0}};
        m_page->btnStopService->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0110000"));
    }

    void trayButtonsStartAndStopTheTrayProgram()
    {
        m_page->tsConfigurationShow();
        m_page->btnStartTray->click();
        QCOMPARE(enabledButtons(), QStringLiteral("0000011"));
        QCOMPARE(t->processes.started,
                 QList<QStringList>{{t->folder.path() + QStringLiteral("/OstroveTray")}});
        // Nothing came up (no tray program there): showing the page again tells.
        m_page->tsConfigurationShow();
        QCOMPARE(enabledButtons(), QStringLiteral("0000101"));
        m_page->btnStartTray->click();

        m_page->btnStopTray->click(); // no tray window: nothing is sent
        QCOMPARE(enabledButtons(), QStringLiteral("0000101"));
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
        QVERIFY(t->prompts.shown.isEmpty());
    }

    void missingIntervalShowsFifteenAndWritesNothing()
    {
        m_page->tsConfigurationShow();
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
        QCOMPARE(t->prompts.texts(), QStringList{"Error reading/writing to registry"});
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
        QCOMPARE(t->prompts.texts(), QStringList());

        QList<bool> freeAtTheMessage;
        t->prompts.onShow = [&](const platform::Prompt &) {
            freeAtTheMessage.append(StoreReader(t->storePath).unlocked());
        };
        storeValue([](store::RegistryKey &k) { k.writeInteger("ScanEvery", 500); });
        page.tsConfigurationShow();
        QCOMPARE(page.seEvery->value(), 200);
        QCOMPARE(t->prompts.texts(), QStringList{"Error reading/writing to registry"});
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
        QCOMPARE(t->prompts.texts(), QStringList());
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
