#include "DovecotServer.h"
#include "MailTestSupport.h"
#include "Pop3Proxy.h"
#include "QuietWrite.h"
#include "XvfbServer.h"
#include "platform/X11Windows.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#undef Bool
#undef None
#undef Status
#undef Unsorted
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef Expose
#undef CursorShape

namespace {

const QString kTitle = QStringLiteral("OstroveTray");

QByteArray testMail(const QByteArray &from, const QByteArray &subject)
{
    return "From: " + from + "\r\nTo: me@test.example\r\nSubject: " + subject + "\r\nMessage-ID: <"
           + subject + "@test.example>\r\n\r\nHello.\r\n";
}

void storeAutorun(const QString &storePath)
{
    writeQuietly(storePath, [](store::Access &access) {
        access.openOrCreate(store::kRunKey)->writeString(store::kAutorunValue, "OstroveTray");
    });
}

} // namespace

// OstroveTray as a process on a real X server (Xvfb), found and closed the way the
// configuration page does it, with and without a window manager, against a real Dovecot.
class TestTrayProgram : public QObject
{
    Q_OBJECT

private:
    QByteArray m_display;
    QTemporaryDir m_home;
    XvfbServer m_xvfb{m_home.filePath(QStringLiteral("xvfb.log"))};
    DovecotServer m_dovecot;

