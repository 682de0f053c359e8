// One check of a real Dovecot mailbox by OstroveService --check-once, next to mailfilter (an
// existing POP3 filter, with the same two header rules) and a floor (log in, UIDL, every
// "TOP n 0" pipelined). Each runs as its own process; time and peak memory are theirs.
// Mailboxes of 1,000 and 10,000 messages of about 2 KB, 5% matching, plain and implicit TLS.
// BENCH_SIZES="1000 10000" picks the sizes.
#include "DovecotServer.h"
#include "Pop3Proxy.h"
#include "contract/MonitorContract.h"
#include "mail/MailCheck.h"
#include "store/PasswordCipher.h"
#include "store/RegistryPaths.h"
#include "store/SqliteStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

struct Measure
{
    double seconds = 0;
    double peakMb = 0;
    int exitCode = -1;
};

Measure runProcess(const QStringList &arguments, const QStringList &extraEnvironment)
{
    QList<QByteArray> argumentBytes;
    for (const QString &argument : arguments)
        argumentBytes.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QList<QByteArray> environmentBytes;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray text(*entry);
        const bool replaced = std::any_of(
            extraEnvironment.cbegin(), extraEnvironment.cend(), [&text](const QString &extra) {
                return text.startsWith(extra.left(extra.indexOf(u'=') + 1).toLocal8Bit());
            });
        if (!replaced)
            environmentBytes.append(text);
    }
    for (const QString &entry : extraEnvironment)
        environmentBytes.append(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : environmentBytes)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Measure measure;
    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        return measure;
    // The child's own high-water mark, read while it runs: the rusage of a spawned child also
    // counts the memory of the process that spawned it.
    int status = 0;
    double peakKb = 0;
    const QString statusPath = QStringLiteral("/proc/%1/status").arg(pid);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        QFile file(statusPath);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                if (line.startsWith("VmHWM:"))
                    peakKb = std::max(peakKb, line.mid(6).trimmed().split(' ').value(0).toDouble());
            }
        }
        usleep(1000);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    posix_spawn_file_actions_destroy(&actions);
    measure.seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    measure.peakMb = peakKb / 1024.0;
    measure.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measure;
}

QByteArray message(int index, bool *matches)
{
    static const char *const words[] = {"meeting", "report", "invoice", "holiday", "project",
                                        "update",  "lunch",  "budget",  "review",  "notes"};
    const bool spamSender = index % 40 == 7;
    const bool spamSubject = index % 40 == 27;
    *matches = spamSender || spamSubject;
    const QByteArray from = spamSender
                                ? "Offers <deals" + QByteArray::number(index) + "@spam.example>"
                                : "Colleague " + QByteArray::number(index % 97) + " <person"
                                      + QByteArray::number(index % 97) + "@work.example>";
    QByteArray subject = QByteArray(words[index % 10]) + " " + words[(index / 10) % 10] + " "
                         + QByteArray::number(index);
    if (spamSubject)
        subject = "Cheap VIAGRA " + QByteArray::number(index);
    QByteArray body;
    while (body.size() < 1700)
        body += QByteArray(words[(index + body.size()) % 10])
                + " text of the message body, "
                  "nothing to see here.\r\n";
    return "Return-Path: <x@work.example>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0100\r\n"
           "Message-ID: <"
           + QByteArray::number(index) + ".1796630400@bench.example>\r\nFrom: " + from
           + "\r\nTo: me@bench.example\r\nSubject: " + subject
           + "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + body;
}

