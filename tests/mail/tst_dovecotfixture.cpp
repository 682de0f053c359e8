#include "DovecotServer.h"
#include "Pop3Proxy.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

#include <algorithm>
#include <csignal>

// A small blocking POP3 client, written independently of the engine so the fixture can be
// trusted when the engine's tests use it.
class PopClient
{
public:
    bool connectPlain(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }

    bool connectTls(quint16 port, const QString &caPath)
    {
        trust(caPath);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForEncrypted(5000);
    }

    bool startTls(const QString &caPath)
    {
        trust(caPath);
        m_socket.startClientEncryption();
        return m_socket.waitForEncrypted(5000);
    }

    // One reply line with its CRLF, or empty when none came in time.
    QByteArray line(int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_socket.canReadLine()) {
            if (deadline.hasExpired()
                || !m_socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return {};
        }
        return m_socket.readLine();
    }

    QByteArray command(const QByteArray &text)
    {
        send(text);
        return line();
    }

    void send(const QByteArray &text)
    {
        m_socket.write(text + "\r\n");
        m_socket.waitForBytesWritten(5000);
    }

    // The lines of a multi-line answer after its "+OK" line, dot-stuffing undone.
    QByteArray body()
    {
        QByteArray text;
        while (true) {
            const QByteArray next = line();
            if (next.isEmpty() || next == ".\r\n")
                return text;
            text += next.startsWith("..") ? next.mid(1) : next;
        }
    }

    bool login(const QByteArray &user, const QByteArray &password)
    {
        return command("USER " + user).startsWith("+OK")
               && command("PASS " + password).startsWith("+OK");
    }

    // Bytes until the server closes, or empty-handed after the timeout.
    QByteArray rest(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        QByteArray all;
        while (true) {
            if (m_socket.bytesAvailable() > 0)
                all += m_socket.readAll();
            if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
                return all;
            m_socket.waitForReadyRead(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
        }
    }

    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    QSslSocket &socket() { return m_socket; }

private:
    void trust(const QString &caPath)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslCertificate::fromPath(caPath));
        m_socket.setSslConfiguration(config);
        m_socket.setPeerVerifyName(QStringLiteral("localhost"));
    }

    QSslSocket m_socket;
};

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body)
{
    return "Date: Mon, 07 Dec 2026 10:00:00 +0100\r\n"
           "Message-ID: <"
           + subject
           + "@test.example>\r\n"
             "From: sender@example.org\r\n"
             "To: alice@example.com\r\n"
             "Subject: "
           + subject
           + "\r\n"
             "MIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=us-ascii\r\n"
             "\r\n"
           + body;
}

int processesTitled(const QByteArray &prefix)
{
    int found = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith(prefix))
            ++found;
    }
    return found;
}

// The usual start of a test; a failure to start is reported with its reason.
bool startWithAlice(DovecotServer &server)
{
    server.addUser(QStringLiteral("alice"), QStringLiteral("secret:1"));
    QString error;
    if (server.start(&error))
        return true;
    qWarning("%s", qPrintable(error));
    return false;
}

QList<QByteArray> uidls(PopClient &client)
{
    QList<QByteArray> ids;
    if (!client.command("UIDL").startsWith("+OK"))
        return ids;
    const QList<QByteArray> lines = client.body().split('\n');
    for (const QByteArray &entry : lines) {
        if (!entry.trimmed().isEmpty())
            ids << entry.trimmed().split(' ').value(1);
    }
    return ids;
}

} // namespace

class TestDovecotFixture : public QObject
{
    Q_OBJECT

private slots:
    void startsAndStopsCompletely();
    void sessionsOverPlainAndTlsDeleteOnlyOnQuit();
    void stlsUpgradesThePlainPort();
    void wrongPasswordIsRefusedQuickly();
    void userAddedAfterStartLogsInAtOnce();
    void deliveredBytesAreKeptAsGiven();
    void freshServersHandOutDifferentUidls();
    void sessionEndedWithoutQuitKeepsMail();

    void proxyPassesSessionsThrough();
    void proxyCutBeforeQuitKeepsMail();
    void proxyCutsInsideAReply();
    void proxyStallsAfterACommand();
    void proxyStallsBeforeTheGreeting();
    void proxyDelaysReplies();
    void proxyHidesStls();
};

