#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "MiniPop3Server.h"
#include "Pop3Proxy.h"
#include "QuietWrite.h"
#include "mail/AccountSessions.h"
#include "mail/MonitorLog.h"
#include "mail/Pop3Session.h"
#include "mail/RemovedCopies.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"

#include <QDir>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// The whole check against a real Dovecot server: what is left on the server afterwards, byte for
// byte, and what the log says.
class TestMailCheck : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_server;
    int m_users = 0;
    QString m_user;
    QByteArray m_address;

    static QByteArray mail(const QByteArray &from, const QByteArray &subject,
                           const QByteArray &body = "Hello.\r\n")
    {
        static int serial = 0;
        return "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\nMessage-ID: <"
               + QByteArray::number(++serial) + "@test.example>\r\nFrom: " + from
               + "\r\nTo: user@test.example\r\nSubject: " + subject
               + "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body;
    }

    QByteArray plainServer() const
    {
        return "127.0.0.1:" + QByteArray::number(m_server.plainPort());
    }
    QByteArray tlsServer() const { return "localhost:" + QByteArray::number(m_server.tlsPort()); }

    // A user of our own for each test: a maildir filled twice within a second reuses ids.
    void freshUser()
    {
        m_user = QStringLiteral("user%1").arg(++m_users);
        m_address = m_user.toUtf8() + "@test.example";
        m_server.addUser(m_user, QStringLiteral("secret"));
    }

    void waitForServer(int sessions) { QVERIFY(m_server.waitForSessionsEnded(m_user, sessions)); }

    int commandCount(const QByteArray &word) const
    {
        int count = 0;
        for (const QByteArray &line : m_server.clientCommands(m_user).split('\n')) {
            if (line.toUpper().startsWith(word))
                ++count;
        }
        return count;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_server.caCertificatePath()));
    }

    void init() { freshUser(); }

    void senderAndSubjectRulesRemoveExactlyTheirMatches()
    {
        MailTestBench bench;
        const QList<QByteArray> keep{
            mail("Friend <friend@good.example>", "Lunch?"),
            mail("boss@spam.example.org", "A longer domain is not the pattern"),
            mail("=?UTF-8?Q?Wr=C3=B3g?= <x@good.example>", "=?UTF-8?Q?Zwyk=C5=82y?= list"),
        };
        const QList<QByteArray> remove{
            mail("\"Spam King\" <king@SPAM.EXAMPLE>", "Offer"),
            mail("a@good.example, b@spam.example", "Two senders"),
            mail("x@good.example", "=?UTF-8?B?VGFuaWUg?= =?UTF-8?B?dmlhZ3Jh?="),
            mail("x@good.example", "=?ISO-8859-2?Q?=AF=D3=A3W?= na sprzeda=BF"),
        };
        m_server.deliver(m_user, keep[0]);
        m_server.deliver(m_user, remove[0]);
        m_server.deliver(m_user, keep[1]);
        m_server.deliver(m_user, remove[1]);
        m_server.deliver(m_user, remove[2]);
        m_server.deliver(m_user, keep[2]);
        m_server.deliver(m_user, remove[3]);
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        bench.addPattern(store::kSubjectFilterKey, "VIAGRA");
        bench.addPattern(store::kSubjectFilterKey, "żółw");

        const mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        QCOMPARE(report.removed, 4);
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), keep);
        // Headers only (no rule needs the body); each removal's header read again to prove it
        // is the message judged, and the whole message to keep its copy (unread still).
        QCOMPARE(commandCount("TOP"), 7 + 4 + 4);
        QCOMPARE(commandCount("RETR"), 0);
        // Each removed message kept, byte for byte as the server held it.
        QList<QByteArray> copies;
        const QString copiesFolder = mail::removedCopiesFolderFor(bench.storePath());
        for (const mail::RemovedEntry &entry :
             mail::RemovedRecord(mail::removedRecordPathFor(bench.storePath())).read()) {
            QFile copy(mail::RemovedCopies(copiesFolder, 30, 0).pathOf(entry.copy));
            QVERIFY(copy.open(QIODevice::ReadOnly));
            copies.prepend(copy.readAll());
        }
        QCOMPARE(copies, remove);
        const QStringList lines = bench.newLogLines();
        QVERIFY2(lines.contains(m_address + ": 7 messages, 7 new, 4 removed"),
                 qPrintable(lines.join(u'\n')));
        QVERIFY2(lines.contains(m_address
                                + ": removed message from \"Spam King\" "
                                  "<king@SPAM.EXAMPLE>, subject \"Offer\", "
                                + QString::number(remove[0].size())
                                + " bytes (MailFilter: *@spam.example)"),
                 qPrintable(lines.join(u'\n')));
        // Each named twice: marked before QUIT, removed once the server confirmed it.
        QCOMPARE(lines.filter(QStringLiteral("subject \"Tanie viagra\"")).size(), 2);
        QCOMPARE(
            lines.filter(QStringLiteral("marked for removal message from x@good.example")).size(),
            2);
        QCOMPARE(lines.filter(QStringLiteral("(SubjectFilter: żółw)")).size(), 2);
    }

    void aDryRunRemovesNothingAndSaysWhatItWould()
    {
        MailTestBench bench;
        const QByteArray spam = mail("x@spam.example", "Buy");
        m_server.deliver(m_user, spam);
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::CheckReport report = bench.check(true);
        QVERIFY(report.allChecked());
        QCOMPARE(report.removed, 1);
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{spam});
        QCOMPARE(commandCount("DELE"), 0);
        const QStringList lines = bench.newLogLines();
        QVERIFY(
            !lines.filter(QStringLiteral("would remove message from x@spam.example")).isEmpty());
        QVERIFY(lines.contains(m_address + ": 1 message, 1 new, 1 would be removed"));
        // The dry run recorded nothing: the real check judges the message and removes it.
        report = bench.check();
        QCOMPARE(report.removed, 1);
        waitForServer(2);
        QVERIFY(m_server.messages(m_user).isEmpty());
    }

    void bodyAndAttachmentRulesFetchWholeMessages()
    {
        MailTestBench bench;
        const QByteArray plainWord = mail("a@b.example", "x", "Cheap pills here\r\n");
        const QByteArray quotedPrintable =
            "From: a@b.example\r\nSubject: qp\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
            "quoted-printable\r\n\r\nGr=C3=B6=C3=9Fte Ch=\r\nance\r\n";
        const QByteArray innocent = mail("a@b.example", "cheap pills in the subject only");
        const QByteArray zip = "From: a@b.example\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
                               "Content-Type: multipart/mixed; boundary=\"X\"\r\n\r\n--X\r\n"
                               "Content-Type: text/plain\r\n\r\nsee attached\r\n--X\r\n"
                               "Content-Type: application/zip; name=\"Offer.ZIP\"\r\n"
                               "Content-Transfer-Encoding: base64\r\n\r\n"
                               + QByteArray(1025, 'q').toBase64() + "\r\n--X--\r\n";
        for (const QByteArray &message : {plainWord, quotedPrintable, innocent, zip})
            m_server.deliver(m_user, message);
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kContentFilterKey, "cheap pills");
        bench.addPattern(store::kContentFilterKey, "größte chance");
        bench.addAttachment("*.zip", 2, 2); // 1025 bytes are 2 kB
        QCOMPARE(bench.check().removed, 3);
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{innocent});
        // Fetched whole by TOP, not RETR: the person's own mail program still finds the
        // message it kept unread.
        QCOMPARE(commandCount("RETR"), 0);
        QCOMPARE(commandCount("TOP"), 4 + 3 + 3); // and the three removals' headers and copies
        const QStringList kept =
            QDir(m_server.maildirPath(m_user) + QStringLiteral("/cur")).entryList(QDir::Files);
        for (const QString &file : kept)
            QVERIFY2(!file.section(QStringLiteral(":2,"), 1).contains(u'S'), qPrintable(file));
    }

    void aSecondCheckFetchesNothingAgainUntilTheRulesChange()
    {
        MailTestBench bench;
        for (int i = 0; i < 5; ++i)
            m_server.deliver(m_user, mail("a@b.example", "message " + QByteArray::number(i)));
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kSubjectFilterKey, "nothing like this");
        QCOMPARE(bench.check().judged, 5);
        QCOMPARE(bench.check().judged, 0);
        waitForServer(2);
        QCOMPARE(commandCount("TOP"), 5);
        QVERIFY(bench.newLogLines().contains(m_address + ": 5 messages, 0 new, 0 removed"));

        // New mail alone is judged; a change of the rules judges everything again.
        m_server.deliver(m_user, mail("a@b.example", "message 5"));
        QCOMPARE(bench.check().judged, 1);
        QCOMPARE(bench.check().judged, 0);
        bench.addPattern(store::kSubjectFilterKey, "message 3");
        const mail::CheckReport report = bench.check();
        QCOMPARE(report.judged, 6);
        QCOMPARE(report.removed, 1);
        waitForServer(5);
        QCOMPARE(m_server.messages(m_user).size(), 5);
        QCOMPARE(bench.check().judged, 0);
    }

    void idsGoneFromTheServerAreForgotten()
    {
        MailTestBench bench;
        m_server.deliver(m_user, mail("a@b.example", "one"));
        m_server.deliver(m_user, mail("a@b.example", "two"));
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kSubjectFilterKey, "zzz");
        QCOMPARE(bench.check().judged, 2);
        waitForServer(1);
        // Another mail client removes one message.
        const QString maildir = m_server.maildirPath(m_user);
        QDir cur(maildir + QStringLiteral("/cur"));
        QStringList files = cur.entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QVERIFY(QFile::remove(cur.filePath(files.first())));
        QCOMPARE(bench.check().judged, 0);
        waitForServer(2);
        QVERIFY(!bench.newLogLines().filter(QStringLiteral(": 1 message, 0 new")).isEmpty());
    }

    void aWrongPasswordRemovesNothing()
    {
        MailTestBench bench;
        const QByteArray spam = mail("x@spam.example", "Buy");
        m_server.deliver(m_user, spam);
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "wrong", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QCOMPARE(report.accounts.first().failure, QStringLiteral("login refused"));
        QVERIFY(bench.newLogLines().contains(m_address + ": login refused"));
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{spam});
    }

    void aRefusedConnectionIsReported()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(port), "x", "y", false);
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QVERIFY2(report.accounts.first().failure.startsWith(
                     QStringLiteral("cannot connect to 127.0.0.1:%1").arg(port)),
                 qPrintable(report.accounts.first().failure));
    }

    void implicitTlsWorksWithTheTrustedAuthority()
    {
        MailTestBench bench;
        m_server.deliver(m_user, mail("x@spam.example", "Buy"));
        bench.addAccount(m_address, tlsServer(), m_user.toUtf8(), "secret", true);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const qsizetype logged = m_server.logText().size();
        QCOMPARE(bench.check().removed, 1);
        waitForServer(1);
        QVERIFY(m_server.messages(m_user).isEmpty());
        // The added authority is trusted in the first handshake: none is dropped halfway.
        const QString serverLog = m_server.logText().mid(logged);
        QVERIFY2(!serverLog.contains(QStringLiteral("TLS handshaking")), qPrintable(serverLog));
        QVERIFY(bench.newLogLines().filter(QStringLiteral("in the clear")).isEmpty());
    }

    void anUntrustedCertificateEndsTheSessionBeforeThePassword()
    {
        const QByteArray authority = qgetenv("SSL_CERT_FILE");
        qunsetenv("SSL_CERT_FILE");
        MailTestBench bench;
        const QByteArray spam = mail("x@spam.example", "Buy");
        m_server.deliver(m_user, spam);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        bench.addAccount(m_address, tlsServer(), m_user.toUtf8(), "secret", true);
        // The plain port offers STLS: it is taken, and a failed certificate is no reason to
        // go on in the clear.
        bench.addAccount("plain@test.example", plainServer(), m_user.toUtf8(), "secret", false);
        // The certificate names localhost and 127.0.0.1, not this name.
        const mail::CheckReport report = bench.check();
        qputenv("SSL_CERT_FILE", authority);
        QCOMPARE(report.accounts.size(), 2);
        for (const mail::AccountOutcome &account : report.accounts) {
            QVERIFY(!account.checked);
            QVERIFY2(account.failure.startsWith(QStringLiteral("certificate not trusted")),
                     qPrintable(account.failure));
        }
        QCOMPARE(m_server.loginCount(m_user), 0);
        QVERIFY(!m_server.logText().contains(QStringLiteral("secret")));
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{spam});
    }

    void aHostNameTheCertificateDoesNotNameIsRefused()
    {
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.2:" + QByteArray::number(m_server.tlsPort()),
                         m_user.toUtf8(), "secret", true);
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QVERIFY2(
            report.accounts.first().failure.startsWith(QStringLiteral("certificate not trusted"))
                || report.accounts.first().failure.startsWith(QStringLiteral("cannot connect")),
            qPrintable(report.accounts.first().failure));
        QCOMPARE(m_server.loginCount(m_user), 0);
    }

    void aConnectionCutDuringAFetchRemovesNothing()
    {
        Pop3Proxy proxy(m_server.plainPort());
        QVERIFY(proxy.start());
        proxy.setHideStls(true);
        proxy.cutOnCommand("TOP", 200);
        MailTestBench bench;
        const QByteArray first = mail("x@spam.example", "one", QByteArray(4000, 'a') + "\r\n");
        const QByteArray second = mail("x@spam.example", "two", QByteArray(4000, 'b') + "\r\n");
        m_server.deliver(m_user, first);
        m_server.deliver(m_user, second);
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(proxy.port()),
                         m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kContentFilterKey, "aaaa");
        bench.addPattern(store::kContentFilterKey, "bbbb");
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QCOMPARE(proxy.faultCount(), 1);
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), (QList<QByteArray>{first, second}));
        QVERIFY(bench.newLogLines().contains(m_address + ": the server closed the connection"));
    }

    void aConnectionCutAfterDeleBeforeQuitRemovesNothing()
    {
        Pop3Proxy proxy(m_server.plainPort());
        QVERIFY(proxy.start());
        proxy.setHideStls(true);
        proxy.cutOnCommand("QUIT");
        MailTestBench bench;
        const QByteArray spam = mail("x@spam.example", "Buy");
        m_server.deliver(m_user, spam);
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(proxy.port()),
                         m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QCOMPARE(report.removed, 0);
        QVERIFY(proxy.clientData(0).contains("DELE 1"));
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{spam});
        // Nothing was recorded: the next check judges it again and removes it.
        proxy.passThrough();
        QCOMPARE(bench.check().removed, 1);
        waitForServer(2);
        QVERIFY(m_server.messages(m_user).isEmpty());
    }

    // A server that accepts the connection and then says nothing more, at each step.
    void aHungServerTimesOut_data()
    {
        QTest::addColumn<QByteArray>("stallOn");
        QTest::addColumn<bool>("ssl");
        QTest::newRow("listing") << QByteArray("UIDL") << false;
        QTest::newRow("greeting") << QByteArray() << false;
        QTest::newRow("TLS handshake") << QByteArray() << true;
        QTest::newRow("TLS handshake after STLS") << QByteArray("STLS") << false;
    }
    void aHungServerTimesOut()
    {
        QFETCH(QByteArray, stallOn);
        QFETCH(bool, ssl);
        Pop3Proxy proxy(m_server.plainPort());
        QVERIFY(proxy.start());
        proxy.setHideStls(stallOn == "UIDL");
        proxy.stallOnCommand(stallOn, stallOn == "STLS" ? 1000 : 0); // the whole "+OK" to STLS
        MailTestBench bench;
        m_server.deliver(m_user, mail("x@spam.example", "Buy"));
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(proxy.port()),
                         m_user.toUtf8(), "secret", ssl);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        // Only ends a check that would wait for ever: it then fails as "stopped".
        std::jthread watchdog([&bench](const std::stop_token &stop) {
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any().wait_for(lock, stop, std::chrono::minutes(1),
                                                   [] { return false; });
            bench.cancel = !stop.stop_requested();
        });
        const mail::CheckReport report = bench.check(false, 1000);
        QCOMPARE(report.accounts.first().failure, QStringLiteral("timeout"));
        QCOMPARE(proxy.faultCount(), 1);
        QCOMPARE(m_server.messages(m_user).size(), 1);
    }

    // "+OK" to STLS with more behind it in the same packet: whatever was sent in the clear
    // must not be read as the secure session's first replies.
    void bytesSentWithTheAnswerToStlsEndTheSession()
    {
        Pop3Proxy proxy(m_server.plainPort());
        QVERIFY(proxy.start());
        proxy.setStlsReplyExtra("+OK\r\nUSER\r\n.\r\n+OK\r\n+OK\r\n");
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(proxy.port()),
                         m_user.toUtf8(), "secret", false);
        const mail::CheckReport report = bench.check();
        QCOMPARE(report.accounts.first().failure,
                 QStringLiteral("the server sent data before TLS"));
        QVERIFY(proxy.clientData(0).contains("STLS"));
        QCOMPARE(m_server.loginCount(m_user), 0);
    }

    // SSL ticked on port 110 sends the password only after STLS: a server that does not offer
    // it is left before the login.
    void sslOnThePlainPortNeedsStls()
    {
        MiniPop3Server server({mail("x@spam.example", "Buy")}, {true, true, true, false});
        QVERIFY(server.start());
        mail::Pop3Session session{mail::Pop3Session::Options()};
        QVERIFY(!session.open(
            {QStringLiteral("127.0.0.1"), server.port(), mail::Security::StartTlsRequired}));
        QCOMPARE(session.failure(), mail::Pop3Session::Failure::CertificateNotTrusted);
        QVERIFY(!session.login("u", "p"));
        QVERIFY(server.commands().filter(QStringLiteral("PASS")).isEmpty());
    }

    // However willing the server is to answer each reply in time, the whole session has its
    // limit.
    void aServerTricklingEveryReplyMeetsTheSessionLimit()
    {
        MiniPop3Server::Options trickling;
        trickling.byteDelayMs = 100;
        MiniPop3Server server({mail("a@b.example", "x")}, trickling);
        QVERIFY(server.start());
        mail::Pop3Session::Options options;
        options.sessionTimeoutMs = 500;
        mail::Pop3Session session(options);
        QVERIFY(!session.open({QStringLiteral("127.0.0.1"), server.port()}));
        QCOMPARE(session.failure(), mail::Pop3Session::Failure::Timeout);
    }

    // A line break in a stored password would send the rest of it as a command of its own.
    void aPasswordWithALineBreakIsNeverSent()
    {
        const QByteArray spam = mail("x@spam.example", "Buy");
        MiniPop3Server server({spam}, {true, true, true, false});
        QVERIFY(server.start());
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(server.port()), "u",
                         "p\r\nDELE 1", false);
        const mail::CheckReport report = bench.check(false, 1000);
        QVERIFY(!report.allChecked());
        QVERIFY(report.accounts.first().failure.startsWith(QStringLiteral("login refused")));
        QVERIFY(server.commands().filter(QStringLiteral("DELE")).isEmpty());
        QCOMPARE(server.messages(), QList<QByteArray>{spam});
    }

    // Unique ids belong to one server: an account moved to another server, whose ids happen to
    // be the same, has all of its mail judged there.
    void anAccountMovedToAnotherServerIsJudgedAnew()
    {
        const QByteArray spam = mail("x@spam.example", "Buy");
        MiniPop3Server before({mail("friend@good.example", "Hi")}, {true, true, true, false});
        MiniPop3Server after({spam}, {true, true, true, false});
        QVERIFY(before.start());
        QVERIFY(after.start());
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        for (const MiniPop3Server *server : {&before, &after}) {
            bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(server->port()), "", "p",
                             false);
            QCOMPARE(bench.check().judged, 1);
        }
        QVERIFY(after.messages().isEmpty());
        // Without a login of its own the account logs in with its address.
        QVERIFY(after.commands().contains(QStringLiteral("USER ") + m_address));
    }

    void oneFailingAccountDoesNotStopTheOthers()
    {
        MailTestBench bench;
        const QString second = m_user;
        const QByteArray secondAddress = m_address;
        freshUser();
        const QString third = m_user;
        for (const QString &user : {second, third})
            m_server.deliver(user, mail("x@spam.example", "Buy"));
        bench.addAccount(secondAddress, plainServer(), second.toUtf8(), "secret", false);
        bench.addAccount("broken@test.example", "127.0.0.1:1", "nobody", "x", false);
        bench.addAccount(m_address, tlsServer(), third.toUtf8(), "secret", true);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const mail::CheckReport report = bench.check();
        QVERIFY(!report.allChecked());
        QCOMPARE(report.removed, 2);
        QVERIFY(m_server.waitForSessionsEnded(second, 1));
        QVERIFY(m_server.waitForSessionsEnded(third, 1));
        QVERIFY(m_server.messages(second).isEmpty());
        QVERIFY(m_server.messages(third).isEmpty());
    }

    void aLargeMessageIsJudgedWhole()
    {
        MailTestBench bench;
        QByteArray big = "From: a@b.example\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
                         "Content-Type: multipart/mixed; boundary=\"X\"\r\n\r\n--X\r\n"
                         "Content-Type: text/plain\r\n\r\nlarge file attached\r\n--X\r\n"
                         "Content-Type: application/octet-stream; name=\"disk.img\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\n";
        const QByteArray line = QByteArray(57, 'x').toBase64() + "\r\n";
        while (big.size() < 20 * 1024 * 1024)
            big += line;
        big += "--X--\r\n";
        m_server.deliver(m_user, big);
        m_server.deliver(m_user, mail("a@b.example", "small"));
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addAttachment("*.img", 10000, 20000);
        const mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        QCOMPARE(report.removed, 1);
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user).size(), 1);
        QVERIFY(m_server.messages(m_user).first().contains("Subject: small"));
    }

    void everyCraftedMessageGoesOrStaysAsItsRuleSays()
    {
        MailTestBench bench;
        const QDir data(QStringLiteral(MAIL_TEST_DATA));
        const QStringList files =
            data.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 55);
        for (const QString &file : files)
            m_server.deliver(m_user, testMessage(file));
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        for (const char *pattern :
             {"*@cheap-watches.example", "king@spam.example", "news@promo.example.com",
              "phisher@evil.example", "promo@offers.example", "accounts@overdue.example"})
            bench.addPattern(store::kMailFilterKey, pattern);
        for (const char *pattern :
             {"zniżki", "günstige uhren", "po?yczki", "selected for a special", "wygrałeś nagrodę",
              "bez recepty – tanio", "große rabatte"})
            bench.addPattern(store::kSubjectFilterKey, pattern);
        for (const char *pattern : {"tanie zegarki", "viagra", "bitcoin doubler", "meteorite",
                                    "giveaway", "cheap watches", "unclaimed prize"})
            bench.addPattern(store::kContentFilterKey, pattern);
        for (const char *pattern :
             {"*.exe", "*lampę.pdf", "köln pläne.zip", "*.scr", "README", "report.doc"})
            bench.addAttachment(pattern);
        bench.addAttachment("data-1025.bin", 2, 2);
        bench.addAttachment("data-1023.bin", 2, 5);

        // Each removed message with the rule the log must name for it.
        const QHash<QString, QString> removed{
            {"sender-plain.eml", "MailFilter: *@cheap-watches.example"},
            {"sender-several.eml", "MailFilter: king@spam.example"},
            {"sender-uppercase-domain.eml", "MailFilter: news@promo.example.com"},
            {"sender-name-looks-like-address.eml", "MailFilter: phisher@evil.example"},
            {"sender-encoded-name-with-address.eml", "MailFilter: promo@offers.example"},
            {"damaged-truncated.eml", "MailFilter: accounts@overdue.example"},
            {"subject-utf8-base64.eml", "SubjectFilter: zniżki"},
            {"subject-utf8-quoted-printable.eml", "SubjectFilter: günstige uhren"},
            {"subject-iso-8859-2.eml", "SubjectFilter: po?yczki"},
            {"subject-split-multibyte.eml", "SubjectFilter: po?yczki"},
            {"subject-folded.eml", "SubjectFilter: selected for a special"},
            {"subject-folded-encoded.eml", "SubjectFilter: wygrałeś nagrodę"},
            {"subject-split-word.eml", "SubjectFilter: bez recepty – tanio"},
            {"subject-mixed-case-letters.eml", "SubjectFilter: große rabatte"},
            {"damaged-8bit-subject.eml", "SubjectFilter: große rabatte"},
            {"body-plain.eml", "ContentFilter: tanie zegarki"},
            {"body-quoted-printable.eml", "ContentFilter: viagra"},
            {"body-html-only.eml", "ContentFilter: viagra"},
            {"body-base64.eml", "ContentFilter: bitcoin doubler"},
            {"body-multipart-alternative.eml", "ContentFilter: meteorite"},
            {"attachment-name-in-disposition.eml", "Attachments: *.exe"},
            {"attachment-name-in-content-type.eml", "Attachments: *.exe"},
            {"attachment-rfc2231-continuation.eml", "Attachments: *lampę.pdf"},
            {"attachment-rfc2231-latin1.eml", "Attachments: köln pläne.zip"},
            {"attachment-encoded-word-name.eml", "Attachments: *.scr"},
            {"attachment-in-attached-message.eml", "ContentFilter: unclaimed prize"},
            {"damaged-junk-part-beside-attachment.eml", "Attachments: *.exe"},
            {"attachment-no-extension.eml", "Attachments: README"},
            {"attachment-size-1025.eml", "Attachments: data-1025.bin"},
            {"damaged-missing-closing-boundary.eml", "Attachments: report.doc"},
            {"invisible-characters.eml", "Attachments: *.exe"},
            {"attachment-trailing-dot.eml", "Attachments: *.exe"},
            {"attachment-uuencoded.eml", "Attachments: *.exe"},
            {"damaged-uuencoded-cut.eml", "Attachments: *.exe"},
            {"body-html-split-words.eml", "ContentFilter: viagra"},
        };
        QList<QByteArray> kept;
        for (const QString &file : files) {
            if (!removed.contains(file))
                kept.append(testMessage(file));
        }

        const mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), kept); // byte for byte, in delivery order
        QCOMPARE(report.removed, int(removed.size()));
        const QStringList lines = bench.newLogLines();
        for (auto it = removed.cbegin(); it != removed.cend(); ++it) {
            QVERIFY2(lines.filter(u'(' + it.value() + u')').size()
                         == 2 * removed.values().count(it.value()),
                     qPrintable(it.key()));
        }
        // The message whose base64 is damaged is kept, and the log says why.
        QCOMPARE(lines
                     .filter(QStringLiteral("kept unjudged by the content and attachment rules: "
                                            "a part cannot be decoded"))
                     .size(),
                 1);
    }

    // A message the server would not send was not judged: neither the check that could not
    // fetch it nor the rules it was judged under before may count it as judged.
    void aMessageTheServerWouldNotSendIsJudgedLater()
    {
        const QByteArray spam = mail("x@spam.example", "Buy");
        const QByteArray friendly = mail("friend@good.example", "Hi");
        MiniPop3Server::Options options{true, true, true, false};
        MiniPop3Server server({spam, friendly}, options);
        QVERIFY(server.start());
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(server.port()), "u", "p",
                         false);
        bench.addPattern(store::kSubjectFilterKey, "zzz");
        QCOMPARE(bench.check().judged, 2);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        options.refuseFirst = true;
        server.setOptions(options);
        mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        QCOMPARE(report.judged, 1);
        QVERIFY(report.summary().contains(u", 1 could not be read"));
        QVERIFY(bench.newLogLines().contains(
            m_address
            + ": message 1 could not be read: the server would not send it (-ERR not "
              "here); it is tried again at the next check"));
        // Its TOP refused, it alone was asked for by RETR: the other is still read by TOP.
        QCOMPARE(server.commands().filter(QStringLiteral("RETR")).size(), 1);
        options.refuseFirst = false;
        server.setOptions(options);
        report = bench.check();
        QCOMPARE(report.judged, 1);
        QCOMPARE(report.removed, 1);
        QCOMPARE(server.messages(), QList<QByteArray>{friendly});
    }

    // The record itself: an id stays while its message is on the server and the rules are
    // the same; a write the file refuses leaves the file as it was.
    void theSeenStateKeepsOnlyWhatStillHolds()
    {
        MailTestBench bench;
        const QString path = mail::seenStatePathFor(bench.storePath());
        const mode_t umaskBefore = ::umask(022);
        {
            mail::SeenState seen(path);
            ::umask(umaskBefore);
            seen.record("acct", "A", {"1", "2", "3"}, {"1", "2"});
            seen.record("acct", "A", {"2", "3"}, {"3"});
            QCOMPARE(seen.judged("acct", "A"), (QSet<QByteArray>{"2", "3"}));
            seen.record("acct", "B", {"2", "3"}, {"3"});
            QVERIFY(seen.judged("acct", "A").isEmpty());
            QVERIFY(seen.takeWriteProblem().isEmpty());
        }
        struct stat info
        {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QCOMPARE(mail::SeenState(path).judged("acct", "B"), QSet<QByteArray>{"3"});

        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TRIGGER refuse BEFORE INSERT ON seen WHEN NEW.uidl = x'39' "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        mail::SeenState seen(path);
        seen.record("acct", "C", {"3", "9"}, {"9"});
        QVERIFY(!seen.takeWriteProblem().isEmpty());
        QCOMPARE(seen.judged("acct", "C"), QSet<QByteArray>{"9"}); // kept in memory
        QCOMPARE(mail::SeenState(path).judged("acct", "B"), QSet<QByteArray>{"3"});
        // Once the file takes writes again, it holds the record, not the copy in memory.
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "DROP TRIGGER refuse", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        seen.record("acct", "D", {"3", "9"}, {"3"});
        QVERIFY(seen.takeWriteProblem().isEmpty());
        QCOMPARE(seen.judged("acct", "D"), QSet<QByteArray>{"3"});
        QCOMPARE(mail::SeenState(path).judged("acct", "D"), QSet<QByteArray>{"3"});
    }

    void aServerWithoutCapaUidlOrTopIsJudgedWholeEachTime()
    {
        const QByteArray spam = mail("x@spam.example", "Buy", ".starts with a dot\r\n");
        const QByteArray friendly = mail("friend@good.example", "Hi");
        MiniPop3Server bare({friendly, spam}, MiniPop3Server::Options());
        QVERIFY(bare.start());
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(bare.port()), "u", "p",
                         false);
        QVERIFY(bench.check().allChecked());
        const QStringList lines = bench.newLogLines();
        QVERIFY(lines.contains(m_address + ": 2 messages, 0 new, 0 removed"));
        QCOMPARE(lines.filter(m_address + ": Warning: the password is sent in the clear").size(),
                 1);
        bench.addPattern(store::kSubjectFilterKey, "zzz");
        // Without UIDL nothing can be remembered: every message is judged every time.
        QCOMPARE(bench.check().judged, 2);
        QCOMPARE(bench.check().judged, 2);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        QCOMPARE(report.removed, 1);
        QCOMPARE(bare.messages(), QList<QByteArray>{friendly});
        // TOP refused: asked once a check, then whole messages, one command at a time.
        QCOMPARE(bare.commands().filter(QStringLiteral("TOP")).size(), 3);
        // Four listings, and the message to remove confirmed by its size before DELE.
        QCOMPARE(bare.commands().filter(QStringLiteral("LIST")).size(), 5);
        QVERIFY(bare.commands().contains(QStringLiteral("LIST 2")));
        // Without TOP, the removal's header is read again by RETR, and its copy.
        QCOMPARE(bare.commands().filter(QStringLiteral("RETR")).size(), 6 + 1 + 1);
    }

    // Servers that break the protocol: whatever they send, only a message the rules matched,
    // named by the server as the one judged, is removed.
    void aServerOutOfStepRemovesOnlyWhatWasJudged_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("logged");
        for (const bool pipelining : {false, true}) {
            const char *way = pipelining ? ", pipelined" : "";
            QTest::addRow("bare LF dot line%s", way)
                << "bare LF dot" << pipelining << true << 0 << "2 messages, 2 new, 0 removed";
            QTest::addRow("extra reply after TOP%s", way)
                << "extra reply" << pipelining << false << 0 << "replies are out of step";
            // Each of these once removed a message the rules never saw in place of the spam.
            QTest::addRow("one reply twice, a later one lost%s", way)
                << "repeated then dropped" << pipelining << false << 0
                << "the header of message 2 is not the one judged";
            QTest::addRow("text without dot-stuffing%s", way)
                << "no dot-stuffing" << pipelining << false << 0 << "replies are out of step";
            QTest::addRow("listed size far from the text%s", way)
                << "size far off" << pipelining << false << 0
                << "is not as long as the server listed it";
        }
        QTest::newRow("one message listed twice")
            << "listed twice" << false << true << 1 << ": removed message from x@spam.example";
        QTest::newRow("lines ending in LF alone")
            << "bare LF lines" << false << false << 0 << "did not end as POP3 requires";
        QTest::newRow("pipelined replies out of order")
            << "reordered" << true << false << 0 << "the header of message 1 is not the one judged";
        QTest::newRow("extra reply, nothing matched")
            << "extra reply, nothing matched" << false << false << 0 << "replies are out of step";
        QTest::newRow("named otherwise when asked alone")
            << "other name" << false << false << 0 << "is not the one judged";
        QTest::newRow("QUIT never answered")
            << "silent QUIT" << false << false << 1 << "the 1 message marked above may have been";
        QTest::newRow("QUIT refused")
            << "refused QUIT" << false << false << 0 << "the server could not remove the messages";
        QTest::newRow("QUIT refused with the password in the reply")
            << "echoing refused QUIT" << false << false << 0
            << "could not remove the messages (a reply that repeats the password, not shown)";
        QTest::newRow("LIST refused")
            << "refused LIST" << false << false << 0 << "the server refused to list messages";
        QTest::newRow("DELE refused")
            << "refused DELE" << false << true << 0 << "the server would not remove message 2";
        QTest::newRow("one byte at a time") << "trickle" << false << false << 0 << "timeout";
        QTest::newRow("listed as small, sent too large")
            << "listed small" << false << false << 0 << "it is larger than the server said";
        QTest::newRow("listed too large, no TOP")
            << "listed large" << false << true << 1 << "bytes is too large to judge";
    }
    void aServerOutOfStepRemovesOnlyWhatWasJudged()
    {
        QFETCH(QString, fault);
        QFETCH(bool, pipelining);
        QFETCH(bool, checked);
        QFETCH(int, removed);
        QFETCH(QString, logged);
        MiniPop3Server::Options options{true, true, true, pipelining};
        // What a careless server's reader takes for the end of the first message and the start
        // of the next: a spam's header after a bare LF "." line.
        QByteArray first = mail("friend@good.example", "Hi",
                                "before\n.\n+OK\r\nFrom: x@spam.example\r\nSubject: Buy\r\n\r\n");
        const QByteArray spam = mail("x@spam.example", "Buy");
        options.stuffAfterCrlfOnly = fault == u"bare LF dot";
        options.extraReplyAfterTop = fault.startsWith(u"extra reply");
        options.silentQuit = fault == u"silent QUIT";
        options.refuseQuit = fault.endsWith(u"refused QUIT");
        options.echoPassword = fault.startsWith(u"echoing");
        options.refuseDele = fault == u"refused DELE";
        options.refuseList = fault == u"refused LIST";
        options.otherNameAlone = fault == u"other name";
        options.byteDelayMs = fault == u"trickle" ? 100 : 0;
        options.swapFirstFetches = fault == u"reordered";
        options.repeatThenDrop = fault == u"repeated then dropped";
        options.noDotStuffing = fault == u"no dot-stuffing";
        options.listLastTwice = fault == u"listed twice";
        options.bareLfFirst = fault == u"bare LF lines";
        if (fault == u"bare LF lines")
            options.top = false;
        if (fault == u"size far off")
            options.listedSize = spam.size() + 500;
        if (fault.startsWith(u"listed")) {
            first += QByteArray(65 * 1024 * 1024, 'x') + "\r\n";
            options.top = false;
            options.listedSize = fault == u"listed small" ? 100 : first.size();
        }
        QList<QByteArray> mailbox{first, spam};
        if (fault == u"bare LF dot" || fault == u"extra reply, nothing matched")
            mailbox.last() = mail("friend@good.example", "Hello again");
        if (fault == u"repeated then dropped" || fault == u"size far off")
            mailbox = {spam, first};
        // An outsider's text read as the next reply: a spam's, judged as the friend's message.
        if (fault == u"no dot-stuffing")
            mailbox.first() = mail("someone@else.example", "News",
                                   "text\r\n.\r\n+OK\r\nFrom: x@spam.example\r\n\r\ncheap\r\n");
        MiniPop3Server server(mailbox, options);
        QVERIFY(server.start());
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(server.port()), "u", "p",
                         false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        if (fault == u"bare LF dot")
            bench.addPattern(store::kContentFilterKey, "nothing like this");
        if (fault == u"no dot-stuffing" || fault == u"size far off")
            bench.addPattern(store::kContentFilterKey, "cheap");
        // What a dry run would remove stands on the same proof.
        if (fault == u"reordered" || fault.startsWith(u"repeated"))
            QVERIFY(!bench.check(true).allChecked());
        // Short replies time out fast; a 65 MiB one needs its time on a loaded machine.
        const mail::CheckReport report =
            bench.check(false, fault.startsWith(u"listed") ? 30000 : 1000);
        QCOMPARE(report.allChecked(), checked);
        const QStringList lines = bench.newLogLines();
        QVERIFY2(!lines.filter(logged).isEmpty(), qPrintable(lines.join(u'\n')));
        QCOMPARE(server.messages(), mailbox.first(mailbox.size() - removed));
        if (checked) {
            QCOMPARE(report.removed, removed);
            QCOMPARE(lines.filter(u": removed message from").size(), removed);
        }
        if (!checked && !fault.endsWith(u"QUIT"))
            QVERIFY(!server.commands().contains(QStringLiteral("QUIT")));
        if (fault == u"silent QUIT")
            QVERIFY(!lines.filter(u"marked for removal message from x@spam.example").isEmpty());
        if (fault == u"refused DELE") {
            // Judged again next time, as the log says: then the server takes the DELE.
            options.refuseDele = false;
            server.setOptions(options);
            QCOMPARE(bench.check().removed, 1);
            QCOMPARE(server.messages(), QList<QByteArray>{first});
        }
        if (fault == u"listed large") {
            // Kept and remembered: the next check does not take it for new mail again.
            QVERIFY(bench.check(false, 30000).allChecked());
            QVERIFY(bench.newLogLines().contains(m_address + ": 1 message, 0 new, 0 removed"));
        }
        if (fault == u"listed small") {
            // Kept and remembered: the next check judges the others.
            QVERIFY(bench.check().allChecked());
            QCOMPARE(server.messages(), QList<QByteArray>{first});
        }
    }

    // A server that confirms QUIT but keeps what was marked is told of once, not reported as
    // removing the same message at every check.
    void aMessageTheServerKeptAfterQuitIsToldOfOnce()
    {
        const QByteArray spam = mail("x@spam.example", "Buy");
        MiniPop3Server::Options options{true, true, true, false};
        options.keepOnQuit = true;
        MiniPop3Server server({spam}, options);
        QVERIFY(server.start());
        MailTestBench bench;
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(server.port()), "u", "p",
                         false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        QCOMPARE(bench.check().removed, 1);
        bench.newLogLines();
        for (int check = 0; check < 2; ++check) {
            const mail::CheckReport report = bench.check();
            QVERIFY(report.allChecked());
            QCOMPARE(report.removed, 0);
            QCOMPARE(bench.newLogLines().filter(u"still on the server although").size(),
                     check == 0 ? 1 : 0);
        }
        QCOMPARE(server.messages(), QList<QByteArray>{spam});
    }

    // One account's slow large message holds the room for whole messages: another account
    // waits for it a bounded time, then leaves its messages to the next check and says why.
    void noRoomForWholeMessagesLeavesThemToTheNextCheck()
    {
        MiniPop3Server::Options slowOptions{true, true, true, false};
        slowOptions.byteDelayMs = 3;
        MiniPop3Server slow({mail("a@good.example", "large", QByteArray(2500, 'x') + "\r\n")},
                            slowOptions);
        MiniPop3Server::Options fastOptions{true, true, true, false};
        fastOptions.greetingDelayMs = 1500; // asks for room after the slow account took it
        const QByteArray spam = mail("x@spam.example", "Buy", "cheap\r\n");
        MiniPop3Server fast({spam}, fastOptions);
        QVERIFY(slow.start() && fast.start());
        MailTestBench bench;
        bench.wholeMessageBytes = 2000;
        bench.wholeMessageWaitMs = 300;
        bench.addAccount("slow@test.example", "127.0.0.1:" + QByteArray::number(slow.port()), "u",
                         "p", false);
        bench.addAccount(m_address, "127.0.0.1:" + QByteArray::number(fast.port()), "u", "p",
                         false);
        bench.addPattern(store::kContentFilterKey, "cheap");
        mail::CheckReport report = bench.check(false, 30000);
        QVERIFY(report.allChecked());
        QCOMPARE(report.accounts[1].deferred, 1);
        QVERIFY(bench.newLogLines().contains(
            m_address + ": 1 message, 1 new, 0 removed, 1 left to the next check"));
        QCOMPARE(fast.messages(), QList<QByteArray>{spam});
        report = bench.check(false, 30000);
        QCOMPARE(report.removed, 1);
        QVERIFY(fast.messages().isEmpty());
    }

    // An allowed sender's mail stays whatever else matches it; the log says why.
    void anAllowedSenderSurvivesEveryRule()
    {
        const QByteArray friendly = mail("Friend <Friend@Good.example>", "viagra", "viagra\r\n");
        const QByteArray other = mail("other@good.example", "viagra", "viagra\r\n");
        m_server.deliver(m_user, friendly);
        m_server.deliver(m_user, other);
        MailTestBench bench;
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@good.example");
        bench.addPattern(store::kSubjectFilterKey, "viagra");
        bench.addPattern(store::kContentFilterKey, "viagra");
        bench.addPattern(store::kAllowFilterKey, "friend@good.*");
        const mail::CheckReport report = bench.check();
        QCOMPARE(report.removed, 1);
        QCOMPARE(report.accounts[0].allowed.size(), 1);
        QVERIFY(bench.newLogLines().contains(
            m_address + ": message 1 kept: sender allowed (AllowFilter: friend@good.*)"));
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{friendly});
    }

    // No copy, no removal: a full disk keeps the message on the server, and says why.
    void aMessageWhoseCopyCannotBeKeptStaysOnTheServer()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        const QByteArray spam = mail("x@spam.example", "Buy", QByteArray(20000, 'z') + "\r\n");
        m_server.deliver(m_user, spam);
        MailTestBench bench;
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const QByteArray folder =
            QFile::encodeName(mail::removedCopiesFolderFor(bench.storePath()));
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        QCOMPARE(::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=8k,mode=0700"), 0);
        const auto unmount = qScopeGuard([&folder] { ::umount(folder.constData()); });
        mail::CheckReport report = bench.check();
        QCOMPARE(report.removed, 0);
        QVERIFY2(report.summary().contains(u"1 not removed: no copy could be kept"),
                 qPrintable(report.summary()));
        QVERIFY(!bench.newLogLines()
                     .filter(u"message 1 stays on the server: its copy cannot be kept")
                     .isEmpty());
        waitForServer(1);
        QCOMPARE(m_server.messages(m_user), QList<QByteArray>{spam});
        QCOMPARE(::umount(folder.constData()), 0);
        report = bench.check();
        QCOMPARE(report.removed, 1);
    }

    // Copies go when they are older than the days kept, then the oldest beyond the room.
    void keptCopiesExpireByAgeAndSize()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("removed"));
        mail::RemovedCopies copies(folder, 30, 2500);
        QString problem;
        QStringList ids;
        for (int i = 0; i < 3; ++i)
            ids.append(copies.keep(QByteArray(1000, char('a' + i)), &problem));
        QVERIFY2(!ids.contains(QString()), qPrintable(problem));
        QVERIFY(QFile::copy(copies.pathOf(ids[0]), folder + "/20200101-000000-00000000.eml"));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);
        copies.expire(QDateTime::currentDateTime());
        // The one from 2020 went by age, the oldest of today's for room.
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
        QVERIFY(copies.pathOf(QStringLiteral("20200101-000000-00000000")).isEmpty());
        QVERIFY(!copies.pathOf(ids[2]).isEmpty());
        QVERIFY(copies.pathOf(QStringLiteral("../registry")).isEmpty());
    }

    // A server that trickles its replies holds up no other account: the check reports it as
    // still being checked, the next skips it, and the healthy account is checked each time.
    void aSlowServerHoldsUpNoOtherAccount()
    {
        MiniPop3Server::Options trickling;
        trickling.byteDelayMs = 200;
        MiniPop3Server slow({mail("a@b.example", "x")}, trickling);
        QVERIFY(slow.start());
        MailTestBench bench;
        bench.addAccount("slow@test.example", "127.0.0.1:" + QByteArray::number(slow.port()), "u",
                         "p", false);
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        mail::MonitorLog log(bench.logPath());
        mail::SeenState seen(mail::seenStatePathFor(bench.storePath()));
        store::SqliteStore::Options readOnly;
        readOnly.readOnly = true;
        store::SqliteStore settings(bench.storePath(), readOnly);
        mail::AccountSessions sessions; // after all that its sessions use
        mail::MailCheck::Options options;
        options.sessions = &sessions;
        options.patienceMs = 5000;
        for (const QByteArray subject : {"Buy", "Buy again"}) {
            m_server.deliver(m_user, mail("x@spam.example", subject));
            const mail::CheckReport report = mail::MailCheck(settings, seen, log, options).run();
            QVERIFY2(report.accounts[1].checked, qPrintable(report.accounts[1].failure));
            QCOMPARE(report.removed, 1);
            QVERIFY(!report.accounts[0].checked);
            QCOMPARE(report.accounts[0].stillRunning, subject == "Buy");
            // Still being checked is not failed; skipped for its running session, it is.
            QCOMPARE(report.summary().contains(QStringLiteral("failed")), subject != "Buy");
        }
        QVERIFY(bench.newLogLines().contains(
            QStringLiteral("slow@test.example: not checked: its previous check is still running")));
    }

    // The stored interval is used within 1..200 minutes: 0 would check without a pause.
    void theIntervalReadIsKeptInItsRange()
    {
        MailTestBench bench;
        for (const std::pair<int, int> &storedAndUsed : {std::pair(0, 1), {500, 200}, {7, 7}}) {
            const int stored = storedAndUsed.first;
            writeQuietly(bench.storePath(), [stored](store::Access &access) {
                access.openOrCreate(store::kSettingsKey)->writeInteger(store::kScanEvery, stored);
            });
            QCOMPARE(bench.check().scanEveryMinutes, storedAndUsed.second);
        }
    }

    void anEmptyMailboxIsChecked()
    {
        MailTestBench bench;
        bench.addAccount(m_address, plainServer(), m_user.toUtf8(), "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");
        const mail::CheckReport report = bench.check();
        QVERIFY(report.allChecked());
        QVERIFY(bench.newLogLines().contains(m_address + ": 0 messages, 0 new, 0 removed"));
    }
};

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
