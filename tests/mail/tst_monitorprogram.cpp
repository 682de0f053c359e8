#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "QuietWrite.h"
#include "WidgetTestSystem.h"
#include "accounts/Form_AddEditAccount.h"
#include "app/Form_Ostrove.h"
#include "filters/FilterEntryDialog.h"
#include "mail/MonitorLog.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"
#include "mail/SettingsAndSeenState.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

const QStringList kAsNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};

Run runService(const QStringList &arguments, const QString &storePath,
               const QStringList &prefix = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
    process.setProcessEnvironment(environment);
    const QStringList command = prefix + QStringList{QStringLiteral(OSTROVE_SERVICE)} + arguments;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray testMail(const QByteArray &from, const QByteArray &subject)
{
    return "From: " + from + "\r\nTo: me@test.example\r\nSubject: " + subject + "\r\nMessage-ID: <"
           + subject + "@test.example>\r\n\r\nHello.\r\n";
}

} // namespace

// OstroveService as a person and the configuration program start it.
class TestMonitorProgram : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_server;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        m_server.addUser(QStringLiteral("alice"), QStringLiteral("secret"));
        m_server.addUser(QStringLiteral("bob"), QStringLiteral("secret"));
        m_server.addUser(QStringLiteral("carol"), QStringLiteral("secret"));
        m_server.addUser(QStringLiteral("dave"), QStringLiteral("secret"));
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_server.caCertificatePath()));
    }

    void helpAndBadArguments()
    {
        MailTestBench bench;
        const Run help = runService({QStringLiteral("--help")}, bench.storePath());
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("--check-once")));
        for (const QStringList &bad :
             {QStringList{QStringLiteral("--bogus")}, QStringList{QStringLiteral("--dry-run")},
              QStringList{QStringLiteral("--check-once"), QStringLiteral("/install")}}) {
            const Run run = runService(bad, bench.storePath());
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.err.startsWith(QStringLiteral("OstroveService: ")));
        }
        QVERIFY(!QFile::exists(bench.storePath())); // nothing was created for bad arguments
    }

    void checkOnceLogsToItsOutputAndBesideTheStore()
    {
        MailTestBench bench;
        const QByteArray spam = testMail("x@spam.example", "offer");
        m_server.deliver(QStringLiteral("alice"), spam);
        bench.addAccount("alice@test.example",
                         "127.0.0.1:" + QByteArray::number(m_server.plainPort()), "alice", "secret",
                         false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        QFile::setPermissions(bench.storePath(), QFile::ReadOwner | QFile::WriteOwner
                                                     | QFile::ReadGroup | QFile::ReadOther);

        Run run = runService({QStringLiteral("--check-once"), QStringLiteral("--dry-run")},
                             bench.storePath());
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(run.out.contains(QStringLiteral("alice@test.example: would remove message from "
                                                "x@spam.example, subject \"offer\"")));
        QVERIFY(run.out.contains(QStringLiteral("can be read by others than its owner")));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("alice"), 1));
        QCOMPARE(m_server.messages(QStringLiteral("alice")), QList<QByteArray>{spam});

        run = runService({QStringLiteral("--check-once")}, bench.storePath());
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(
            run.out.contains(QStringLiteral("alice@test.example: 1 message, 1 new, 1 removed")));
        QVERIFY(bench.log().contains(QStringLiteral("alice@test.example: removed message from")));
        QCOMPARE(mail::RemovedRecord(mail::removedRecordPathFor(bench.storePath())).read().size(),
                 1);
        QVERIFY(!run.out.contains(QStringLiteral("secret")));
        QVERIFY(!bench.log().contains(QStringLiteral("secret")));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("alice"), 2));
        QVERIFY(m_server.messages(QStringLiteral("alice")).isEmpty());

        // Either one of the group or anybody reading it learns the passwords.
        for (const QFile::Permission reader :
             {QFile::ReadGroup, QFile::ReadOther, QFile::ReadOwner}) {
            QFile::setPermissions(bench.storePath(), QFile::ReadOwner | QFile::WriteOwner | reader);
            QCOMPARE(mail::storePermissionWarning(bench.storePath()).isEmpty(),
                     reader == QFile::ReadOwner);
        }
    }

    void aFailedAccountMakesTheExitStatusOne()
    {
        MailTestBench bench;
        bench.addAccount("bob@test.example",
                         "127.0.0.1:" + QByteArray::number(m_server.plainPort()), "bob", "wrong",
                         false);
        const Run run = runService({QStringLiteral("--check-once")}, bench.storePath());
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.contains(QStringLiteral("bob@test.example: login refused")));
    }

    void aStoreThatIsNoStoreIsReported()
    {
        MailTestBench bench;
        QFile file(bench.storePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a database at all\n");
        file.close();
        const Run run = runService({QStringLiteral("--check-once")}, bench.storePath());
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.contains(QStringLiteral("the settings cannot be read")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("not a database at all\n"));
    }

    // A rule that would empty the mailbox is held until the person releases it; the other
    // rules go on; what went can be listed and saved again.
    void aRunawayRuleIsHeldUntilReleasedAndWhatWentCanBeSaved()
    {
        MailTestBench bench;
        QList<QByteArray> mailbox;
        for (int i = 0; i < 24; ++i)
            mailbox.append(testMail(QByteArray("friend") + QByteArray::number(i) + "@e.example",
                                    "hello " + QByteArray::number(i)));
        const QByteArray spam = testMail("x@spam.invalid", "offer");
        for (const QByteArray &message : mailbox + QList<QByteArray>{spam})
            m_server.deliver(QStringLiteral("bob"), message);
        bench.addAccount("bob@test.example",
                         "127.0.0.1:" + QByteArray::number(m_server.plainPort()), "bob", "secret",
                         false);
        bench.addPattern(store::kMailFilterKey, "*e*");
        bench.addPattern(store::kSubjectFilterKey, "offer");
        Run run = runService({QStringLiteral("--check-once")}, bench.storePath());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QStringLiteral("bob@test.example: 24 messages held: the rule "
                                                 "(MailFilter: *e*) would remove more than half")),
                 qPrintable(run.out));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("bob"), 1));
        QCOMPARE(m_server.messages(QStringLiteral("bob")), mailbox);

        run = runService({QStringLiteral("--release-held")}, bench.storePath());
        QVERIFY(run.out.contains(QStringLiteral("Released bob@test.example: MailFilter: *e*")));
        QCOMPARE(runService({QStringLiteral("--check-once")}, bench.storePath()).exitCode, 0);
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("bob"), 2));
        QVERIFY(m_server.messages(QStringLiteral("bob")).isEmpty());

        run = runService({QStringLiteral("--removed")}, bench.storePath());
        const QStringList listed = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(listed.size(), 25);
        const QString saved = bench.folder() + QStringLiteral("/saved.eml");
        const QString id =
            listed.filter(QStringLiteral("subject \"offer\"")).value(0).section(u' ', 0, 0);
        QCOMPARE(
            runService({QStringLiteral("--removed-save"), id, saved}, bench.storePath()).exitCode,
            0);
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), spam);
        QCOMPARE(
            runService({QStringLiteral("--removed-save"), QStringLiteral("../registry"), saved},
                       bench.storePath())
                .exitCode,
            1);
    }

    // What mail and servers put in a log line: never a terminal's controls, never a whole
    // message.
    void logLinesAreEscapedAndCut_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("logged");
        QTest::newRow("terminal title") << QStringLiteral("re: \x1b]0;owned\x07\x1b[2J end")
                                        << QStringLiteral("re: \\x1b]0;owned\\x07\\x1b[2J end");
        QTest::newRow("C1 controls")
            << QStringLiteral("a\u009b2Jb\u007f") << QStringLiteral("a\\x9b2Jb\\x7f");
        QTest::newRow("bidi and format controls")
            << QStringLiteral("invoice\u202etxt.exe\u2066\u200b\u2028")
            << QStringLiteral("invoice\\u202etxt.exe\\u2066\\u200b\\u2028");
        QTest::newRow("whole message")
            << QStringLiteral("subject \"") + QString(3'000'000, u'x')
            << QStringLiteral("subject \"") + QString(mail::MonitorLog::kMaxLineChars - 9, u'x')
                   + QStringLiteral("\u2026[cut]");
    }

    void logLinesAreEscapedAndCut()
    {
        QFETCH(QString, line);
        QFETCH(QString, logged);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ostrove.log"));
        mail::MonitorLog log(path);
        log.write(line);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll().mid(20)), logged + u'\n');
    }

    // However much one check writes, its first lines survive until the next check begins.
    void aCheckRotatesTheLogOnceAtMost()
    {
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::MonitorLog log(bench.logPath());
        log.beginCheck();
        log.write(QStringLiteral("first line of the check"));
        for (int i = 0; i < 2500; ++i)
            log.write(QString(2000, u'y'));
        QFile previous(bench.logPath() + QStringLiteral(".1"));
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QVERIFY((previous.readAll() + bench.log().toUtf8()).contains("first line of the check"));
        QVERIFY(QFileInfo(bench.logPath()).size() > mail::MonitorLog::kRotateBytes);

        mail::SettingsAndSeenState(bench.storePath(), log).check({});
        QVERIFY(QFileInfo(bench.logPath()).size() < 1000);
        QVERIFY(bench.log().contains(QStringLiteral("Check ends")));
    }

    // The files beside the store are not opened through links, nor kept in a folder others
    // may write; a store that cannot be read fails the check.
    void filesBesideTheStore_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saidOnOutput");
        QTest::addColumn<QString>("saidOnError");
        QTest::newRow("log is a link") << "log link" << false << 1 << "the log cannot be written ("
                                       << "";
        QTest::newRow("seen-state is a link") << "seen link" << false << 0 << "kept in memory only"
                                              << "";
        QTest::newRow("folder writable by others")
            << "shared folder" << false << 0 << "kept in memory only"
            << "may be written by others";
        QTest::newRow("folder writable by its group")
            << "group folder" << false << 0 << "kept in memory only"
            << "may be written by others";
        QTest::newRow("folder of another user")
            << "foreign folder" << false << 0 << "kept in memory only"
            << "belongs to another user";
        QTest::newRow("store missing")
            << "no store" << false << 1 << "Check failed: the settings cannot be read: "
            << "the settings cannot be read: %1: No such file";
        QTest::newRow("store unreadable")
            << "unreadable store" << true << 1 << "Check failed: the settings cannot be read: "
            << "the settings cannot be read: %1: Permission denied";
        QTest::newRow("store empty")
            << "empty store" << false << 1 << "Check failed: no settings are stored in"
            << "no settings are stored in %1 yet: set them up with OstroveConf";
        QTest::newRow("store without accounts")
            << "no accounts" << false << 0 << "Check: no accounts are set up"
            << "";
        QTest::newRow("log cannot be written")
            << "log dir" << false << 1 << "the log cannot be written ("
            << "";
        QTest::newRow("store locked by another program")
            << "locked store" << false << 1 << "Check failed: the settings are busy"
            << "";
        QTest::newRow("seen-state read-only")
            << "read-only seen" << true << 0
            << "Warning: the record of judged messages cannot be written"
            << "";
    }

    void filesBesideTheStore()
    {
        QFETCH(QString, setup);
        QFETCH(bool, asNobody);
        QFETCH(int, exitCode);
        QFETCH(QString, saidOnOutput);
        QFETCH(QString, saidOnError);
        MailTestBench bench;
        const QString folder = bench.folder();
        const QString seenPath = mail::seenStatePathFor(bench.storePath());
        const QString victim = folder + QStringLiteral("/victim");
        if (setup != QLatin1String("no store"))
            bench.addPattern(store::kMailFilterKey, "*@spam.example");
        if (setup == QLatin1String("empty store"))
            QVERIFY(QFile::resize(bench.storePath(), 0));
        if (setup == QLatin1String("log dir"))
            QVERIFY(QDir().mkdir(bench.logPath()));
        sqlite3 *locker = nullptr;
        const auto unlock = qScopeGuard([&locker] { sqlite3_close(locker); });
        if (setup == QLatin1String("locked store")) {
            QCOMPARE(sqlite3_open(QFile::encodeName(bench.storePath()).constData(), &locker),
                     SQLITE_OK);
            QCOMPARE(sqlite3_exec(locker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        if (setup == QLatin1String("log link")) {
            QVERIFY(QFile::link(victim, bench.logPath()));
        } else if (setup == QLatin1String("seen link")) {
            writeQuietly(victim, [](store::Access &access) {
                access.openOrCreate(store::kMailFilterKey)->writeString("theirs", QByteArray());
            });
            QVERIFY(QFile::link(victim, seenPath));
        } else if (setup == QLatin1String("shared folder")) {
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
        } else if (setup == QLatin1String("group folder")) {
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0770) == 0);
        } else if (setup == QLatin1String("foreign folder")) {
            QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
        } else if (setup == QLatin1String("unreadable store")) {
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        } else if (setup == QLatin1String("read-only seen")) {
            bench.addAccount("dave@test.example",
                             "127.0.0.1:" + QByteArray::number(m_server.plainPort()), "dave",
                             "secret", false);
            m_server.deliver(QStringLiteral("dave"), testMail("friend@good.example", "hi"));
            {
                mail::SeenState seen(seenPath);
            }
            for (const QString &path : {folder, bench.storePath(), seenPath})
                QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
            QVERIFY(::chmod(QFile::encodeName(seenPath).constData(), 0400) == 0);
        }
        const auto victimNow = [&victim] {
            QFile file(victim);
            return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll()) : std::nullopt;
        };
        const std::optional<QByteArray> victimBefore = victimNow();

        const Run run = runService({QStringLiteral("--check-once")}, bench.storePath(),
                                   asNobody ? kAsNobody : QStringList());
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(saidOnOutput), qPrintable(run.out));
        QVERIFY2(run.err.contains(saidOnError.arg(bench.storePath())), qPrintable(run.err));

        QVERIFY(victimNow() == victimBefore);
        if (setup.endsWith(QLatin1String("folder"))) {
            QVERIFY(!QFile::exists(bench.logPath()));
            QVERIFY(!QFile::exists(seenPath));
        }
        if (setup == QLatin1String("no store"))
            QVERIFY(!QFile::exists(bench.storePath()));
        if (setup == QLatin1String("read-only seen"))
            QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("dave"), 1));
    }

    // The whole product: what a person sets up in the configuration program's real window is
    // what the monitor removes.
    void whatTheWindowSetsUpIsWhatTheMonitorRemoves()
    {
        const QByteArray spam = testMail("Promo <deals@SPAM.example>", "deal");
        const QByteArray friendly = testMail("friend@good.example", "hello");
        const QByteArray lookalike = testMail("deals@spam.example.org", "close");
        for (const QByteArray &message : {friendly, spam, lookalike})
            m_server.deliver(QStringLiteral("carol"), message);

        WidgetTestSystem t;
        {
            TfrmOstrove window(t.system);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            t.scriptDialogs(
                {fillAccountDialog(QStringLiteral("carol@test.example"),
                                   QStringLiteral("127.0.0.1:%1").arg(m_server.plainPort()),
                                   QStringLiteral("carol"), QStringLiteral("secret"))});
            window.acAddAccount->trigger();
            QListWidget *navigation = window.lvDodatki;
            QTest::mouseClick(navigation->viewport(), Qt::LeftButton, {},
                              navigation->visualItemRect(navigation->item(1)).center());
            t.scriptDialogs({fillPatternDialog(QStringLiteral("*@spam.example"))});
            window.acAddMail->trigger();
            QCOMPARE(t.dialogsShown, 2);
            QCOMPARE(t.unfinishedScript(), QStringList());
            QVERIFY(t.prompts.shown.isEmpty());
        }

        const Run run = runService({QStringLiteral("--check-once")}, t.storePath);
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("carol"), 1));
        QCOMPARE(m_server.messages(QStringLiteral("carol")),
                 (QList<QByteArray>{friendly, lookalike}));
        QVERIFY(run.out.contains(QStringLiteral("(MailFilter: *@spam.example)")));
    }
};

QTEST_MAIN(TestMonitorProgram)
#include "tst_monitorprogram.moc"