void TestDovecotFixture::startsAndStopsCompletely()
{
    DovecotServer server;
    QElapsedTimer clock;
    clock.start();
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    qInfo("Dovecot started in %lld ms", clock.elapsed());
    QVERIFY(server.plainPort() != 0);
    QVERIFY(server.tlsPort() != 0);
    QVERIFY(server.plainPort() != server.tlsPort());
    const auto pid = static_cast<pid_t>(server.processId());
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid, 0), 0);
    QVERIFY(processesTitled("dovecot-" + server.instanceName().toLatin1() + '/') > 0);

    server.stop();
    QVERIFY(!server.isRunning());
    QCOMPARE(::kill(pid, 0), -1);
    QCOMPARE(processesTitled("dovecot-" + server.instanceName().toLatin1() + '/'), 0);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, server.plainPort());
    QVERIFY(!probe.waitForConnected(1000));
}

void TestDovecotFixture::sessionsOverPlainAndTlsDeleteOnlyOnQuit()
{
    DovecotServer server;
    server.addUser(QStringLiteral("alice"), QStringLiteral("secret:1"));
    const QByteArray first = mail("first", "One line.\r\n.A line that starts with a dot.\r\n");
    const QByteArray second = mail("second", "Two.\r\n");
    server.deliver(QStringLiteral("alice"), first);
    server.deliver(QStringLiteral("alice"), second);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    PopClient plain;
    QVERIFY(plain.connectPlain(server.plainPort()));
    QVERIFY(plain.line().startsWith("+OK"));
    QVERIFY(plain.command("CAPA").startsWith("+OK"));
    const QByteArray capabilities = plain.body();
    QVERIFY(capabilities.contains("PIPELINING\r\n"));
    QVERIFY(capabilities.contains("STLS\r\n"));
    QVERIFY(plain.login("alice", "secret:1"));
    const QList<QByteArray> plainIds = uidls(plain);
    QCOMPARE(plainIds.size(), 2);
    QVERIFY(plainIds.at(0) != plainIds.at(1));
    QVERIFY(plain.command("RETR 1").startsWith("+OK"));
    QCOMPARE(plain.body(), first);
    QVERIFY(plain.command("QUIT").startsWith("+OK"));

    PopClient tls;
    QVERIFY2(tls.connectTls(server.tlsPort(), server.caCertificatePath()),
             qPrintable(tls.socket().errorString()));
    QVERIFY(tls.line().startsWith("+OK"));
    QVERIFY(tls.login("alice", "secret:1"));
    QCOMPARE(uidls(tls), plainIds);
    QVERIFY(tls.command("TOP 2 0").startsWith("+OK"));
    QVERIFY(tls.body().startsWith("Date: "));
    QVERIFY(tls.command("DELE 1").startsWith("+OK"));
    // Marked, not gone: the first session's deletions wait for QUIT.
    QCOMPARE(server.messages(QStringLiteral("alice")).size(), 2);
    QVERIFY(tls.command("QUIT").startsWith("+OK"));

    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice"), 2));
    QCOMPARE(server.messages(QStringLiteral("alice")), QList<QByteArray>{second});
    const QByteArray commands = server.clientCommands(QStringLiteral("alice"));
    QCOMPARE(commands.count("DELE 1\r\n"), 1);
    QCOMPARE(commands.count("RETR "), 1);
    QCOMPARE(commands.count("TOP "), 1);
    QCOMPARE(commands.count("QUIT\r\n"), 2);
    QVERIFY(commands.indexOf("RETR 1") < commands.indexOf("DELE 1"));
    QVERIFY(!commands.contains("secret")); // the rawlog starts after login
    QVERIFY(server.logText().contains(QStringLiteral("del=1/2")));
}

void TestDovecotFixture::stlsUpgradesThePlainPort()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    server.deliver(QStringLiteral("alice"), mail("one", "1\r\n"));

    PopClient client;
    QVERIFY(client.connectPlain(server.plainPort()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.command("STLS").startsWith("+OK"));
    QVERIFY2(client.startTls(server.caCertificatePath()),
             qPrintable(client.socket().errorString()));
    QVERIFY(client.login("alice", "secret:1"));
    QCOMPARE(client.command("STAT").left(5), QByteArray("+OK 1"));
    QVERIFY(client.command("QUIT").startsWith("+OK"));
    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice")));
    QVERIFY(server.logText().contains(QStringLiteral("method=PLAIN, rip=127.0.0.1")));
    const QStringList lines = server.logText().split(QLatin1Char('\n'));
    const auto tlsLogins = std::count_if(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line.contains(QStringLiteral("Login: user=<alice>"))
               && line.contains(QStringLiteral(", TLS,"));
    });
    QCOMPARE(tlsLogins, 1);
}

