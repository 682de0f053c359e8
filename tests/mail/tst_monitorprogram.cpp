#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "TestSystem.h"
#include "accounts/Form_AddEditAccount.h"
#include "app/Form_Ostrove.h"
#include "filters/FilterEntryDialog.h"
#include "store/RegistryPaths.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runService(const QStringList &arguments, const QString &storePath)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(OSTROVE_SERVICE), arguments);
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
            run.out.contains(QStringLiteral("alice@test.example: 1 messages, 1 new, 1 removed")));
        QVERIFY(bench.log().contains(QStringLiteral("alice@test.example: removed message from")));
        QVERIFY(!run.out.contains(QStringLiteral("secret")));
        QVERIFY(!bench.log().contains(QStringLiteral("secret")));
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("alice"), 2));
        QVERIFY(m_server.messages(QStringLiteral("alice")).isEmpty());
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

    // The whole product: what a person sets up in the configuration program's real window is
    // what the monitor removes.
    void whatTheWindowSetsUpIsWhatTheMonitorRemoves()
    {
        const QByteArray spam = testMail("Promo <deals@SPAM.example>", "deal");
        const QByteArray friendly = testMail("friend@good.example", "hello");
        const QByteArray lookalike = testMail("deals@spam.example.org", "close");
        for (const QByteArray &message : {friendly, spam, lookalike})
            m_server.deliver(QStringLiteral("carol"), message);

        TestSystem t;
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
