#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "SystemdContainer.h"
#include "XvfbServer.h"
#include "store/RegistryPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

// The service under a real systemd, booted as PID 1 of a container: installed by OstroveService
// /install, started and stopped through the configuration program's own page, checking a
// Dovecot on the host's loopback; for the machine's system manager as root and for a user's
// own manager (a user with lingering).
class TestRealSystemd : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_server;
    SystemdContainer m_box;
    QString m_work; // in the build folder, so that no private /tmp of a unit hides it
    int m_users = 0;

    // Inside, the source folder (and the build folder in it) is at a fixed place that no
    // confinement of the unit hides, wherever the checkout is.
    static QString insidePath(const QString &hostPath)
    {
        const QString source = QStringLiteral(OSTROVE_SOURCE_DIR);
        return hostPath.startsWith(source)
                   ? QStringLiteral("/opt/ostrove") + hostPath.mid(source.size())
                   : hostPath;
    }

    static QByteArray mail(const QByteArray &from, const QByteArray &subject)
    {
        static int serial = 0;
        return "Message-ID: <" + QByteArray::number(++serial) + "@systemd.test>\r\nFrom: " + from
               + "\r\nSubject: " + subject + "\r\n\r\nHello.\r\n";
    }

    SystemdContainer::Run inside(const QStringList &command, const QString &user = QString())
    {
        return m_box.run(command, user);
    }

    // A Dovecot user with one message to remove and one to keep.
    QList<QByteArray> mailbox(QString *user)
    {
        *user = QStringLiteral("sys%1").arg(++m_users);
        m_server.addUser(*user, QStringLiteral("secret"));
        const QByteArray keep = mail("friend@good.example", "Lunch");
        m_server.deliver(*user, keep);
        m_server.deliver(*user, mail("x@spam.example", "Buy"));
        return {keep};
    }

    // Such a mailbox, and a store that says so.
    QList<QByteArray> mailboxFor(MailTestBench &bench, QString *user)
    {
        QList<QByteArray> kept = mailbox(user);
        bench.addAccount(user->toUtf8() + "@test.example",
                         "127.0.0.1:" + QByteArray::number(m_server.plainPort()), user->toUtf8(),
                         "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        return kept;
    }

    bool waitForMailbox(const QString &user, const QList<QByteArray> &expected)
    {
        const QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            if (m_server.messages(user) == expected)
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    // The tray programs running inside, one line each: the user they run as.
    QByteArray trayProgramUsers()
    {
        return inside({QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("for comm in $(grep -lx OstroveTray /proc/[0-9]*/comm); "
                                      "do stat -c %U ${comm%/comm}; done")})
            .output.trimmed();
    }

    // The page as a person uses it, as `user` with their environment.
    QByteArray clickOnThePage(const QStringList &controls, const QStringList &environment,
                              const QString &user = QString())
    {
        // Nothing of the test's own environment names a store for the page.
        QStringList command{QStringLiteral("env"),
                            QStringLiteral("-u"),
                            QStringLiteral("OSTROVE_REGISTRY"),
                            QStringLiteral("-u"),
                            QStringLiteral("XDG_CONFIG_HOME"),
                            QStringLiteral("ASAN_OPTIONS=detect_leaks=0")};
        command << environment << insidePath(QStringLiteral(OSTROVE_PAGE_DRIVER)) << controls;
        const SystemdContainer::Run run = inside(command, user);
        return run.output;
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (::geteuid() != 0)
            QSKIP("booting a container needs root");
        QVERIFY2(m_server.start(&why), qPrintable(why));
        m_work = QStringLiteral(OSTROVE_BUILD_DIR "/realsystemd-%1").arg(::getpid());
        QVERIFY(QDir().mkpath(m_work));
        QVERIFY(QFile::copy(m_server.caCertificatePath(), m_work + QStringLiteral("/ca.pem")));
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(m_box.boot({QStringLiteral(OSTROVE_SOURCE_DIR ":")
                             + insidePath(QStringLiteral(OSTROVE_SOURCE_DIR))},
                            {m_work + u':' + insidePath(m_work)}, &why),
                 qPrintable(why));
        qInfo("the container booted in %.2f s", m_box.bootSeconds());
        // The sanitizer build's leak check cannot run under the unit's confinement.
        const QByteArray sanitizers = "[Manager]\nDefaultEnvironment=ASAN_OPTIONS=detect_leaks=0\n";
        QVERIFY(
            m_box.writeFile(QStringLiteral("/etc/systemd/system.conf.d/tests.conf"), sanitizers));
        QVERIFY(m_box.writeFile(QStringLiteral("/etc/systemd/user.conf.d/tests.conf"), sanitizers));
        QCOMPARE(inside({QStringLiteral("systemctl"), QStringLiteral("daemon-reexec")}).exitCode,
                 0);
    }

    void cleanupTestCase()
    {
        m_box.powerOff();
        if (!m_work.isEmpty())
            QDir(m_work).removeRecursively();
    }

    void theMachinesServiceChecksAndStops()
    {
        MailTestBench bench(m_work);
        QString user;
        const QList<QByteArray> kept = mailboxFor(bench, &user);
        const QStringList environment{
            QStringLiteral("OSTROVE_REGISTRY=") + insidePath(bench.storePath()),
            QStringLiteral("SSL_CERT_FILE=") + insidePath(m_work) + QStringLiteral("/ca.pem")};
        QStringList install{QStringLiteral("env")};
        install << environment << insidePath(QStringLiteral(OSTROVE_SERVICE))
                << QStringLiteral("/install") << QStringLiteral("/silent");
        const SystemdContainer::Run installed = inside(install);
        QVERIFY2(installed.exitCode == 0, installed.output.constData());
        const QString unit = QStringLiteral("/etc/systemd/system/OstroveSvc.service");
        const SystemdContainer::Run verify =
            inside({QStringLiteral("systemd-analyze"), QStringLiteral("verify"), unit});
        QVERIFY2(verify.exitCode == 0 && verify.output.isEmpty(), verify.output.constData());
        QCOMPARE(inside({QStringLiteral("systemctl"), QStringLiteral("is-enabled"),
                         QStringLiteral("OstroveSvc")})
                     .output.trimmed(),
                 QByteArray("enabled"));
        const QByteArray security =
            inside({QStringLiteral("systemd-analyze"), QStringLiteral("security"),
                    QStringLiteral("OstroveSvc.service")})
                .output;
        const QRegularExpressionMatch exposure =
            QRegularExpression(QStringLiteral("Overall exposure level for OstroveSvc.service: "
                                              "([0-9.]+)"))
                .match(QString::fromUtf8(security));
        QVERIFY2(exposure.hasMatch(), security.constData());
        qInfo("systemd-analyze security: exposure %s", qPrintable(exposure.captured(1)));
        QVERIFY(exposure.captured(1).toDouble() <= 2.0);

        const QByteArray page =
            clickOnThePage({QStringLiteral("tsConfiguration"), QStringLiteral("rgService"),
                            QStringLiteral("btnStartService")},
                           environment);
        QVERIFY2(page.contains("btnStopService enabled"), page.constData());
        QVERIFY(waitForMailbox(user, kept));
        QVERIFY(inside({QStringLiteral("journalctl"), QStringLiteral("-u"),
                        QStringLiteral("OstroveSvc"), QStringLiteral("--no-pager")})
                    .output.contains("removed message from x@spam.example"));
        const QByteArray status =
            inside({QStringLiteral("systemctl"), QStringLiteral("status"),
                    QStringLiteral("OstroveSvc"), QStringLiteral("--no-pager")})
                .output;
        QVERIFY2(status.contains("Status: \"Last check: 1 account,")
                     && status.contains("1 removed"),
                 status.constData());

        QElapsedTimer stopping;
        stopping.start();
        const QByteArray stopped =
            clickOnThePage({QStringLiteral("tsConfiguration"), QStringLiteral("rgService"),
                            QStringLiteral("btnStopService")},
                           environment);
        qInfo("the page's Stop took %.2f s", double(stopping.elapsed()) / 1000.0);
        QVERIFY2(stopped.contains("btnStartService enabled"), stopped.constData());
        const QByteArray result =
            inside({QStringLiteral("systemctl"), QStringLiteral("show"), QStringLiteral("-p"),
                    QStringLiteral("Result"), QStringLiteral("OstroveSvc")})
                .output;
        QCOMPARE(result.trimmed(), QByteArray("Result=success"));

        // Uninstalled while it runs: stopped first, or it would run on without a unit file.
        QCOMPARE(inside({QStringLiteral("systemctl"), QStringLiteral("start"),
                         QStringLiteral("OstroveSvc")})
                     .exitCode,
                 0);
        install.removeOne(QStringLiteral("/silent"));
        install.replace(install.indexOf(QStringLiteral("/install")), QStringLiteral("/uninstall"));
        const SystemdContainer::Run uninstalled = inside(install);
        QVERIFY2(uninstalled.exitCode == 0
                     && uninstalled.output.startsWith("Stopped OstroveSvc.service\nDisabled"),
                 uninstalled.output.constData());
        QCOMPARE(inside({QStringLiteral("systemctl"), QStringLiteral("is-active"),
                         QStringLiteral("OstroveSvc")})
                     .output.trimmed(),
                 QByteArray("inactive"));
        QCOMPARE(inside({QStringLiteral("test"), QStringLiteral("-e"), unit}).exitCode, 1);
    }

    void aUsersOwnServiceChecksAndStops()
    {
        MailTestBench bench(m_work);
        QString user;
        const QList<QByteArray> kept = mailboxFor(bench, &user);
        QCOMPARE(inside({QStringLiteral("useradd"), QStringLiteral("-m"), QStringLiteral("ann")})
                     .exitCode,
                 0);
        QCOMPARE(inside({QStringLiteral("loginctl"), QStringLiteral("enable-linger"),
                         QStringLiteral("ann")})
                     .exitCode,
                 0);
        const QString uid = QString::fromLatin1(
            inside({QStringLiteral("id"), QStringLiteral("-u"), QStringLiteral("ann")})
                .output.trimmed());
        const QString runtime = QStringLiteral("/run/user/") + uid;
        QDeadlineTimer deadline(30000);
        while (
            inside({QStringLiteral("test"), QStringLiteral("-S"), runtime + QStringLiteral("/bus")})
                .exitCode
            != 0) {
            QVERIFY2(!deadline.hasExpired(), "the user's manager did not start");
            QThread::msleep(100);
        }
        // Ann's own store, where her programs look for it when OSTROVE_REGISTRY is not set.
        const QString store = QStringLiteral("/home/ann/.config/ostrove/registry.db");
        QCOMPARE(inside({QStringLiteral("install"), QStringLiteral("-d"), QStringLiteral("-o"),
                         QStringLiteral("ann"), QStringLiteral("-g"), QStringLiteral("ann"),
                         QStringLiteral("/home/ann/.config"),
                         QStringLiteral("/home/ann/.config/ostrove")})
                     .exitCode,
                 0);
        QCOMPARE(inside({QStringLiteral("install"), QStringLiteral("-o"), QStringLiteral("ann"),
                         QStringLiteral("-m"), QStringLiteral("600"), insidePath(bench.storePath()),
                         store})
                     .exitCode,
                 0);
        const QStringList environment{QStringLiteral("XDG_RUNTIME_DIR=") + runtime,
                                      QStringLiteral("SSL_CERT_FILE=") + insidePath(m_work)
                                          + QStringLiteral("/ca.pem")};
        QStringList install{QStringLiteral("env")};
        install << environment << insidePath(QStringLiteral(OSTROVE_SERVICE))
                << QStringLiteral("/install") << QStringLiteral("/silent");
        const SystemdContainer::Run installed = inside(install, QStringLiteral("ann"));
        QVERIFY2(installed.exitCode == 0, installed.output.constData());
        const QString unit = QStringLiteral("/home/ann/.config/systemd/user/OstroveSvc.service");
        QCOMPARE(inside({QStringLiteral("test"), QStringLiteral("-f"), unit}).exitCode, 0);

        const QByteArray page =
            clickOnThePage({QStringLiteral("tsConfiguration"), QStringLiteral("rgService"),
                            QStringLiteral("btnStartService")},
                           environment, QStringLiteral("ann"));
        QVERIFY2(page.contains("btnStopService enabled"), page.constData());
        const bool checked = waitForMailbox(user, kept);
        const QByteArray journal =
            inside({QStringLiteral("journalctl"), QStringLiteral("--no-pager"),
                    QStringLiteral("_SYSTEMD_USER_UNIT=OstroveSvc.service")})
                .output;
        QVERIFY2(checked && journal.contains("removed message from x@spam.example"),
                 journal.constData());
        const QByteArray stopped =
            clickOnThePage({QStringLiteral("tsConfiguration"), QStringLiteral("rgService"),
                            QStringLiteral("btnStopService")},
                           environment, QStringLiteral("ann"));
        QVERIFY2(stopped.contains("btnStartService enabled"), stopped.constData());
        // A stopped service is not stopped again, and not said to be.
        install.removeOne(QStringLiteral("/silent"));
        install.replace(install.indexOf(QStringLiteral("/install")), QStringLiteral("/uninstall"));
        const SystemdContainer::Run uninstalled = inside(install, QStringLiteral("ann"));
        QVERIFY2(uninstalled.exitCode == 0 && uninstalled.output.startsWith("Disabled"),
                 uninstalled.output.constData());
        QCOMPARE(inside({QStringLiteral("test"), QStringLiteral("-e"), unit}).exitCode, 1);
    }

    // A person who is not root, on a fresh store of their own: an account through the accounts
    // page's dialog, a sender filter through its page, then the tray mode's Start. Their tray
    // program checks with what they entered, and the page's Stop finds its window and ends it.
    void aUserFillsAFreshStoreAndRunsTheTray()
    {
        QString user;
        const QList<QByteArray> kept = mailbox(&user);
        // The host's X server: the container shares the host's network, and with it the
        // server's abstract socket.
        XvfbServer xvfb(m_work + QStringLiteral("/xvfb.log"));
        QString why;
        QVERIFY2(xvfb.start(&why), qPrintable(why));
        QCOMPARE(inside({QStringLiteral("useradd"), QStringLiteral("-m"), QStringLiteral("bea")})
                     .exitCode,
                 0);
        // The tray program has the environment of the page that starts it: the display, and
        // the authority that the Dovecot's certificate comes from.
        const QStringList environment{
            QStringLiteral("DISPLAY=") + QString::fromLatin1(xvfb.display()),
            QStringLiteral("SSL_CERT_FILE=") + insidePath(m_work) + QStringLiteral("/ca.pem")};

        const QByteArray filled =
            clickOnThePage({QStringLiteral("tsAccounts"), QStringLiteral("btnAddAccount"),
                            QStringLiteral("edEmail=bea@test.example"),
                            QStringLiteral("edPop3=127.0.0.1:%1").arg(m_server.plainPort()),
                            QStringLiteral("edLogin=") + user, QStringLiteral("edPassword=secret"),
                            QStringLiteral("btnOK"), QStringLiteral("tsIgnoreMail"),
                            QStringLiteral("btnAddMail"), QStringLiteral("edEmail=*@spam.example"),
                            QStringLiteral("btnOK"), QStringLiteral("tsConfiguration"),
                            QStringLiteral("rbTray"), QStringLiteral("btnStartTray")},
                           environment, QStringLiteral("bea"));
        QVERIFY2(filled.contains("row: bea@test.example\n")
                     && filled.contains("row: *@spam.example\n")
                     && filled.mid(filled.indexOf("click btnStartTray"))
                            .contains("btnStartTray disabled\nbtnStopTray enabled\n")
                     && !filled.contains("message:"),
                 filled.constData());
        const bool checked = waitForMailbox(user, kept);
        const QString folder = QStringLiteral("/home/bea/.config/ostrove");
        const QByteArray log =
            inside({QStringLiteral("cat"), folder + QStringLiteral("/Ostrove.log")}).output;
        QVERIFY2(checked && log.contains("removed message from x@spam.example"), log.constData());
        QCOMPARE(trayProgramUsers(), QByteArray("bea"));
        QCOMPARE(inside({QStringLiteral("stat"), QStringLiteral("-c"), QStringLiteral("%a %U"),
                         folder, folder + QStringLiteral("/registry.db")})
                     .output,
                 QByteArray("700 bea\n600 bea\n"));

        const QByteArray stopped =
            clickOnThePage({QStringLiteral("tsConfiguration"), QStringLiteral("btnStopTray")},
                           environment, QStringLiteral("bea"));
        // The page finds the tray's window when it shows, and only then may Stop be clicked.
        const qsizetype click = stopped.indexOf("click btnStopTray");
        QVERIFY2(click > 0
                     && stopped.left(click).contains("btnStartTray disabled\nbtnStopTray enabled\n")
                     && stopped.mid(click).contains("btnStartTray enabled\nbtnStopTray disabled\n"),
                 stopped.constData());
        QDeadlineTimer deadline(5000);
        while (!trayProgramUsers().isEmpty()) {
            QVERIFY2(!deadline.hasExpired(), "the tray program did not end");
            QThread::msleep(100);
        }
        QVERIFY(inside({QStringLiteral("cat"), folder + QStringLiteral("/Ostrove.log")})
                    .output.trimmed()
                    .endsWith("Tray program ends"));
    }
};

QTEST_GUILESS_MAIN(TestRealSystemd)
#include "tst_realsystemd.moc"
