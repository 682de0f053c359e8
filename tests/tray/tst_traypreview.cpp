#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "MiniPop3Server.h"
#include "Pop3Proxy.h"
#include "QuietWrite.h"
#include "logwindow/LogWindow.h"
#include "mail/MonitorLog.h"
#include "mail/RemovedCopies.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"
#include "mail/Settings.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"
#include "store/Store.h"
#include "tray/AllowedSendersWindow.h"
#include "tray/CheckRunner.h"
#include "tray/MessageWindow.h"
#include "tray/PreviewWindow.h"
#include "tray/RemovedMailWindow.h"
#include "tray/SingleInstance.h"
#include "tray/TrayIcon.h"
#include "tray/TrayProgram.h"
#include "tray/TraySettings.h"
#include "tray/TrayStatus.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

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

mail::MonitorSettings storedSettings(const MailTestBench &bench)
{
    store::SqliteStore store(bench.storePath());
    const std::optional<mail::MonitorSettings> settings = mail::readMonitorSettings(store, nullptr);
    return settings ? *settings : mail::MonitorSettings{};
}

// Stands for the desktop's handler of files.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

mail::AccountOutcome account(const char *address, const char *failure = nullptr)
{
    mail::AccountOutcome outcome;
    outcome.address = QString::fromLatin1(address);
    outcome.checked = failure == nullptr;
    outcome.failure = QString::fromLatin1(failure);
    return outcome;
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
        for (const char *user : {"alice", "bob", "carol", "dave", "erin"})
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
            QVERIFY(!window->btnRemoveHeld->isEnabled()); // a message, not a held rule
            QTest::keyClick(window, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), window->btnAllowSender);
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

    // What a real check removed is recorded, listed, and stays the tooltip's news; a preview
    // changes neither, and a pause stops only the schedule.
    void aRealCheckIsRecordedListedAndNotReplacedByAPreview()
    {
        MailTestBench bench;
        const QByteArray first = testMail("Promo <deals@spam.example>", "first deal");
        m_server.deliver(QStringLiteral("erin"), first);
        bench.addAccount("erin@test.example", plainServer(), "erin", "secret", false);
        bench.addAccount("nobody@test.example", plainServer(), "nobody", "wrong", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::MonitorLog log(bench.logPath());
        tray::SingleInstance instance(bench.storePath());
        tray::TrayProgram program(bench.storePath(), log, instance);
        QSignalSpy finished(&program.runner(), &tray::CheckRunner::checkFinished);
        program.checkNow();
        QVERIFY(finished.wait(60000));
        QVERIFY(program.checkScheduled());
        const QString recordPath = mail::removedRecordPathFor(bench.storePath());
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(recordPath).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);

        m_server.deliver(QStringLiteral("erin"), testMail("Later <x@spam.example>", "second"));
        program.setPaused(true);
        QVERIFY(!program.checkScheduled());
        {
            // The pause outlives the program, and a second start does not check.
            tray::TrayProgram again(bench.storePath(), log, instance);
            QVERIFY(again.status().paused);
            again.start();
            emit instance.checkRequested();
            QVERIFY(!again.runner().isRunning() && !program.runner().isRunning());
        }
        program.checkNow(); // still works while paused
        QVERIFY(finished.wait(60000));
        QVERIFY(!program.checkScheduled());
        const QString toolTip = tray::toolTipText(program.status(), QDateTime::currentDateTime());
        QVERIFY2(toolTip.contains(QStringLiteral("nobody@test.example: login refused")),
                 qPrintable(toolTip));
        QVERIFY(toolTip.endsWith(QStringLiteral("Checks paused")));

        program.preview();
        tray::PreviewWindow *preview = program.previewWindow();
        QVERIFY(finished.wait(60000));
        QVERIFY(finished.last().first().value<tray::CheckResult>().report.dryRun);
        QCOMPARE(tray::toolTipText(program.status(), QDateTime::currentDateTime()), toolTip);
        QVERIFY(!program.status().lastCheck->dryRun);
        // A dialog, shown as dialogs are: Enter on the focused list closes it.
        QCOMPARE(preview->windowIcon().isNull(), false);
        QCOMPARE(QAccessible::queryAccessibleInterface(preview)->role(), QAccessible::Dialog);
        QVERIFY(preview->btnClose->isDefault());
        QApplication::setActiveWindow(preview);
        QVERIFY(QTest::qWaitForWindowActive(preview));
        QTest::keyClick(preview->tvPreview, Qt::Key_Return);
        QVERIFY(!preview->isVisible());

        program.setPaused(false);
        QVERIFY(program.checkScheduled());

        program.showRemovedMail();
        tray::RemovedMailWindow *removed = program.removedMailWindow();
        QVERIFY(removed->isVisible());
        QTreeWidget *tree = removed->tvRemoved;
        QCOMPARE(rowTexts(tree->headerItem()),
                 (QStringList{"Time", "Account", "Sender", "Subject", "Size", "Rule"}));
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(rowTexts(tree->topLevelItem(0)).mid(1, 3),
                 (QStringList{"erin@test.example", "Later <x@spam.example>", "second"}));
        QCOMPARE(rowTexts(tree->topLevelItem(1)).mid(1),
                 (QStringList{"erin@test.example", "Promo <deals@spam.example>", "first deal",
                              QStringLiteral("%1 kB").arg((first.size() + 1023) / 1024),
                              "MailFilter: *@spam.example"}));
        QVERIFY(tree->topLevelItem(0)->text(0) >= tree->topLevelItem(1)->text(0));
        removed->close();
    }

    void theRecordIsNeverWrittenThroughALinkAndStaysSmall()
    {
        MailTestBench bench;
        const QString path = mail::removedRecordPathFor(bench.storePath());
        QList<mail::MatchedMessage> removed(1);
        removed[0].subject = QString(1000, QLatin1Char('s'));
        const QString target = bench.folder() + QStringLiteral("/elsewhere");
        QVERIFY(QFile::link(target, path));
        QVERIFY(!mail::RemovedRecord(path).append("a@x", removed, QDateTime::currentDateTime()));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(path));

        mail::RemovedRecord record(path);
        const QDateTime start = QDateTime::currentDateTime();
        for (int i = 0; i < 600; ++i) {
            removed[0].sender = QString::number(i);
            QVERIFY(record.append("a@x", removed, start.addSecs(i)));
        }
        QVERIFY(QFileInfo(path).size() <= mail::RemovedRecord::kMaxBytes);
        const QList<mail::RemovedEntry> entries = record.read();
        QVERIFY(entries.size() > 100);
        QCOMPARE(record.read(100).size(), 100);
        QCOMPARE(entries.first().sender, QStringLiteral("599"));
        QCOMPARE(entries.last().sender, QString::number(600 - entries.size()));
        // A huge subject is cut, and pushes none of the history out.
        removed[0].subject = QString(300 * 1024, QLatin1Char('h'));
        QVERIFY(record.append("a@x", removed, start.addSecs(600)));
        const QList<mail::RemovedEntry> after = record.read();
        QVERIFY(after.size() > 100);
        QCOMPARE(after.first().subject.size(), mail::RemovedRecord::kMaxFieldChars + 1);
        QCOMPARE(after[1].sender, QStringLiteral("599"));
    }

    // A long sender and subject give way: the size and the rule stay in sight, and the whole
    // text is the cell's tooltip.
    void aLongSubjectLeavesTheSizeAndTheRuleInSight()
    {
        MailTestBench bench;
        const QString path = mail::removedRecordPathFor(bench.storePath());
        mail::CheckReport report;
        report.accounts = {account("someone.with.a.long.name@example.org")};
        mail::MatchedMessage message;
        message.sender = QStringLiteral("\"A Sender With A Long Name\" <offers@deals.example>");
        message.subject = QString(30, QLatin1Char('w')).append(QStringLiteral(" the end"));
        message.subject = message.subject.repeated(4);
        message.rule = {QStringLiteral("MailFilter"), QStringLiteral("*@deals.example")};
        report.accounts[0].matched = {message};
        report.removed = 1;
        QVERIFY(mail::RemovedRecord(path).append(
            report.accounts[0].address, report.accounts[0].matched, QDateTime::currentDateTime()));
        tray::RemovedMailWindow window(bench.storePath());
        window.show();
        window.reload();
        QTreeWidget *tree = window.tvRemoved;
        const QTreeWidgetItem *row = tree->topLevelItem(0);
        QVERIFY(row);
        const int rule = tree->columnCount() - 1;
        QVERIFY(tree->header()->sectionViewportPosition(rule)
                    + tree->fontMetrics().horizontalAdvance(row->text(rule))
                <= tree->viewport()->width());
        QCOMPARE(row->toolTip(3), message.subject);
        QCOMPARE(row->toolTip(2), message.sender);
        // A subject of 300 kB is cut for its cell and tooltip.
        QTreeWidgetItem huge;
        tray::setCellText(&huge, 0, QString(300 * 1024, QLatin1Char('h')));
        QCOMPARE(huge.toolTip(0).size(), 1001);
    }

    void withoutAViewerTheLogIsShownInAWindowOfItsOwn()
    {
        MailTestBench bench;
        mail::MonitorLog log(bench.logPath());
        tray::SingleInstance instance(bench.storePath());
        tray::TrayProgram program(bench.storePath(), log, instance);
        program.setDocumentOpener(QStringLiteral("false"));
        QVERIFY(!QFile::exists(bench.logPath()));
        program.openLog();
        QTRY_VERIFY_WITH_TIMEOUT(program.logWindow() && program.logWindow()->isVisible(), 10000);
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(bench.logPath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QVERIFY(program.logWindow()->edLog->toPlainText().isEmpty());
        QVERIFY(program.logWindow()->edLog->isReadOnly());
        program.logWindow()->close();

        // A long log: its last megabyte from a line's start, and a line that says so.
        QFile file(bench.logPath());
        QVERIFY(file.open(QIODevice::Append));
        const QByteArray line(99, 'x');
        for (int i = 0; i < 12000; ++i)
            file.write(line + '\n');
        file.write("the last line\n");
        file.close();
        LogWindow window(bench.logPath());
        const QString shown = window.edLog->toPlainText();
        QVERIFY(shown.endsWith(QStringLiteral("the last line\n")));
        QVERIFY(shown.startsWith(QString(99, QLatin1Char('x')) + QLatin1Char('\n')));
        QVERIFY(shown.size() <= LogWindow::kMaxShownBytes);
        QVERIFY(shown.size() > LogWindow::kMaxShownBytes - 200);
        QVERIFY(window.lbCut->text().contains(QStringLiteral("last megabyte")));
    }

    // A slow server is named while the preview waits on it: first behind the real check under
    // way, then in the preview's own check; an account that has ended is no longer named.
    void thePreviewNamesTheAccountsItStillWaitsFor()
    {
        MiniPop3Server::Options trickling;
        trickling.byteDelayMs = 40;
        MiniPop3Server slow({testMail("x@good.example", "kept")}, trickling);
        QVERIFY(slow.start());
        MailTestBench bench;
        bench.addAccount("dave@test.example", plainServer(), "dave", "secret", false);
        bench.addAccount("slow@test.example", "127.0.0.1:" + QByteArray::number(slow.port()), "u",
                         "p", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::MonitorLog log(bench.logPath());
        tray::SingleInstance instance(bench.storePath());
        tray::TrayProgram program(bench.storePath(), log, instance);
        QSignalSpy finished(&program.runner(), &tray::CheckRunner::checkFinished);
        const QDateTime started = QDateTime::currentDateTime();
        program.checkNow();
        program.preview();
        QLabel *summary = program.previewWindow()->lbSummary;
        QTRY_COMPARE_WITH_TIMEOUT(summary->text(),
                                  QStringLiteral("Waits for the check under way, which is still "
                                                 "checking slow@test.example; then checks the "
                                                 "mailboxes, removing nothing."),
                                  60000);
        QTRY_COMPARE_WITH_TIMEOUT(summary->text(),
                                  QStringLiteral("Checking the mailboxes; nothing is removed. "
                                                 "Still checking slow@test.example."),
                                  60000);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 60000);
        // The slow check does not push the next one back: it is due an interval after the start.
        QVERIFY(started.msecsTo(program.status().nextCheckAt) <= 15 * 60 * 1000 + 500);
        const auto preview = finished.last().first().value<tray::CheckResult>();
        QVERIFY(preview.report.dryRun);
        QVERIFY2(preview.report.allChecked(), qPrintable(preview.report.summary()));
        QVERIFY(summary->text().startsWith(QStringLiteral("Preview, nothing was removed")));
        QVERIFY(program.runner().accountsInProgress().isEmpty());
        QTreeWidget *tree = program.previewWindow()->tvPreview;
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(1)->text(1),
                 QStringLiteral("1 message, nothing would be removed"));
        // Asked again: the last preview's findings go while the new one checks.
        program.preview();
        QCOMPARE(tree->topLevelItemCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 60000);
        QCOMPARE(tree->topLevelItemCount(), 2);
        program.previewWindow()->close();
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
        // Nothing runs and nothing waits to: three requests while one ran made one check and
        // one preview, and no more can come.
        QVERIFY(!runner.isRunning());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(events.size(), 6);
    }

    // A slow server holds up no other account: the check is reported once the patience is
    // spent, with that account still running, and the next check skips it while it runs.
    void aSlowAccountIsSkippedWhileItsSessionRuns()
    {
        MailTestBench bench;
        Pop3Proxy proxy(m_server.plainPort());
        QString error;
        QVERIFY2(proxy.start(&error), qPrintable(error));
        proxy.setHideStls(true);
        proxy.setReplyDelay(1500);
        bench.addAccount("dave@test.example", "127.0.0.1:" + QByteArray::number(proxy.port()),
                         "dave", "secret", false);
        bench.addAccount("erin@test.example", plainServer(), "erin", "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::MonitorLog log(bench.logPath());
        tray::CheckRunner runner(bench.storePath(), log);
        runner.setPatienceMs(500);
        QList<mail::CheckReport> reports;
        connect(&runner, &tray::CheckRunner::checkFinished, this,
                [&reports](const tray::CheckResult &result) { reports.append(result.report); });
        QList<mail::AccountOutcome> late;
        connect(&runner, &tray::CheckRunner::lateOutcome, this,
                [&late](const mail::AccountOutcome &outcome) { late.append(outcome); });
        m_server.deliver(QStringLiteral("dave"), testMail("x@spam.example", "slowly removed"));
        for (const char *slowOutcome :
             {"still being checked", "not checked: its previous check is still running"}) {
            runner.requestCheck();
            QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), 30000);
            const QList<mail::AccountOutcome> &accounts = reports.last().accounts;
            QCOMPARE(accounts.size(), 2);
            QVERIFY2(accounts[0].failure.startsWith(QLatin1String(slowOutcome)),
                     qPrintable(accounts[0].failure));
            QVERIFY2(accounts[1].checked, qPrintable(accounts[1].failure));
        }
        // What the slow session removed is told once it ends, and is in the record.
        QTRY_COMPARE_WITH_TIMEOUT(late.size(), 1, 60000);
        QCOMPARE(late[0].matched.size(), 1);
        const QList<mail::RemovedEntry> recorded =
            mail::RemovedRecord(mail::removedRecordPathFor(bench.storePath())).read();
        QCOMPARE(recorded.size(), 1);
        QCOMPARE(recorded[0].subject, QStringLiteral("slowly removed"));
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
            QCoreApplication::sendPostedEvents(); // what the stopped thread may have said
            QCOMPARE(finished.size(), 0);
            QVERIFY(!proxy.clientData(0).contains("QUIT"));
        }
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("dave"), 1, 20000));
        QCOMPARE(m_server.messages(QStringLiteral("dave")), QList<QByteArray>{spam});
        QVERIFY(bench.log().contains(QStringLiteral("dave@test.example: stopped")));
    }

    void allowedSendersAreListedAddedAndRemoved()
    {
        MailTestBench bench;
        bench.addPattern(store::kAllowFilterKey, "friend@good.example");
        tray::AllowedSendersWindow window(bench.storePath());
        window.show();
        window.reload();
        QCOMPARE(listTexts(window.lbAllowed), QStringList{"friend@good.example"});
        QVERIFY(!window.btnAdd->isEnabled());
        QVERIFY(!window.btnRemove->isEnabled()); // nothing selected

        QTest::keyClicks(window.edPattern, QStringLiteral("  *@partner.example "));
        QTest::keyClick(window.edPattern, Qt::Key_Return);
        QCOMPARE(storedSettings(bench).allowedSenders.size(), 2);
        QVERIFY(storedSettings(bench).allowedSenders.contains("*@partner.example"));
        QVERIFY(window.edPattern->text().isEmpty());
        QCOMPARE(window.lbAllowed->currentItem()->text(), QStringLiteral("*@partner.example"));

        // What would let everything through, or name a nested key, is refused and not stored.
        for (const char *bad : {"*@*", "?*", "a\\b@x.example"}) {
            window.edPattern->setText(QString::fromLatin1(bad));
            QTest::mouseClick(window.btnAdd, Qt::LeftButton);
            QVERIFY2(!window.lbProblem->text().isEmpty(), bad);
            QCOMPARE(storedSettings(bench).allowedSenders.size(), 2);
        }
        QCOMPARE(window.edPattern->maxLength(), tray::kMaxAllowedSenderLength);

        window.lbAllowed->setCurrentRow(1);
        QTest::mouseClick(window.btnRemove, Qt::LeftButton);
        QCOMPARE(storedSettings(bench).allowedSenders, QStringList{"*@partner.example"});
        QCOMPARE(listTexts(window.lbAllowed), QStringList{"*@partner.example"});

        // A store that is no database is said to be so, and nothing else happens.
        QFile broken(bench.folder() + QStringLiteral("/broken.db"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'x')) > 0);
        broken.close();
        tray::AllowedSendersWindow brokenWindow(broken.fileName());
        brokenWindow.reload();
        QVERIFY(brokenWindow.lbProblem->text().startsWith("The settings cannot be read"));
        brokenWindow.edPattern->setText(QStringLiteral("a@b.example"));
        brokenWindow.addPattern();
        QVERIFY(brokenWindow.lbProblem->text().startsWith("The settings cannot be changed"));
        QCOMPARE(brokenWindow.lbAllowed->count(), 0);

        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), window.lbAllowed);
        for (QWidget *next : std::initializer_list<QWidget *>{window.btnRemove, window.edPattern,
                                                              window.btnAdd, window.btnClose}) {
            if (!next->isEnabled())
                continue;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    // A kept copy is read as text, saved owner-only and its sender allowed by address; entries
    // without one say so and offer nothing that cannot work.
    void aRemovedMessageIsReadSavedAndItsSenderAllowed()
    {
        MailTestBench bench;
        const QByteArray message =
            "From: Promo <Deals@Spam.example>\r\nSubject: Big Offer\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\nHello Reader,  Two  Spaces.\r\n"
            "--b\r\nContent-Type: text/html\r\n\r\n<img src=\"http://x.example/t.png\">\r\n"
            "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; "
            "filename=report.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJDREVG\r\n--b--\r\n";
        mail::RemovedCopies copies(mail::removedCopiesFolderFor(bench.storePath()), 30,
                                   200 * 1024 * 1024);
        QString error;
        const QString id = copies.keep(message, &error);
        QVERIFY2(!id.isEmpty(), qPrintable(error));
        QVERIFY(copies.sync({id}, &error));
        QList<mail::MatchedMessage> removed(4);
        removed[0].sender = QStringLiteral("Promo <Deals@Spam.example>");
        removed[0].copy = id;
        removed[1].sender = QStringLiteral("\"Doe, John\" <john@x.example>");
        removed[2].copy = QStringLiteral("20240101-000000-0000abcd"); // expired
        removed[3].copy = id;
        removed[3].headerOnly = true;
        const QDateTime at = QDateTime::currentDateTime();
        QVERIFY(mail::RemovedRecord(mail::removedRecordPathFor(bench.storePath()))
                    .append("a@x", removed, at));

        tray::RemovedMailWindow window(bench.storePath());
        window.show();
        window.reload();
        QCOMPARE(window.sbKeepDays->value(), 30);
        QCOMPARE(window.sbKeepMB->value(), 200);
        QTreeWidget *tree = window.tvRemoved;
        QCOMPARE(tree->topLevelItemCount(), 4);
        // Newest first: the last one written is the first row.
        QCOMPARE(tree->topLevelItem(3)->text(2), removed[0].sender);
        const auto select = [tree](int index) {
            tree->setCurrentItem(tree->topLevelItem(3 - index));
        };
        select(0);
        QCOMPARE(window.lbCopy->text(), QStringLiteral("A copy of this message is kept."));
        QVERIFY(window.btnOpen->isEnabled() && window.btnSaveAs->isEnabled()
                && window.btnOpenInMail->isEnabled());
        QTest::mouseClick(window.btnOpen, Qt::LeftButton);
        tray::MessageWindow *shown = window.messageWindow();
        QVERIFY(shown && shown->isVisible());
        QCOMPARE(shown->lbSubject->text(), QStringLiteral("Big Offer"));
        QVERIFY2(shown->edText->toPlainText().startsWith("Hello Reader,  Two  Spaces."),
                 qPrintable(shown->edText->toPlainText()));
        QVERIFY(!shown->edText->toPlainText().contains("x.example/t.png"));
        QVERIFY(shown->edText->toPlainText().contains("[an HTML part"));
        QCOMPARE(listTexts(shown->lbAttachments), QStringList{"report.pdf (6 bytes)"});
        QVERIFY(shown->edHeader->toPlainText().startsWith("From: Promo <Deals@Spam.example>"));
        QVERIFY(shown->edHeader->toPlainText().endsWith("boundary=b"));
        shown->close();

        const QString saved = bench.folder() + QStringLiteral("/saved.eml");
        QVERIFY(window.saveCopyTo(saved));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), message);
        QCOMPARE(file.permissions()
                     & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
        // Never through a link: the file it points at stays untouched.
        const QString link = bench.folder() + QStringLiteral("/link.eml");
        QVERIFY(QFile::link(bench.folder() + QStringLiteral("/target"), link));
        QVERIFY(!window.saveCopyTo(link));
        QVERIFY(!QFile::exists(bench.folder() + QStringLiteral("/target")));

        QTest::mouseClick(window.btnAllowSender, Qt::LeftButton);
        QCOMPARE(storedSettings(bench).allowedSenders, QStringList{"Deals@Spam.example"});
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QTest::mouseClick(window.btnOpenInMail, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(window.selectedCopy())});
        QVERIFY(catcher.opened.first().toLocalFile().endsWith(id + QStringLiteral(".eml")));

        select(1);
        QCOMPARE(window.lbCopy->text(), QStringLiteral("No copy of this message was kept."));
        QVERIFY(!window.btnOpen->isEnabled() && !window.btnSaveAs->isEnabled()
                && !window.btnOpenInMail->isEnabled());
        QVERIFY(!window.saveCopyTo(bench.folder() + QStringLiteral("/none.eml")));
        QTest::mouseClick(window.btnAllowSender, Qt::LeftButton); // from the record's text
        QVERIFY(storedSettings(bench).allowedSenders.contains("john@x.example"));
        select(2);
        QCOMPARE(window.lbCopy->text(), QStringLiteral("The copy of this message has expired."));
        QVERIFY(!window.btnOpen->isEnabled());
        select(3);
        QVERIFY(window.lbCopy->text().startsWith("Only the header of this message was kept"));
        QVERIFY(window.btnOpen->isEnabled() && !window.btnSaveAs->isEnabled());

        // Chosen from the keyboard, written as chosen; 0 days keeps none.
        window.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        QTest::keyClick(&window, Qt::Key_K, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), window.sbKeepDays);
        window.sbKeepDays->selectAll();
        QTest::keyClicks(window.sbKeepDays, QStringLiteral("0"));
        QCOMPARE(storedSettings(bench).keepRemovedDays, 30); // not at each digit
        QTest::keyClick(window.sbKeepDays, Qt::Key_Tab);
        QCOMPARE(storedSettings(bench).keepRemovedDays, 0);
        QCOMPARE(QApplication::focusWidget(), window.sbKeepMB);
        QTest::keyClick(window.sbKeepMB, Qt::Key_Up);
        QCOMPARE(storedSettings(bench).keepRemovedMegabytes, 201);
    }

    void thePreviewShowsAllowedAndHeldMailAndReleasesAHeldRule()
    {
        MailTestBench bench;
        mail::CheckReport report;
        report.dryRun = true;
        report.accounts = {account("a@x")};
        report.accounts[0].identity = "a@x|server";
        report.accounts[0].messages = 40;
        mail::MatchedMessage allowed;
        allowed.sender = QStringLiteral("Friend <pal@good.example>");
        allowed.rule = {QStringLiteral("AllowFilter"), QStringLiteral("*@good.example")};
        report.accounts[0].allowed = {allowed};
        mail::MatchedMessage held;
        held.sender = QStringLiteral("news@list.example");
        held.rule = {QStringLiteral("SubjectFilter"), QStringLiteral("news")};
        report.accounts[0].held = QList<mail::MatchedMessage>(25, held);
        mail::SeenState(mail::seenStatePathFor(bench.storePath()))
            .hold("a@x|server", QStringLiteral("SubjectFilter"), QStringLiteral("news"), 25);

        tray::PreviewWindow window(bench.storePath());
        QSignalSpy checkNow(&window, &tray::PreviewWindow::checkNowRequested);
        window.show();
        window.showReport(report);
        QTreeWidgetItem *accountRow = window.tvPreview->topLevelItem(0);
        QCOMPARE(accountRow->text(1),
                 QStringLiteral("40 messages, nothing would be removed, 25 held, 1 kept: sender "
                                "allowed"));
        QCOMPARE(accountRow->childCount(), 2);
        QTreeWidgetItem *rule = accountRow->child(0);
        QCOMPARE(rule->text(0), QStringLiteral("held: 25 messages"));
        QCOMPARE(rule->text(3), QStringLiteral("SubjectFilter: news"));
        QCOMPARE(rule->childCount(), 25);
        QVERIFY(!rule->isExpanded() && accountRow->isExpanded());
        QCOMPARE(accountRow->child(1)->text(3),
                 QStringLiteral("kept: sender allowed (AllowFilter: *@good.example)"));

        window.tvPreview->setCurrentItem(rule->child(3));
        QVERIFY(!window.btnRemoveHeld->isEnabled());
        QTest::mouseClick(window.btnAllowSender, Qt::LeftButton);
        QCOMPARE(storedSettings(bench).allowedSenders, QStringList{"news@list.example"});

        window.tvPreview->setCurrentItem(rule);
        QVERIFY(!window.btnAllowSender->isEnabled());
        QTest::mouseClick(window.btnRemoveHeld, Qt::LeftButton);
        QCOMPARE(checkNow.size(), 1);
        QVERIFY(
            mail::SeenState(mail::seenStatePathFor(bench.storePath()))
                .released("a@x|server", QStringLiteral("SubjectFilter"), QStringLiteral("news")));
        QCOMPARE(accountRow->childCount(), 1);
    }

    void theMenuOffersItsActions()
    {
        tray::TrayIcon icon;
        QStringList captions;
        for (const QAction *action : icon.menu()->actions()) {
            if (!action->isSeparator())
                captions.append(action->text());
        }
        QCOMPARE(captions,
                 (QStringList{QStringLiteral("&Check now"), QStringLiteral("&Preview"),
                              QStringLiteral("Pa&use checks"), QStringLiteral("&Removed mail"),
                              QStringLiteral("&Allowed senders"), QStringLiteral("Open &log"),
                              QStringLiteral("&Settings"), QStringLiteral("&Quit")}));
        tray::TrayStatus status;
        status.paused = true;
        icon.showStatus(status);
        QCOMPARE(icon.acPause->text(), QStringLiteral("Resu&me checks"));
        QCOMPARE(icon.state(), tray::IconState::Paused);
    }

    void theTooltipTellsTheLastCheckAndTheNext_data()
    {
        QTest::addColumn<QList<mail::AccountOutcome>>("accounts");
        QTest::addColumn<QString>("settingsProblem");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("icon");
        const QString summary = QStringLiteral("2 accounts, 0 messages judged, 0 removed");
        QTest::newRow("all well") << QList{account("a@x"), account("b@x")} << QString() << false
                                  << "Ostrove\nLast check 10:15: " + summary + "\nNext check 10:30"
                                  << int(tray::IconState::Normal);
        QTest::newRow("one fails, its reason cut")
            << QList{account("a@x"), account("b@x", "cannot connect: " + QByteArray(90, 'r'))}
            << QString() << false
            << "Ostrove\nLast check 10:15: " + summary + ", 1 failed\nb@x: cannot connect: "
                   + QString(53, QLatin1Char('r')) + QChar(0x2026) + "\nNext check 10:30"
            << int(tray::IconState::Failing);
        QTest::newRow("settings cannot be read")
            << QList<mail::AccountOutcome>{} << QStringLiteral("not a database") << false
            << QStringLiteral("Ostrove\nLast check 10:15: Settings cannot be read: not a "
                              "database\nNext check 10:30")
            << int(tray::IconState::SettingsProblem);
        QTest::newRow("nothing stored yet")
            << QList<mail::AccountOutcome>{}
            << QStringLiteral("no settings are stored in /s yet: set them up with OstroveConf")
            << false
            << QStringLiteral("Ostrove\nLast check 10:15: No settings are stored in /s yet: set "
                              "them up with OstroveConf\nNext check 10:30")
            << int(tray::IconState::SettingsProblem);
        QTest::newRow("no accounts")
            << QList<mail::AccountOutcome>{} << QString() << false
            << QStringLiteral("Ostrove\nLast check 10:15: no accounts are set up\nNext check 10:30")
            << int(tray::IconState::Normal);
        QTest::newRow("paused") << QList{account("a@x"), account("b@x", "login refused")}
                                << QString() << true
                                << "Ostrove\nLast check 10:15: " + summary
                                       + ", 1 failed\nb@x: login refused\nChecks paused"
                                << int(tray::IconState::Paused);
    }
    void theTooltipTellsTheLastCheckAndTheNext()
    {
        QFETCH(QList<mail::AccountOutcome>, accounts);
        QFETCH(QString, settingsProblem);
        QFETCH(bool, paused);
        QFETCH(QString, expected);
        QFETCH(int, icon);
        const QDateTime now(QDate(2024, 5, 6), QTime(10, 20));
        tray::TrayStatus status;
        status.lastCheck = mail::CheckReport{};
        status.lastCheck->accounts = accounts;
        status.lastCheck->settingsProblem = settingsProblem;
        status.lastCheckAt = now.addSecs(-5 * 60);
        status.nextCheckAt = now.addSecs(10 * 60);
        status.paused = paused;
        QCOMPARE(tray::toolTipText(status, now), expected);
        QCOMPARE(int(tray::iconState(status)), icon);
        // A check of another day names the day.
        QVERIFY(tray::toolTipText(status, now.addDays(1))
                    .contains(QStringLiteral("Last check 2024-05-06 10:15:")));
    }

    void accountsAreToldWhenTheyBeginToFailAndWhenTheyRecover()
    {
        mail::CheckReport report;
        report.accounts = {account("a@x", "login refused"), account("b@x"), account("c@x")};
        tray::AccountChanges changes = tray::accountChanges({}, report);
        QCOMPARE(changes.failing, QStringList{"a@x: login refused"});
        QVERIFY(changes.recovered.isEmpty());
        const QSet<QString> failing = tray::failingAccounts(report);
        QCOMPARE(failing, QSet<QString>{"a@x"});
        // The same failure again is not news.
        changes = tray::accountChanges(failing, report);
        QVERIFY(changes.failing.isEmpty() && changes.recovered.isEmpty());
        report.accounts = {account("a@x"), account("b@x", "timeout")};
        changes = tray::accountChanges(failing, report);
        QCOMPARE(changes.failing, QStringList{"b@x: timeout"});
        QCOMPARE(changes.recovered, QStringList{"a@x"});
        // Unreadable settings say nothing about the accounts.
        report.settingsProblem = QStringLiteral("locked");
        report.accounts.clear();
        changes = tray::accountChanges(failing, report);
        QVERIFY(changes.failing.isEmpty() && changes.recovered.isEmpty());
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
        report.accounts[1].held.resize(21);
        report.accounts[1].held[0].rule = {QStringLiteral("MailFilter"), QStringLiteral("*")};
        report.accounts[1].held.fill(report.accounts[1].held[0]);
        report.accounts[1].held.insert(3, report.accounts[1].held[0]);
        report.accounts[1].held[3].rule = {QStringLiteral("SubjectFilter"), QStringLiteral("win")};
        QCOMPARE(tray::heldMailNotice(report),
                 QStringLiteral("22 messages held, not removed (bob@test.example: 21 by "
                                "MailFilter: *; bob@test.example: 1 by SubjectFilter: win); see "
                                "Preview to remove them"));
        report.dryRun = true;
        QVERIFY(tray::removedMailNotice(report).isEmpty());
        QVERIFY(tray::heldMailNotice(report).isEmpty());
        report.dryRun = false;
        report.removed = 0;
        report.accounts = {bob};
        QVERIFY(tray::removedMailNotice(report).isEmpty());
    }

    // 20 minutes changed to 1 between checks: due a minute after the last check began. A store
    // replaced whole, missing for a moment, is no change to the default of 15.
    void aNewIntervalIsInForceBeforeTheOldOneEnds()
    {
        qunsetenv("OSTROVE_TEST_INTERVAL_SECONDS");
        MailTestBench bench;
        const auto interval = [&bench](qint32 minutes) {
            writeQuietly(bench.storePath(), [minutes](store::Access &access) {
                access.openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, minutes);
            });
        };
        interval(20);
        mail::MonitorLog log(bench.logPath());
        tray::SingleInstance instance(bench.storePath());
        tray::TrayProgram program(bench.storePath(), log, instance);
        QSignalSpy finished(&program.runner(), &tray::CheckRunner::checkFinished);
        const QDateTime started = QDateTime::currentDateTime();
        program.checkNow();
        QVERIFY(finished.wait(60000));
        QVERIFY(started.msecsTo(program.status().nextCheckAt) > 19 * 60 * 1000);
        const QString aside = bench.storePath() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(bench.storePath(), aside));
        QTest::qWait(300);
        QVERIFY(QFile::rename(aside, bench.storePath()));
        interval(1);
        QTRY_VERIFY_WITH_TIMEOUT(started.msecsTo(program.status().nextCheckAt) <= 60 * 1000 + 500,
                                 10000);
        QVERIFY(program.checkScheduled());
        QVERIFY(!bench.log().contains(QStringLiteral("Interval changed to 15 min")));
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
