#include "DovecotServer.h"
#include "WidgetTestSystem.h"
#include "XvfbServer.h"
#include "accounts/Form_AddEditAccount.h"
#include "app/Form_Ostrove.h"
#include "configuration/ConfigurationPage.h"
#include "filters/FilterEntryDialog.h"
#include "platform/Processes.h"
#include "platform/X11Windows.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

// The whole product as a person uses it: OstroveConf's real window sets up an account and a
// filter and starts the tray program, which removes the matching message from a real Dovecot
// server; Stop ends it. The configuration window runs offscreen, the tray program on Xvfb.
class TestWholeProduct : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    XvfbServer m_xvfb{m_home.filePath(QStringLiteral("xvfb.log"))};
    DovecotServer m_dovecot;

private slots:
    void initTestCase()
    {
        QString why;
        if (!m_xvfb.start(&why))
            QSKIP(qPrintable(why));
        QVERIFY2(m_dovecot.start(&why), qPrintable(why));
        m_dovecot.addUser(QStringLiteral("erin"), QStringLiteral("secret"));
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_dovecot.caCertificatePath()));
    }

    void theTrayProgramStartedFromTheWindowRemovesWhatTheWindowSetUp()
    {
        const QByteArray spam =
            "From: Deals <deals@spam.example>\r\nSubject: offer\r\n\r\nBuy.\r\n";
        const QByteArray friendly = "From: friend@good.example\r\nSubject: hi\r\n\r\nHello.\r\n";
        m_dovecot.deliver(QStringLiteral("erin"), friendly);
        m_dovecot.deliver(QStringLiteral("erin"), spam);

        WidgetTestSystem t;
        platform::SystemProcesses processes;
        platform::X11Windows windows;
        platform::System system{
            t.store,           t.prompts,  processes,
            windows,           t.services, QFileInfo(QStringLiteral(OSTROVE_TRAY)).absolutePath(),
            t.system.runModal, t.storePath};
        // What the tray program inherits when the page starts it: the X server, this store,
        // a home of its own, and checks a second apart.
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("OSTROVE_REGISTRY", QFile::encodeName(t.storePath));
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
        qputenv("OSTROVE_TEST_INTERVAL_SECONDS", "1");
        auto restore = qScopeGuard([] {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qunsetenv("OSTROVE_TEST_INTERVAL_SECONDS");
        });

        TfrmOstrove window(system);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        t.scriptDialogs(
            {fillAccountDialog(QStringLiteral("erin@test.example"),
                               QStringLiteral("127.0.0.1:%1").arg(m_dovecot.plainPort()),
                               QStringLiteral("erin"), QStringLiteral("secret"))});
        window.acAddAccount->trigger();
        QListWidget *navigation = window.lvDodatki;
        const auto choose = [navigation](int item) {
            QTest::mouseClick(navigation->viewport(), Qt::LeftButton, {},
                              navigation->visualItemRect(navigation->item(item)).center());
        };
        choose(1);
        t.scriptDialogs({fillPatternDialog(QStringLiteral("*@spam.example"))});
        window.acAddMail->trigger();
        QCOMPARE(t.dialogsShown, 2);
        QCOMPARE(t.unfinishedScript(), QStringList());

        choose(5);
        auto *page = window.findChild<ConfigurationPage *>();
        QVERIFY(page);
        auto *tray = page->findChild<QRadioButton *>(QStringLiteral("rbTray"));
        auto *start = page->findChild<QPushButton *>(QStringLiteral("btnStartTray"));
        auto *stop = page->findChild<QPushButton *>(QStringLiteral("btnStopTray"));
        QVERIFY(tray && start && stop);
        tray->click();
        QVERIFY(tray->isChecked());
        QVERIFY(start->isEnabled());
        start->click();

        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(QStringLiteral("OstroveTray")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(m_dovecot.messages(QStringLiteral("erin")),
                                  QList<QByteArray>{friendly}, 20000);
        // The page sees the running program the next time it is shown.
        choose(0);
        choose(5);
        QTRY_VERIFY_WITH_TIMEOUT(stop->isEnabled(), 5000);
        stop->click();
        QTRY_VERIFY_WITH_TIMEOUT(!windows.exists(QStringLiteral("OstroveTray")), 10000);
        QVERIFY(t.prompts.shown.isEmpty());
    }
};

QTEST_MAIN(TestWholeProduct)
#include "tst_wholeproduct.moc"
