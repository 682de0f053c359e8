#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "Pop3Proxy.h"
#include "QuietWrite.h"
#include "mail/RemovedRecord.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What systemd hears from a service of Type=notify: a datagram socket named by NOTIFY_SOCKET.
class NotifyListener
{
public:
    explicit NotifyListener(const QString &path)
        : m_path(path)
    {
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(),
                    std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1));
        if (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("cannot bind the notification socket %s", name.constData());
    }
    ~NotifyListener() { ::close(m_socket); }

    // Everything received so far, one datagram a line.
    QString received()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            m_received += QString::fromUtf8(buffer, got) + u'\n';
        }
        return m_received;
    }

private:
    QString m_path;
    int m_socket = -1;
    QString m_received;
};

QByteArray spam(const QByteArray &subject)
{
    return "From: seller@spam.example\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject
           + "@spam.example>\r\n\r\nBuy now.\r\n";
}

} // namespace

// OstroveService without arguments, as systemd runs it, against a real Dovecot server.
class TestServiceDaemon : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_server;

    // A test interval of "0" leaves the daemon the stored one.
    void startDaemon(QProcess &daemon, const MailTestBench &bench, const QString &notifySocket,
                     const QString &testSeconds = QStringLiteral("1"))
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), bench.storePath());
        environment.insert(QStringLiteral("OSTROVE_TEST_INTERVAL_SECONDS"), testSeconds);
        environment.insert(QStringLiteral("SSL_CERT_FILE"), m_server.caCertificatePath());
        environment.insert(QStringLiteral("NOTIFY_SOCKET"), notifySocket);
        daemon.setProcessEnvironment(environment);
        daemon.start(QStringLiteral(OSTROVE_SERVICE), QStringList());
        QVERIFY(daemon.waitForStarted());
    }

    static bool stopDaemon(QProcess &daemon, qint64 *milliseconds = nullptr)
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(daemon.processId()), SIGTERM);
        const bool ended = daemon.waitForFinished(10000);
        if (milliseconds)
            *milliseconds = clock.elapsed();
        if (!(ended && daemon.exitStatus() == QProcess::NormalExit && daemon.exitCode() == 0))
            qWarning("the daemon ended %s with status %d after %lld ms: %s", ended ? "" : "not",
                     daemon.exitCode(), qint64(clock.elapsed()), daemon.readAll().constData());
        return ended && daemon.exitStatus() == QProcess::NormalExit && daemon.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        m_server.addUser(QStringLiteral("dana"), QStringLiteral("secret"));
        m_server.addUser(QStringLiteral("slow"), QStringLiteral("secret"));
    }

    void checksAtOnceThenAtTheIntervalWithTheSettingsReadAnew()
    {
        MailTestBench bench;
        bench.addAccount("dana@test.example",
                         "127.0.0.1:" + QByteArray::number(m_server.plainPort()), "dana", "secret",
                         false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const QByteArray first = spam("first");
        const QByteArray friendly = "From: friend@good.example\r\nSubject: lunch\r\n\r\nHi.\r\n";
        m_server.deliver(QStringLiteral("dana"), first);
        m_server.deliver(QStringLiteral("dana"), friendly);

        NotifyListener notify(bench.folder() + QStringLiteral("/notify"));
        QProcess daemon;
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        startDaemon(daemon, bench, bench.folder() + QStringLiteral("/notify"));
        QTRY_VERIFY_WITH_TIMEOUT(notify.received().contains(QStringLiteral("READY=1")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.messages(QStringLiteral("dana")),
                                  QList<QByteArray>{friendly}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            notify.received().contains(QStringLiteral("STATUS=Last check: 1 account,")), 10000);

        // New mail is found at the next check.
        const QByteArray second = spam("second");
        m_server.deliver(QStringLiteral("dana"), second);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.messages(QStringLiteral("dana")),
                                  QList<QByteArray>{friendly}, 10000);

        // A rule added meanwhile is in force at the next check.
        bench.addPattern(store::kSubjectFilterKey, "lunch");
        QTRY_VERIFY_WITH_TIMEOUT(m_server.messages(QStringLiteral("dana")).isEmpty(), 10000);

        QVERIFY(stopDaemon(daemon));
        QVERIFY(notify.received().contains(QStringLiteral("STOPPING=1")));
        const QString journal = QString::fromUtf8(daemon.readAll());
        QVERIFY2(journal.contains(QStringLiteral("dana@test.example: removed message from "
                                                 "seller@spam.example, subject \"second\"")),
                 qPrintable(journal)); // each log line also goes to the journal
        QVERIFY(bench.log().contains(QStringLiteral("OstroveService stops")));
        // The tray's "Removed mail" window reads what the service removed.
        QFile record(mail::removedRecordPathFor(bench.storePath()));
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(record.readAll().count("\"subject\":\"second\""), 1);
    }

    // 20 minutes changed to 1 while the service waits: in force at once. A store replaced
    // whole, missing for a moment, is no change to the default of 15.
    void aNewIntervalIsInForceWhileTheServiceWaits()
    {
        MailTestBench bench;
        const auto interval = [&bench](qint32 minutes) {
            writeQuietly(bench.storePath(), [minutes](store::Access &access) {
                access.openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, minutes);
            });
        };
        interval(20);
        NotifyListener notify(bench.folder() + QStringLiteral("/notify"));
        QProcess daemon;
        startDaemon(daemon, bench, bench.folder() + QStringLiteral("/notify"), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(notify.received().contains(QStringLiteral("; next in 20 min")),
                                 10000);
        const QString aside = bench.storePath() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(bench.storePath(), aside));
        QTest::qWait(300);
        QVERIFY(QFile::rename(aside, bench.storePath()));
        interval(1);
        QTRY_VERIFY_WITH_TIMEOUT(notify.received().contains(QStringLiteral("; next in 1 min")),
                                 10000);
        QVERIFY(!notify.received().contains(QStringLiteral("; next in 15 min")));
        QVERIFY(stopDaemon(daemon));
    }

    void aStopRequestDuringASlowServerEndsAtOnceRemovingNothing()
    {
        auto proxy = std::make_unique<Pop3Proxy>(m_server.plainPort());
        QVERIFY(proxy->start());
        proxy->setHideStls(true);
        proxy->stallOnCommand("DELE"); // marked for deletion, but the server never answers
        MailTestBench bench;
        bench.addAccount("slow@test.example", "127.0.0.1:" + QByteArray::number(proxy->port()),
                         "slow", "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const QByteArray message = spam("kept");
        m_server.deliver(QStringLiteral("slow"), message);

        QProcess daemon;
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        startDaemon(daemon, bench, bench.folder() + QStringLiteral("/notify"));
        QTRY_COMPARE_WITH_TIMEOUT(proxy->faultCount(), 1, 10000);
        qint64 took = 0;
        QVERIFY(stopDaemon(daemon, &took));
        qInfo("the daemon stopped %lld ms after SIGTERM", took);
        QVERIFY(!proxy->clientData(0).contains("QUIT"));
        proxy.reset(); // the server's side of the session ends without QUIT
        QVERIFY(m_server.waitForSessionsEnded(QStringLiteral("slow"), 1));
        QCOMPARE(m_server.messages(QStringLiteral("slow")), QList<QByteArray>{message});
        QVERIFY(bench.log().contains(QStringLiteral("slow@test.example: stopped")));
    }

    // The monitor programs hold the passwords: neither a core file nor a debugger of their
    // user may see their memory. The kernel gives the /proc files of such a process to root.
    void theMonitorProgramsCannotBeDumped_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("service") << QStringLiteral(OSTROVE_SERVICE);
        QTest::newRow("tray") << QStringLiteral(OSTROVE_TRAY);
    }

    void theMonitorProgramsCannotBeDumped()
    {
        QFETCH(QString, program);
        MailTestBench bench; // its folder is root's: the store cannot be read by nobody
        QProcess monitor;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), bench.storePath());
        environment.insert(QStringLiteral("OSTROVE_TEST_INTERVAL_SECONDS"), QStringLiteral("60"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.remove(QStringLiteral("NOTIFY_SOCKET"));
        monitor.setProcessEnvironment(environment);
        monitor.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), program});
        QVERIFY(monitor.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += monitor.readAllStandardError()).contains("the settings cannot be read"),
            10000);
        const QFileInfo status(QStringLiteral("/proc/%1/status").arg(monitor.processId()));
        QCOMPARE(status.ownerId(), 0u);
        QCOMPARE(QFileInfo(status.path() + QStringLiteral("/exe")).symLinkTarget(), program);
        QVERIFY(stopDaemon(monitor));
    }
};

QTEST_GUILESS_MAIN(TestServiceDaemon)
#include "tst_servicedaemon.moc"