QSet<QByteArray> messageIds(const QList<QByteArray> &messages)
{
    QSet<QByteArray> ids;
    static const QRegularExpression id(QStringLiteral("Message-ID: <([^>]*)>"));
    for (const QByteArray &text : messages)
        ids.insert(id.match(QString::fromLatin1(text)).captured(1).toLatin1());
    return ids;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString here = QCoreApplication::applicationDirPath();
    const QString ours = qEnvironmentVariableIsSet("BENCH_OURS")
                             ? qEnvironmentVariable("BENCH_OURS")
                             : here + QStringLiteral("/../OstroveService");
    const QString floor = here + QStringLiteral("/pop3_floor");
    const QString mailfilter = QStringLiteral("/usr/bin/mailfilter");
    if (!QFile::exists(mailfilter))
        std::printf(
            "mailfilter is not installed (apt-get install mailfilter): its column is empty\n");

    DovecotServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "Dovecot: %s\n", qPrintable(error));
        return 1;
    }
    // Plain means plain for all three: the proxy hides STLS, which Dovecot offers and
    // OstroveService would take.
    Pop3Proxy proxy(server.plainPort());
    proxy.setHideStls(true);
    if (!proxy.start(&error))
        return 1;
    const QString authority = QStringLiteral("SSL_CERT_FILE=") + server.caCertificatePath();
    QTemporaryDir work;
    if (qEnvironmentVariableIsSet("BENCH_PAUSE")) {
        server.addUser(QStringLiteral("probe"), QStringLiteral("secret"));
        std::printf("CA %s TLS port %d plain port %d\n", qPrintable(server.caCertificatePath()),
                    server.tlsPort(), server.plainPort());
        std::fflush(stdout);
        QThread::sleep(60);
    }

    QList<int> sizes{1000, 10000};
    if (qEnvironmentVariableIsSet("BENCH_SIZES")) {
        sizes.clear();
        for (const QString &size :
             qEnvironmentVariable("BENCH_SIZES").split(u' ', Qt::SkipEmptyParts))
            sizes.append(size.toInt());
    }
    std::printf("%-14s %-22s %-22s %-22s %-12s %-12s %-10s %s\n", "mailbox", "OstroveService",
                "mailfilter", "floor", "ours/floor", "ours/mf", "2nd check", "removed (ours/mf)");
    QHash<bool, double> peakAtSmallest;
    for (int size : sizes) {
        for (bool tls : {false, true}) {
            const QString tag = QStringLiteral("%1%2").arg(size).arg(tls ? "t" : "p");
            const QString oursUser = QStringLiteral("ours") + tag;
            const QString mfUser = QStringLiteral("mf") + tag;
            const QString floorUser = QStringLiteral("floor") + tag;
            for (const QString &user : {oursUser, mfUser, floorUser})
                server.addUser(user, QStringLiteral("secret"));
            int matching = 0;
            for (int i = 0; i < size; ++i) {
                bool matches = false;
                const QByteArray text = message(i, &matches);
                matching += matches ? 1 : 0;
                for (const QString &user : {oursUser, mfUser, floorUser})
                    server.deliver(user, text);
            }
            const QString host = tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1");
            const quint16 port = tls ? server.tlsPort() : proxy.port();
            const QString mode = tls ? QStringLiteral("tls") : QStringLiteral("plain");
            // Dovecot reads a fresh maildir once at the first login: not part of anyone's time.
            for (const QString &user : {oursUser, mfUser, floorUser})
                runProcess({floor, host, QString::number(port), mode, user,
                            QStringLiteral("secret"), QStringLiteral("--stat-only")},
                           {authority});

            const Measure floorRun = runProcess(
                {floor, host, QString::number(port), mode, floorUser, QStringLiteral("secret")},
                {authority});

            const QString rc = work.filePath(tag + QStringLiteral(".mailfilterrc"));
            QFile rcFile(rc);
            rcFile.open(QIODevice::WriteOnly);
            rcFile.write(QStringLiteral("LOGFILE = \"%1\"\nVERBOSE = 0\nREG_CASE = \"no\"\n"
                                        "SERVER = \"%2\"\nUSER = \"%3\"\nPASS = \"secret\"\n"
                                        "PROTOCOL = \"%4\"\nPORT = %5\n"
                                        "DENY = \"^From:.*@spam\\.example\"\n"
                                        "DENY = \"^Subject:.*viagra\"\n")
                             .arg(work.filePath(tag + QStringLiteral(".mailfilter.log")), host,
                                  mfUser, tls ? QStringLiteral("pop3/ssl") : QStringLiteral("pop3"))
                             .arg(port)
                             .toUtf8());
            rcFile.close();
            Measure mfRun;
            if (QFile::exists(mailfilter)) {
                QStringList arguments{mailfilter, QStringLiteral("-M"), rc, QStringLiteral("-i")};
                if (tls)
                    arguments << QStringLiteral("-s");
                mfRun = runProcess(arguments, {});
            }

            const QString storePath = work.filePath(tag + QStringLiteral("/registry.db"));
            {
                store::SqliteStore settings(storePath);
                auto access = settings.beginAccess();
                auto account = access->openOrCreate(QByteArray(store::kAccountsKey)
                                                    + oursUser.toUtf8() + "@bench.example");
                account->writeString(store::kPop3,
                                     QStringLiteral("%1:%2").arg(host).arg(port).toUtf8());
                account->writeString(store::kLogin, oursUser.toUtf8());
                account->writeString(store::kPassword, store::EncryptPassword("secret"));
                account->writeBool(store::kSsl, tls);
                access->openOrCreate(store::kMailFilterKey)->writeString("*@spam.example", {});
                access->openOrCreate(store::kSubjectFilterKey)->writeString("viagra", {});
                access->finish();
            }
            const QStringList oursEnvironment{QStringLiteral("OSTROVE_REGISTRY=") + storePath,
                                              authority};
            const Measure first =
                runProcess({ours, QStringLiteral("--check-once")}, oursEnvironment);
            const Measure second =
                runProcess({ours, QStringLiteral("--check-once")}, oursEnvironment);
            // The check itself, without starting a process: what the daemon spends each time.
            QList<double> checkSeconds;
            {
                QFile log(contract::logPathFor(storePath));
                log.open(QIODevice::ReadOnly);
                static const QRegularExpression took(
                    QStringLiteral("Check ends: .* in ([0-9.]+) s"));
                auto it = took.globalMatch(QString::fromUtf8(log.readAll()));
                while (it.hasNext())
                    checkSeconds.append(it.next().captured(1).toDouble());
            }
            if (first.exitCode != 0) {
                QFile log(contract::logPathFor(storePath));
                log.open(QIODevice::ReadOnly);
                std::fprintf(stderr, "OstroveService failed:\n%s", log.readAll().constData());
            }

            server.waitForSessionsEnded(oursUser, server.loginCount(oursUser), 30000);
            server.waitForSessionsEnded(mfUser, server.loginCount(mfUser), 30000);
            const QSet<QByteArray> oursLeft = messageIds(server.messages(oursUser));
            const QSet<QByteArray> mfLeft = messageIds(server.messages(mfUser));
            const int oursRemoved = size - int(oursLeft.size());
            const int mfRemoved = size - int(mfLeft.size());

            const auto cell = [](const Measure &m) {
                return m.exitCode < 0
                           ? QStringLiteral("-")
                           : QStringLiteral("%1 s %2 MB%3")
                                 .arg(m.seconds, 0, 'f', 3)
                                 .arg(m.peakMb, 0, 'f', 1)
                                 .arg(m.exitCode == 0 ? QString()
                                                      : QStringLiteral(" exit %1").arg(m.exitCode));
            };
            // A check that finds nothing new cannot do less than log in and list the ids.
            const Measure uidlOnly =
                runProcess({floor, host, QString::number(port), mode, floorUser,
                            QStringLiteral("secret"), QStringLiteral("--uidl-only")},
                           {authority});
            if (checkSeconds.size() == 2)
                std::printf("%-14s within the process: first check %.3f s, second %.3f s (%.1f%%); "
                            "a bare log-in and UIDL as a process %.3f s\n",
                            "", checkSeconds[0], checkSeconds[1],
                            100.0 * checkSeconds[1] / checkSeconds[0], uidlOnly.seconds);
            std::printf("%-14s %-22s %-22s %-22s %-12.2f %-12.2f %-10s %d/%d of %d%s\n",
                        qPrintable(QStringLiteral("%1 %2").arg(size).arg(mode)),
                        qPrintable(cell(first)), qPrintable(cell(mfRun)),
                        qPrintable(cell(floorRun)), first.seconds / floorRun.seconds,
                        mfRun.seconds > 0 ? first.seconds / mfRun.seconds : 0.0,
                        qPrintable(QStringLiteral("%1%").arg(100.0 * second.seconds / first.seconds,
                                                             0, 'f', 1)),
                        oursRemoved, mfRemoved, matching,
                        oursLeft == mfLeft ? " agree" : (mfRun.exitCode == 0 ? " DIFFER" : ""));
            // Keeping a copy of each removed message before its DELE, against a check that
            // keeps none (KeepRemovedDays 0): the same mailbox, plain and TLS alike.
            {
                QList<double> seconds;
                for (const bool keep : {true, false}) {
                    const QString user =
                        (keep ? QStringLiteral("keep") : QStringLiteral("nokeep")) + tag;
                    server.addUser(user, QStringLiteral("secret"));
                    for (int i = 0; i < size; ++i) {
                        bool matches = false;
                        server.deliver(user, message(i, &matches));
                    }
                    runProcess({floor, host, QString::number(port), mode, user,
                                QStringLiteral("secret"), QStringLiteral("--stat-only")},
                               {authority});
                    const QString keepStore = work.filePath(user + QStringLiteral("/registry.db"));
                    QDir().mkpath(work.filePath(user));
                    QFile::copy(storePath, keepStore);
                    {
                        store::SqliteStore settings(keepStore);
                        auto access = settings.beginAccess();
                        access->openOrCreate(store::kAccountsKey)
                            ->deleteKey(oursUser.toUtf8() + "@bench.example");
                        auto account = access->openOrCreate(QByteArray(store::kAccountsKey)
                                                            + user.toUtf8() + "@bench.example");
                        account->writeString(store::kPop3,
                                             QStringLiteral("%1:%2").arg(host).arg(port).toUtf8());
                        account->writeString(store::kLogin, user.toUtf8());
                        account->writeString(store::kPassword, store::EncryptPassword("secret"));
                        account->writeBool(store::kSsl, tls);
                        if (!keep)
                            access->openOrCreate(store::kSettingsKey)
                                ->writeInteger(store::kKeepRemovedDays, 0);
                        access->finish();
                    }
                    seconds.append(
                        runProcess({ours, QStringLiteral("--check-once")},
                                   {QStringLiteral("OSTROVE_REGISTRY=") + keepStore, authority})
                            .seconds);
                }
                std::printf("%-14s %d removals with their copies kept %.3f s, keeping none "
                            "%.3f s: +%.1f%%\n",
                            "", matching, seconds[0], seconds[1],
                            100.0 * (seconds[0] - seconds[1]) / seconds[1]);
            }
            if (!peakAtSmallest.contains(tls))
                peakAtSmallest.insert(tls, first.peakMb);
            else
                std::printf("%-14s peak memory %.1f MB against %.1f MB at the smallest mailbox: "
                            "ratio %.2f\n",
                            "", first.peakMb, peakAtSmallest.value(tls),
                            first.peakMb / peakAtSmallest.value(tls));
            std::fflush(stdout);
        }
    }

    // Large messages judged whole: the check's peak against the largest message it judges,
    // with several accounts at once. BENCH_LARGE=0 leaves it out.
    if (qEnvironmentVariableIntValue("BENCH_LARGE") != 0
        || !qEnvironmentVariableIsSet("BENCH_LARGE")) {
        struct Case
        {
            const char *name;
            int accounts;
            QByteArray text;
        };
        const QByteArray head = "From: a@work.example\r\nSubject: large\r\nMIME-Version: 1.0\r\n";
        QByteArray body;
        while (body.size() < 60 * 1000 * 1000)
            body += "a line of an ordinary long message, nothing to see here at all\r\n";
        QByteArray attachments = head + "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
        for (int i = 0; attachments.size() < 14 * 1000 * 1000; ++i)
            attachments += "--B\r\nContent-Type: application/octet-stream; name=\"f"
                           + QByteArray::number(i) + ".bin\"\r\n\r\nAAAA\r\n";
        attachments += "--B--\r\n";
        // As many parts as are read, each a 5 kB attachment.
        QByteArray mostParts = head + "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
        for (int i = 0; i < 2000; ++i)
            mostParts += "--B\r\nContent-Type: application/octet-stream; name=\"f"
                         + QByteArray::number(i) + ".bin\"\r\nContent-Transfer-Encoding: base64"
                         + "\r\n\r\n" + QByteArray(3800, 'A').toBase64() + "\r\n";
        mostParts += "--B--\r\n";
        QByteArray html;
        while (html.size() < 60 * 1000 * 1000)
            html += "<p>a line of an <b>ordinary</b> long message &amp; nothing to see</p>\r\n";
        QByteArray header = "From: a@work.example\r\nSubject: large header\r\n";
        while (header.size() < 50 * 1000 * 1000)
            header += "X-Filler: a header line that is only there to make the header large\r\n";
        const QList<Case> cases{
            {"4 accounts, a 60 MB message each", 4,
             head + "Content-Type: text/plain\r\n\r\n" + body},
            {"a 60 MB HTML message", 1, head + "Content-Type: text/html\r\n\r\n" + html},
            {"100,000 attachments in 14 MB (kept)", 1, attachments},
            {"a 50 MB header", 1, header + "\r\nbody\r\n"},
            {"2,000 attachments (the most read)", 1, mostParts},
        };
        for (const Case &large : cases) {
            const QString storePath =
                work.filePath(QStringLiteral("large-%1/registry.db").arg(&large - cases.data()));
            store::SqliteStore settings(storePath);
            auto access = settings.beginAccess();
            for (int a = 0; a < large.accounts; ++a) {
                const QString user = QStringLiteral("large%1x%2").arg(&large - cases.data()).arg(a);
                server.addUser(user, QStringLiteral("secret"));
                server.deliver(user, large.text);
                auto account = access->openOrCreate(QByteArray(store::kAccountsKey) + user.toUtf8()
                                                    + "@bench.example");
                account->writeString(store::kPop3, "127.0.0.1:" + QByteArray::number(proxy.port()));
                account->writeString(store::kLogin, user.toUtf8());
                account->writeString(store::kPassword, store::EncryptPassword("secret"));
            }
            access->openOrCreate(store::kContentFilterKey)->writeString("nothing like this", {});
            access->openOrCreate(QByteArray(store::kAttachmentsKey) + "*.exe");
            access->finish();
            const Measure run = runProcess({ours, QStringLiteral("--check-once")},
                                           {QStringLiteral("OSTROVE_REGISTRY=") + storePath});
            const double largestMb = double(large.text.size()) / (1024.0 * 1024.0);
            std::printf("%-34s peak %.1f MB, %.2f times the %.1f MB message, %.1f s%s\n",
                        large.name, run.peakMb, run.peakMb / largestMb, largestMb, run.seconds,
                        run.exitCode == 0 ? "" : " (check failed)");
            std::fflush(stdout);
        }
    }

    // The daemon between two checks: what it costs to wait.
    const int idleSeconds = qEnvironmentVariableIsSet("BENCH_IDLE_SECONDS")
                                ? qEnvironmentVariableIntValue("BENCH_IDLE_SECONDS")
                                : 60;
    if (idleSeconds > 0) {
        server.addUser(QStringLiteral("idle"), QStringLiteral("secret"));
        for (int i = 0; i < 1000; ++i) {
            bool matches = false;
            server.deliver(QStringLiteral("idle"), message(i, &matches));
        }
        const QString storePath = work.filePath(QStringLiteral("idle/registry.db"));
        {
            store::SqliteStore settings(storePath);
            auto access = settings.beginAccess();
            auto account =
                access->openOrCreate(QByteArray(store::kAccountsKey) + "idle@bench.example");
            account->writeString(store::kPop3, "localhost:" + QByteArray::number(server.tlsPort()));
            account->writeString(store::kLogin, "idle");
            account->writeString(store::kPassword, store::EncryptPassword("secret"));
            account->writeBool(store::kSsl, true);
            access->openOrCreate(store::kMailFilterKey)->writeString("*@spam.example", {});
            access->finish();
        }
        QProcess daemon;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
        environment.insert(QStringLiteral("SSL_CERT_FILE"), server.caCertificatePath());
        daemon.setProcessEnvironment(environment);
        daemon.setStandardErrorFile(QProcess::nullDevice());
        daemon.start(ours, {});
        const QString log = contract::logPathFor(storePath);
        const auto checkEnded = [&log] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("Check ends");
        };
        for (int waited = 0; !checkEnded() && waited < 600; ++waited)
            QThread::msleep(100);
        const auto cpuMs = [&daemon] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(daemon.processId()));
            if (!stat.open(QIODevice::ReadOnly))
                return -1.0;
            const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
            // After the name: state is field 1, utime 12 and stime 13, in clock ticks.
            return double(fields.value(12).toLongLong() + fields.value(13).toLongLong()) * 1000.0
                   / double(sysconf(_SC_CLK_TCK));
        };
        const auto rssMb = [&daemon] {
            QFile status(QStringLiteral("/proc/%1/status").arg(daemon.processId()));
            status.open(QIODevice::ReadOnly);
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
            }
            return -1.0;
        };
        const double before = cpuMs();
        QThread::sleep(idleSeconds);
        const double after = cpuMs();
        std::printf(
            "daemon idle for %d s after a check of 1,000 messages over TLS: %.0f ms of CPU, "
            "%.1f MB resident\n",
            idleSeconds, after - before, rssMb());
        daemon.terminate();
        daemon.waitForFinished(10000);
    }
    return 0;
}