void TestDovecotFixture::wrongPasswordIsRefusedQuickly()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    // Several in a row: the server's growing penalty for repeated failures must be off too.
    for (int attempt = 0; attempt < 3; ++attempt) {
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.command("USER alice").startsWith("+OK"));
        QVERIFY(client.command("PASS wrong").startsWith("-ERR"));
    }
    PopClient client;
    QVERIFY(client.connectPlain(server.plainPort()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("alice", "secret:1"));
}

void TestDovecotFixture::userAddedAfterStartLogsInAtOnce()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    // A refused login first makes the server read the password file in this second.
    {
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(!client.login("bob", "pw"));
    }
    server.addUser(QStringLiteral("bob"), QStringLiteral("pw"));
    {
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.login("bob", "pw"));
    }
    server.addUser(QStringLiteral("bob"), QStringLiteral("pX"));
    {
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(!client.login("bob", "pw"));
    }
    PopClient client;
    QVERIFY(client.connectPlain(server.plainPort()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("bob", "pX"));
}

void TestDovecotFixture::deliveredBytesAreKeptAsGiven()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    const QByteArray lf = "From: a@example.org\nSubject: bare LF\n\nbody\n";
    const QByteArray crlf = mail("crlf", "body\r\n");
    const QString name = server.deliver(QStringLiteral("alice"), lf);
    server.deliver(QStringLiteral("alice"), crlf);
    QVERIFY(name.endsWith(QStringLiteral(",S=%1").arg(lf.size())));
    QFile file(server.maildirPath(QStringLiteral("alice")) + QStringLiteral("/new/") + name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), lf);
    QCOMPARE(server.messages(QStringLiteral("alice")), (QList<QByteArray>{lf, crlf}));

    // The server reads them (moving them to cur/) and still the maildir holds the same bytes.
    PopClient client;
    QVERIFY(client.connectPlain(server.plainPort()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("alice", "secret:1"));
    QVERIFY(client.command("RETR 1").startsWith("+OK"));
    // POP3 sends lines with CRLF whatever the file holds.
    QCOMPARE(client.body(), QByteArray(lf).replace("\n", "\r\n"));
    QVERIFY(client.command("QUIT").startsWith("+OK"));
    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice")));
    QCOMPARE(server.messages(QStringLiteral("alice")), (QList<QByteArray>{lf, crlf}));
}

void TestDovecotFixture::freshServersHandOutDifferentUidls()
{
    QList<QByteArray> seen;
    for (int round = 0; round < 2; ++round) {
        DovecotServer server;
        QVERIFY(startWithAlice(server));
        server.deliver(QStringLiteral("alice"), mail("same", "same\r\n"));
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.login("alice", "secret:1"));
        const QList<QByteArray> ids = uidls(client);
        QCOMPARE(ids.size(), 1);
        seen << ids.first();
    }
    QVERIFY2(seen.at(0) != seen.at(1), seen.at(0).constData());
}

void TestDovecotFixture::sessionEndedWithoutQuitKeepsMail()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    const QByteArray only = mail("keep", "keep\r\n");
    server.deliver(QStringLiteral("alice"), only);
    {
        PopClient client;
        QVERIFY(client.connectPlain(server.plainPort()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.login("alice", "secret:1"));
        QVERIFY(client.command("DELE 1").startsWith("+OK"));
        client.socket().abort();
    }
    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice")));
    QCOMPARE(server.endedSessionCount(QStringLiteral("alice")), 1);
    QCOMPARE(server.messages(QStringLiteral("alice")), QList<QByteArray>{only});
}

void TestDovecotFixture::proxyPassesSessionsThrough()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    const QByteArray only = mail("through", "through\r\n");
    server.deliver(QStringLiteral("alice"), only);
    Pop3Proxy proxy(server.plainPort());
    QString error;
    QVERIFY2(proxy.start(&error), qPrintable(error));

    for (int round = 0; round < 2; ++round) {
        PopClient client;
        QVERIFY(client.connectPlain(proxy.port()));
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.login("alice", "secret:1"));
        // Pipelined, as the engine may send them.
        client.send("RETR 1\r\nNOOP");
        QVERIFY(client.line().startsWith("+OK"));
        QCOMPARE(client.body(), only);
        QVERIFY(client.line().startsWith("+OK"));
        QVERIFY(client.command("QUIT").startsWith("+OK"));
    }
    QCOMPARE(proxy.connectionCount(), 2);
    QCOMPARE(proxy.faultCount(), 0);
    QVERIFY(proxy.clientData(1).endsWith("QUIT\r\n"));
    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice"), 2));
    QCOMPARE(server.clientCommands(QStringLiteral("alice")).count("RETR 1\r\n"), 2);
}