    QProcessEnvironment trayEnvironment(const QString &storePath) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        return environment;
    }

    void startTray(QProcess &tray, const QString &storePath, const QStringList &arguments = {},
                   const QProcessEnvironment &extra = {})
    {
        QProcessEnvironment environment = trayEnvironment(storePath);
        for (const QString &name : extra.keys())
            environment.insert(name, extra.value(name));
        tray.setProcessEnvironment(environment);
        tray.setProcessChannelMode(QProcess::ForwardedChannels);
        tray.start(QStringLiteral(OSTROVE_TRAY), arguments);
        QVERIFY(tray.waitForStarted(5000));
    }

    // Ends the program through the configuration page's own close request; prints how long
    // that took.
    void closeLikeTheConfigurationPage(QProcess &tray, const char *what)
    {
        platform::X11Windows windows;
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(kTitle), 20000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(windows.requestClose(kTitle));
        QVERIFY(tray.waitForFinished(20000));
        qInfo("%s: the tray program ended %lld ms after the close request", what,
              static_cast<long long>(clock.elapsed()));
        QCOMPARE(tray.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tray.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!windows.exists(kTitle), 5000);
    }

    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(5000);
    }

    bool managerRuns() const
    {
        Display *display = XOpenDisplay(m_display.constData());
        if (!display)
            return false;
        const bool owned = XGetSelectionOwner(display, XInternAtom(display, "WM_S0", 0)) != 0;
        XCloseDisplay(display);
        return owned;
    }

    // An icon docked in the tray: a window carrying _XEMBED_INFO that is no child of the root.
    bool dockedIconExists() const
    {
        Display *display = XOpenDisplay(m_display.constData());
        if (!display)
            return false;
        const Atom xembed = XInternAtom(display, "_XEMBED_INFO", 1);
        bool found = false;
        QList<Window> pending{DefaultRootWindow(display)};
        while (!pending.isEmpty() && !found && xembed != 0) {
            const Window parent = pending.takeFirst();
            Window root = 0;
            Window up = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, parent, &root, &up, &children, &count))
                continue;
            for (unsigned int i = 0; i < count && !found; ++i) {
                int properties = 0;
                Atom *names = XListProperties(display, children[i], &properties);
                for (int p = 0; p < properties; ++p)
                    found = found || (names[p] == xembed && parent != root);
                if (names)
                    XFree(names);
                pending.append(children[i]);
            }
            if (children)
                XFree(children);
        }
        XCloseDisplay(display);
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QString why;
        if (!m_xvfb.start(&why))
            QSKIP(qPrintable(why));
        m_display = m_xvfb.display();

        QString error;
        QVERIFY2(m_dovecot.start(&error), qPrintable(error));
        m_dovecot.addUser(QStringLiteral("alice"), QStringLiteral("secret"));
        m_dovecot.addUser(QStringLiteral("bob"), QStringLiteral("secret"));
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_dovecot.caCertificatePath()));
    }

    void theConfigurationPageFindsItAndItsCloseRequestEndsIt()
    {
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example"); // a store to read
        platform::X11Windows windows;
        QVERIFY(!windows.exists(kTitle));
        QProcess tray;
        startTray(tray, bench.storePath());
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains(QStringLiteral("Check ends")), 20000);
        closeLikeTheConfigurationPage(tray, "no window manager");
        QVERIFY(bench.log().contains(QStringLiteral("Tray program ends")));
        // Offscreen there is no tray, and the log says so.
        QVERIFY(bench.log().contains(QStringLiteral("No system tray on this desktop")));
    }

    // The page's close request, or the end of a desktop session (SIGTERM), during a check:
    // the program ends cleanly without QUIT, so the marked deletion is never committed.
    void endingItDuringACheckRemovesNothing_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("close request") << false;
        QTest::newRow("SIGTERM") << true;
    }
    void endingItDuringACheckRemovesNothing()
    {
        QFETCH(bool, bySignal);
        MailTestBench bench;
        const QByteArray spam = testMail("x@spam.example", bySignal ? "terminated" : "stalled");
        m_dovecot.deliver(QStringLiteral("bob"), spam);
        const int sessionsBefore = m_dovecot.loginCount(QStringLiteral("bob"));
        {
            Pop3Proxy proxy(m_dovecot.plainPort());
            QString error;
            QVERIFY2(proxy.start(&error), qPrintable(error));
            proxy.setHideStls(true);
            // The deletion is marked and no answer comes back: only a QUIT would commit it.
            proxy.stallOnCommand("DELE");
            bench.addAccount("bob@test.example", "127.0.0.1:" + QByteArray::number(proxy.port()),
                             "bob", "secret", false);
            bench.addPattern(store::kMailFilterKey, "*@spam.example");

            QProcess tray;
            startTray(tray, bench.storePath());
            auto guard = qScopeGuard([&tray] { stop(tray); });
            QTRY_VERIFY_WITH_TIMEOUT(proxy.faultCount() > 0, 20000);
            if (bySignal) {
                tray.terminate();
                QVERIFY(tray.waitForFinished(20000));
                QCOMPARE(tray.exitStatus(), QProcess::NormalExit);
                QCOMPARE(tray.exitCode(), 0);
            } else {
                closeLikeTheConfigurationPage(tray, "during a check");
            }
            QVERIFY(proxy.clientData(0).contains("DELE 1"));
            QVERIFY(!proxy.clientData(0).contains("QUIT"));
        }
        QVERIFY(m_dovecot.waitForSessionsEnded(QStringLiteral("bob"), sessionsBefore + 1, 20000));
        QVERIFY(m_dovecot.messages(QStringLiteral("bob")).contains(spam));
        QVERIFY(bench.log().contains(QStringLiteral("bob@test.example: stopped")));
        QVERIFY(bench.log().contains(QStringLiteral("Tray program ends")));
        QVERIFY(!bench.log().contains(QStringLiteral("1 removed")));
    }

    void aSecondStartMakesTheFirstCheckAndEnds()
    {
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example"); // a store to read
        QProcess first;
        startTray(first, bench.storePath());
        auto guard = qScopeGuard([&first] { stop(first); });
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains(QStringLiteral("Check ends")), 20000);
        QCOMPARE(bench.log().count(QStringLiteral("Check begins")), 1);

        QProcess second;
        startTray(second, bench.storePath());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(bench.log().count(QStringLiteral("Check ends")), 2, 20000);
        QCOMPARE(bench.log().count(QStringLiteral("Tray program starts")), 1);
        QVERIFY(first.state() == QProcess::Running);

        // Another store is another tray program.
        MailTestBench other;
        other.addPattern(store::kMailFilterKey, "*@spam.example");
        QProcess beside;
        startTray(beside, other.storePath());
        auto besideGuard = qScopeGuard([&beside] { stop(beside); });
        QTRY_VERIFY_WITH_TIMEOUT(other.log().contains(QStringLiteral("Check ends")), 20000);
        QVERIFY(beside.state() == QProcess::Running);
        stop(beside);
        closeLikeTheConfigurationPage(first, "first of two");
    }

    void autostartEndsAtOnceWithoutTheAutorunValue()
    {
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example"); // a store, but no tick
        QProcess tray;
        startTray(tray, bench.storePath(), {QStringLiteral("--autostart")});
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QVERIFY(tray.waitForFinished(20000));
        QCOMPARE(tray.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tray.exitCode(), 0);
        QVERIFY(!QFile::exists(bench.logPath())); // it did not check

        MailTestBench empty; // no store file at all
        QProcess nothing;
        startTray(nothing, empty.storePath(), {QStringLiteral("--autostart")});
        QVERIFY(nothing.waitForFinished(20000));
        QCOMPARE(nothing.exitCode(), 0);
        QVERIFY(!QFile::exists(empty.storePath())); // read-only: nothing created
    }

    void autostartRunsWithTheAutorunValue()
    {
        MailTestBench bench;
        storeAutorun(bench.storePath());
        QProcess tray;
        startTray(tray, bench.storePath(), {QStringLiteral("--autostart")});
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains(QStringLiteral("Check ends")), 20000);
        QVERIFY(tray.state() == QProcess::Running);
        closeLikeTheConfigurationPage(tray, "autostart");
    }

    void aCheckRemovesTheMatchingMessageAndTheNextReadsTheSettingsAgain()
    {
        MailTestBench bench;
        const QByteArray spam = testMail("Promo <deals@spam.example>", "deal");
        const QByteArray friendly = testMail("friend@good.example", "hello");
        const QByteArray later = testMail("news@later.example", "news");
        for (const QByteArray &message : {friendly, spam, later})
            m_dovecot.deliver(QStringLiteral("alice"), message);
        bench.addAccount("alice@test.example",
                         "127.0.0.1:" + QByteArray::number(m_dovecot.plainPort()), "alice",
                         "secret", false);
        bench.addPattern(store::kMailFilterKey, "*@spam.example");

        QProcess tray;
        QProcessEnvironment interval;
        interval.insert(QStringLiteral("OSTROVE_TEST_INTERVAL_SECONDS"), QStringLiteral("1"));
        startTray(tray, bench.storePath(), {}, interval);
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QTRY_VERIFY_WITH_TIMEOUT(
            bench.log().contains(QStringLiteral("alice@test.example: removed message from")),
            30000);
        QVERIFY(m_dovecot.waitForSessionsEnded(QStringLiteral("alice"), 1));
        QCOMPARE(m_dovecot.messages(QStringLiteral("alice")), (QList<QByteArray>{friendly, later}));

        // A pattern added while it runs is used at the next check, without a restart.
        bench.addPattern(store::kMailFilterKey, "*@later.example");
        QTRY_VERIFY_WITH_TIMEOUT(
            bench.log().contains(QStringLiteral("(MailFilter: *@later.example)")), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(m_dovecot.messages(QStringLiteral("alice")),
                                  QList<QByteArray>{friendly}, 10000);
        QCOMPARE(bench.log().count(QStringLiteral("Tray program starts")), 1);
        QVERIFY(!bench.log().contains(QStringLiteral("secret")));
        closeLikeTheConfigurationPage(tray, "after checks");
    }

    // At login the panel may come up after the program: the icon appears when its tray does.
    void theIconAppearsWhenATrayComesUpLater()
    {
        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example"); // a store to read
        QProcess tray;
        startTray(tray, bench.storePath());
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains(QStringLiteral("Check ends")), 20000);
        QVERIFY(bench.log().contains(QStringLiteral("No system tray on this desktop")));
        QVERIFY(!dockedIconExists());

        QProcess panel; // IceWM's task bar holds a system tray
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
        environment.insert(QStringLiteral("HOME"), m_home.path());
        panel.setProcessEnvironment(environment);
        panel.setStandardOutputFile(QProcess::nullDevice());
        panel.setStandardErrorFile(QProcess::nullDevice());
        panel.start(QStringLiteral("icewm"), {});
        if (!panel.waitForStarted(5000))
            QSKIP("icewm is not installed (scripts/dependencies.sh installs it)");
        auto panelGuard = qScopeGuard([&panel] {
            panel.terminate();
            if (!panel.waitForFinished(5000))
                stop(panel);
        });
        QTRY_VERIFY_WITH_TIMEOUT(
            bench.log().contains(QStringLiteral("A system tray appeared: the tray icon is shown")),
            30000);
        QTRY_VERIFY_WITH_TIMEOUT(dockedIconExists(), 20000);
        closeLikeTheConfigurationPage(tray, "tray came later");
    }

    // Last: the window manager stays on the display once it has run.
    void underAReparentingWindowManager()
    {
        QProcess manager;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_home.filePath(QStringLiteral("wm")));
        manager.setProcessEnvironment(environment);
        manager.setStandardOutputFile(QProcess::nullDevice());
        manager.setStandardErrorFile(QProcess::nullDevice());
        manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!manager.waitForStarted(5000))
            QSKIP("openbox is not installed (scripts/dependencies.sh installs it)");
        auto managerGuard = qScopeGuard([&manager] {
            manager.terminate();
            if (!manager.waitForFinished(5000))
                stop(manager);
        });
        QTRY_VERIFY_WITH_TIMEOUT(managerRuns(), 10000);

        MailTestBench bench;
        bench.addPattern(store::kMailFilterKey, "*@spam.example"); // a store to read
        QProcess tray;
        startTray(tray, bench.storePath());
        auto guard = qScopeGuard([&tray] { stop(tray); });
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains(QStringLiteral("Check ends")), 20000);

        QProcess second;
        startTray(second, bench.storePath());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(bench.log().count(QStringLiteral("Check ends")), 2, 20000);

        closeLikeTheConfigurationPage(tray, "under openbox");
    }
};

QTEST_GUILESS_MAIN(TestTrayProgram)
#include "tst_trayprogram.moc"
