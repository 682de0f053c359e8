#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "Pop3Proxy.h"
#include "mail/MonitorLog.h"
#include "store/RegistryPaths.h"
#include "tray/CheckRunner.h"
#include "tray/PreviewWindow.h"
#include "tray/SingleInstance.h"
#include "tray/TrayIcon.h"
#include "tray/TrayProgram.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace {

QByteArray testMail(const QByteArray &from, const QByteArray &subject, int bodyLines = 1)
{
    QByteArray body;
    for (int i = 0; i < bodyLines; ++i)
        body += "Hello, this is line " + QByteArray::number(i) + " of the message.\r\n";
    return "From: " + from + "\r\nTo: me@test.example\r\nSubject: " + subject + "\r\nMessage-ID: <"
           + subject + "@test.example>\r\n\r\n" + body;
}

QStringList rowTexts(const QTreeWidgetItem *item)
{
    QStringList texts;
    for (int column = 0; column < item->columnCount(); ++column)
        texts.append(item->text(column));
    return texts;
}

} // namespace

// The preview and the check runner of the tray program, in this process, against Dovecot.
class TestTrayPreview : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_server;

    QByteArray plainServer() const
    {
        return "127.0.0.1:" + QByteArray::number(m_server.plainPort());
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        for (const char *user : {"alice", "bob", "carol", "dave"})
            m_server.addUser(QString::fromLatin1(user), QStringLiteral("secret"));
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_server.caCertificatePath()));
    }

    void cleanup()
    {
        // A preview window or menu left open is a leak of the code under test.
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void previewListsPerAccountWhatWouldGoAndRemovesNothing()
    {
        MailTestBench bench;
        const QByteArray spam = testMail("Promo <deals@spam.example>", "deal", 60);
        const QByteArray friendly = testMail("friend@good.example", "hello");
        const QByteArray casino = testMail("someone@else.example", "Big casino night");
        m_server.deliver(QStringLiteral("alice"), friendly);
        m_server.deliver(QStringLiteral("alice"), spam);
        m_server.deliver(QStringLiteral("bob"), casino);
        bench.addAccount("alice@test.example", plainServer(), "alice", "secret", false);
        bench.addAccount("bob@test.example", plainServer(), "bob", "secret", false);
        bench.addAccount("nobody@test.example", plainServer(), "nobody", "wrong", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        bench.addPattern(store::kSubjectFilterKey, "casino");

        mail::MonitorLog log(bench.logPath());
        tray::SingleInstance instance(bench.storePath());
        {
            tray::TrayProgram program(bench.storePath(), log, instance);
            QSignalSpy finished(&program.runner(), &tray::CheckRunner::checkFinished);
            program.preview();
            tray::PreviewWindow *window = program.previewWindow();
            QVERIFY(window);
            QVERIFY(window->isVisible());
            QVERIFY(!window->btnCheckAgain->isEnabled()); // while it runs
            QVERIFY(finished.wait(60000));
            const auto result = finished.first().first().value<tray::CheckResult>();
            QVERIFY(result.report.dryRun);
            QCOMPARE(result.report.removed, 2);

            QTreeWidget *tree = window->tvPreview;
            const QTreeWidgetItem *header = tree->headerItem();
            QCOMPARE(rowTexts(header),
                     (QStringList{QStringLiteral("Sender"), QStringLiteral("Subject"),
                                  QStringLiteral("Size"), QStringLiteral("Rule")}));
            QCOMPARE(tree->topLevelItemCount(), 3);
            QTreeWidgetItem *alice = tree->topLevelItem(0);
            QCOMPARE(alice->text(0), QStringLiteral("alice@test.example"));
            QCOMPARE(alice->text(1), QStringLiteral("2 messages, 1 would be removed"));
            QCOMPARE(alice->childCount(), 1);
            const qint64 kb = (spam.size() + 1023) / 1024;
            QCOMPARE(rowTexts(alice->child(0)),
                     (QStringList{QStringLiteral("Promo <deals@spam.example>"),
                                  QStringLiteral("deal"), QStringLiteral("%1 kB").arg(kb),
                                  QStringLiteral("MailFilter: *@spam.example")}));
            QTreeWidgetItem *bob = tree->topLevelItem(1);
            QCOMPARE(bob->childCount(), 1);
            QCOMPARE(rowTexts(bob->child(0)).mid(0, 2),
                     (QStringList{QStringLiteral("someone@else.example"),
                                  QStringLiteral("Big casino night")}));
            QCOMPARE(bob->child(0)->text(3), QStringLiteral("SubjectFilter: casino"));
            QTreeWidgetItem *nobody = tree->topLevelItem(2);
            QCOMPARE(nobody->childCount(), 0);
            QVERIFY(nobody->text(1).startsWith(QStringLiteral("not checked: login refused")));
            QVERIFY(alice->isExpanded());
            QVERIFY(window->lbSummary->text().startsWith(
                QStringLiteral("Preview, nothing was removed")));
            QVERIFY(window->btnCheckAgain->isEnabled());

            // Read from the keyboard: the list has the focus, arrows walk the rows, Escape closes.
            QApplication::setActiveWindow(window);
            QVERIFY(QTest::qWaitForWindowActive(window));
            QCOMPARE(QApplication::focusWidget(), tree);
            QCOMPARE(tree->currentItem(), alice);
            QTest::keyClick(tree, Qt::Key_Down);
            QCOMPARE(tree->currentItem(), alice->child(0));
            QTest::keyClick(window, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), window->btnCheckAgain);
            QTest::keyClick(window, Qt::Key_Escape);
            QVERIFY(!window->isVisible());
        }
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("alice"), 1));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("bob"), 1));
        QCOMPARE(m_server.messages(QStringLiteral("alice")), (QList<QByteArray>{friendly, spam}));
        QCOMPARE(m_server.messages(QStringLiteral("bob")), QList<QByteArray>{casino});
        QVERIFY(!m_server.clientCommands(QStringLiteral("alice")).contains("DELE"));
        QVERIFY(log.path() == bench.logPath());
        QVERIFY(bench.log().contains(
            QStringLiteral("would remove message from Promo <deals@spam.example>")));

        // The same settings in a real check do remove both: the preview told the truth.
        const mail::CheckReport real = bench.check();
        QCOMPARE(real.removed, 2);
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("alice"), 2));
        QCOMPARE(m_server.messages(QStringLiteral("alice")), QList<QByteArray>{friendly});
    }

    void requestsDuringACheckWaitTheirTurn()
    {
        MailTestBench bench;
        m_server.deliver(QStringLiteral("carol"), testMail("a@spam.example", "one"));
        Pop3Proxy proxy(m_server.plainPort());
        QString error;
        QVERIFY2(proxy.start(&error), qPrintable(error));
        proxy.setHideStls(true);
        proxy.setReplyDelay(100); // slow enough that the requests below come while it runs
        bench.addAccount("carol@test.example", "127.0.0.1:" + QByteArray::number(proxy.port()),
                         "carol", "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");

        mail::MonitorLog log(bench.logPath());
        tray::CheckRunner runner(bench.storePath(), log);
        QList<QString> events;
        connect(&runner, &tray::CheckRunner::checkStarted, this, [&](bool dryRun) {
            QVERIFY(!events.endsWith(QStringLiteral("check"))
                    && !events.endsWith(QStringLiteral("preview")));
            events.append(dryRun ? QStringLiteral("preview") : QStringLiteral("check"));
        });
        connect(&runner, &tray::CheckRunner::checkFinished, this,
                [&](const tray::CheckResult &result) {
                    events.append(result.report.dryRun ? QStringLiteral("preview done")
                                                       : QStringLiteral("check done"));
                    QCOMPARE(result.scanEveryMinutes, std::optional<int>(15));
                });
        runner.requestCheck();
        QVERIFY(runner.isRunning());
        runner.requestCheck();
        runner.requestPreview();
        runner.requestCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 6, 60000);
        QCOMPARE(events,
                 (QList<QString>{QStringLiteral("check"), QStringLiteral("check done"),
                                 QStringLiteral("check"), QStringLiteral("check done"),
                                 QStringLiteral("preview"), QStringLiteral("preview done")}));
        QTest::qWait(300);
        QCOMPARE(events.size(), 6); // three requests while one ran: one check, one preview
        QVERIFY(!runner.isRunning());
    }

    void stopCancelsACheckWithoutRemovingAnything()
    {
        MailTestBench bench;
        const QByteArray spam = testMail("a@spam.example", "stopped");
        m_server.deliver(QStringLiteral("dave"), spam);
        {
            Pop3Proxy proxy(m_server.plainPort());
            QString error;
            QVERIFY2(proxy.start(&error), qPrintable(error));
            proxy.setHideStls(true);
            proxy.stallOnCommand("DELE");
            bench.addAccount("dave@test.example", "127.0.0.1:" + QByteArray::number(proxy.port()),
                             "dave", "secret", false);
            bench.addPattern(store::kMailFilterKey, "*@spam.example");
            mail::MonitorLog log(bench.logPath());
            tray::CheckRunner runner(bench.storePath(), log);
            QSignalSpy finished(&runner, &tray::CheckRunner::checkFinished);
            runner.requestCheck();
            QTRY_VERIFY_WITH_TIMEOUT(proxy.faultCount() > 0, 20000);
            runner.requestCheck(); // queued, and dropped by the stop
            runner.stop();
            QVERIFY(!runner.isRunning());
            QTest::qWait(200);
            QCOMPARE(finished.size(), 0);
            QVERIFY(!proxy.clientData(0).contains("QUIT"));
        }
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("dave"), 1, 20000));
        QCOMPARE(m_server.messages(QStringLiteral("dave")), QList<QByteArray>{spam});
        QVERIFY(bench.log().contains(QStringLiteral("dave@test.example: stopped")));
    }

    void theMenuOffersItsActionsAndTheTooltipTheOutcome()
    {
        tray::TrayIcon icon;
        QStringList captions;
        for (const QAction *action : icon.menu()->actions()) {
            if (!action->isSeparator())
                captions.append(action->text());
        }
        QCOMPARE(captions, (QStringList{QStringLiteral("&Check now"), QStringLiteral("&Preview"),
                                        QStringLiteral("Open &log"), QStringLiteral("&Settings"),
                                        QStringLiteral("&Quit")}));
        mail::CheckReport report;
        report.accounts.resize(2);
        report.accounts[0].checked = true;
        report.judged = 7;
        report.removed = 1;
        icon.showChecking(false);
        QVERIFY(icon.toolTip().contains(QStringLiteral("checking")));
        icon.showOutcome(report);
        QCOMPARE(icon.toolTip(), QStringLiteral("Ostrove: ") + report.summary());
        QVERIFY(icon.toolTip().contains(QStringLiteral("1 failed")));
    }

    void theNoticeNamesWhatWasRemoved()
    {
        mail::CheckReport report;
        mail::AccountOutcome alice;
        alice.address = QStringLiteral("alice@test.example");
        alice.checked = true;
        alice.matched.resize(2);
        mail::AccountOutcome bob;
        bob.address = QStringLiteral("bob@test.example");
        bob.checked = true;
        report.accounts = {alice, bob};
        report.removed = 2;
        QCOMPARE(tray::removedMailNotice(report),
                 QStringLiteral("2 messages removed (alice@test.example: 2)"));
        report.dryRun = true;
        QVERIFY(tray::removedMailNotice(report).isEmpty());
        report.dryRun = false;
        report.removed = 0;
        report.accounts = {bob};
        QVERIFY(tray::removedMailNotice(report).isEmpty());
    }

    void theIntervalComesFromTheStoreUnlessATestShortensIt()
    {
        qunsetenv("OSTROVE_TEST_INTERVAL_SECONDS");
        QCOMPARE(tray::checkIntervalMs(15), 15 * 60 * 1000);
        QCOMPARE(tray::checkIntervalMs(1), 60 * 1000);
        QCOMPARE(tray::checkIntervalMs(500), 200 * 60 * 1000);
        qputenv("OSTROVE_TEST_INTERVAL_SECONDS", "3");
        QCOMPARE(tray::checkIntervalMs(15), 3000);
        qputenv("OSTROVE_TEST_INTERVAL_SECONDS", "nonsense");
        QCOMPARE(tray::checkIntervalMs(15), 15 * 60 * 1000);
        qunsetenv("OSTROVE_TEST_INTERVAL_SECONDS");
    }
};

QTEST_MAIN(TestTrayPreview)
#include "tst_traypreview.moc"