void TestDovecotFixture::proxyCutBeforeQuitKeepsMail()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    const QByteArray only = mail("cut", "cut\r\n");
    server.deliver(QStringLiteral("alice"), only);
    Pop3Proxy proxy(server.plainPort());
    proxy.cutOnCommand("quit");
    QVERIFY(proxy.start());

    PopClient client;
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("alice", "secret:1"));
    QVERIFY(client.command("DELE 1").startsWith("+OK"));
    QVERIFY(client.command("QUIT").isEmpty());
    QVERIFY(!client.isConnected() || client.rest(2000).isEmpty());
    QVERIFY(!client.isConnected());

    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice")));
    QCOMPARE(proxy.faultCount(), 1);
    QVERIFY(proxy.clientData(0).endsWith("DELE 1\r\nQUIT\r\n"));
    const QByteArray commands = server.clientCommands(QStringLiteral("alice"));
    QVERIFY(commands.contains("DELE 1"));
    QVERIFY(!commands.contains("QUIT"));
    QCOMPARE(server.messages(QStringLiteral("alice")), QList<QByteArray>{only});
}

void TestDovecotFixture::proxyCutsInsideAReply()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    server.deliver(QStringLiteral("alice"), mail("long", QByteArray(4000, 'x') + "\r\n"));
    Pop3Proxy proxy(server.plainPort());
    proxy.cutOnCommand("RETR", 100);
    QVERIFY(proxy.start());

    PopClient client;
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("alice", "secret:1"));
    client.send("RETR 1");
    const QByteArray got = client.rest(3000);
    QCOMPARE(got.size(), 100);
    QVERIFY(got.startsWith("+OK"));
    QVERIFY(!client.isConnected());
    QCOMPARE(proxy.faultCount(), 1);
}

void TestDovecotFixture::proxyStallsAfterACommand()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    server.deliver(QStringLiteral("alice"), mail("stall", "stall\r\n"));
    Pop3Proxy proxy(server.plainPort());
    proxy.stallOnCommand("RETR");
    QVERIFY(proxy.start());

    PopClient client;
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.login("alice", "secret:1"));
    client.send("RETR 1");
    QVERIFY(client.line(700).isEmpty());
    client.send("DELE 1\r\nQUIT");
    QVERIFY(client.line(300).isEmpty());
    QVERIFY(client.isConnected());
    QCOMPARE(proxy.faultCount(), 1);
    QVERIFY(proxy.clientData(0).endsWith("QUIT\r\n"));
    client.socket().abort();
    QVERIFY(server.waitForSessionsEnded(QStringLiteral("alice")));
    QVERIFY(!server.clientCommands(QStringLiteral("alice")).contains("DELE"));
    QCOMPARE(server.messages(QStringLiteral("alice")).size(), 1);
}

void TestDovecotFixture::proxyStallsBeforeTheGreeting()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    Pop3Proxy proxy(server.plainPort());
    proxy.stallOnCommand(QByteArray());
    QVERIFY(proxy.start());
    PopClient client;
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line(700).isEmpty());
    QVERIFY(client.isConnected());

    // The next session is as configured now.
    proxy.passThrough();
    PopClient next;
    QVERIFY(next.connectPlain(proxy.port()));
    QVERIFY(next.line().startsWith("+OK"));
}

void TestDovecotFixture::proxyDelaysReplies()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    Pop3Proxy proxy(server.plainPort());
    proxy.setReplyDelay(300);
    QVERIFY(proxy.start());
    PopClient client;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(clock.elapsed() >= 300);
    clock.restart();
    QVERIFY(client.command("NOOP").isEmpty() == false);
    const qint64 noopMs = clock.elapsed();
    QVERIFY2(noopMs >= 300, qPrintable(QString::number(noopMs)));
}

void TestDovecotFixture::proxyHidesStls()
{
    DovecotServer server;
    QVERIFY(startWithAlice(server));
    Pop3Proxy proxy(server.plainPort());
    proxy.setHideStls(true);
    QVERIFY(proxy.start());
    PopClient client;
    QVERIFY(client.connectPlain(proxy.port()));
    QVERIFY(client.line().startsWith("+OK"));
    client.send("CAPA\r\nUSER alice");
    QVERIFY(client.line().startsWith("+OK"));
    const QByteArray capabilities = client.body();
    QVERIFY(capabilities.contains("PIPELINING\r\n"));
    QVERIFY(capabilities.contains("UIDL\r\n"));
    QVERIFY(!capabilities.contains("STLS"));
    QVERIFY(client.line().startsWith("+OK"));
    QVERIFY(client.command("PASS secret:1").startsWith("+OK"));
}

QTEST_GUILESS_MAIN(TestDovecotFixture)
#include "tst_dovecotfixture.moc"
