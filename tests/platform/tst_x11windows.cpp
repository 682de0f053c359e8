#include "XvfbServer.h"
#include "platform/X11Windows.h"

#include <QElapsedTimer>
#include <QFile>

#include <X11/Xatom.h>
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

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// The tray window lookup and close request against a real X server (Xvfb) and a stand-in tray
// program that owns a window titled "OstroveTray".
class TestX11Windows : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    XvfbServer m_xvfb{m_home.filePath(QStringLiteral("xvfb.log"))};
    QByteArray m_display;
    // The test's own connection, for looking at the tree as it is.
    Display *m_x = nullptr;

    QByteArray serverSaid() const { return m_xvfb.log(); }

    // Starts the stand-in tray and returns its titled window, or 0 when it did not start.
    Window startTray(QProcess &tray, const QStringList &arguments = {})
    {
        tray.start(QStringLiteral(FAKE_TRAY), arguments);
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (!said.contains('\n') && clock.elapsed() < 10000) {
            if (!tray.waitForReadyRead(100) && tray.state() == QProcess::NotRunning)
                break;
            said += tray.readAllStandardOutput();
        }
        if (!said.startsWith("ready ")) {
            qWarning("the stand-in tray did not start on %s: exit %d, %s; server: %s",
                     m_display.constData(), tray.exitCode(),
                     tray.readAllStandardError().constData(), serverSaid().constData());
            return 0;
        }
        return said.mid(6).trimmed().toULong();
    }

    // How many parents stand between the window and the root.
    int depthOf(Window window) const
    {
        int depth = 0;
        for (Window current = window; current != DefaultRootWindow(m_x); ++depth) {
            Window root = 0;
            Window parent = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_x, current, &root, &parent, &children, &count))
                return -1;
            if (children)
                XFree(children);
            current = parent;
        }
        return depth;
    }

    // The windows the window manager says it manages, read here on its own.
    QList<Window> managedWindows() const { return rootWindows("_NET_CLIENT_LIST"); }

    QList<Window> rootWindows(const char *property) const
    {
        QList<Window> windows;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_x, DefaultRootWindow(m_x), XInternAtom(m_x, property, 0), 0,
                               100000, 0, XA_WINDOW, &type, &format, &count, &after, &data)
                == Success
            && data) {
            const auto *ids = reinterpret_cast<const unsigned long *>(data);
            for (unsigned long i = 0; i < count; ++i)
                windows.append(ids[i]);
            XFree(data);
        }
        return windows;
    }

    // The managed window on top: the manager lists them bottom to top.
    Window stackingTop() const
    {
        const QList<Window> stacking = rootWindows("_NET_CLIENT_LIST_STACKING");
        return stacking.isEmpty() ? 0 : stacking.last();
    }

    Window activeWindow() const
    {
        const QList<Window> active = rootWindows("_NET_ACTIVE_WINDOW");
        return active.isEmpty() ? 0 : active.first();
    }

    // Without a manager the root's children are the windows, bottom to top; only shown ones
    // count.
    Window topmostChildOfRoot() const
    {
        Window root = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        Window top = 0;
        if (XQueryTree(m_x, DefaultRootWindow(m_x), &root, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count; ++i) {
                if (isViewable(children[i]))
                    top = children[i];
            }
            if (children)
                XFree(children);
        }
        return top;
    }

    // The shown window with this _NET_WM_NAME, wherever it lies in the tree; 0 when none is.
    Window shownWindowTitled(const QByteArray &title) const
    {
        const Atom netWmName = XInternAtom(m_x, "_NET_WM_NAME", 0);
        QList<Window> pending{DefaultRootWindow(m_x)};
        while (!pending.isEmpty()) {
            const Window parent = pending.takeFirst();
            Window root = 0;
            Window up = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_x, parent, &root, &up, &children, &count))
                continue;
            Window found = 0;
            for (unsigned int i = 0; i < count && !found; ++i) {
                Atom type = 0;
                int format = 0;
                unsigned long length = 0;
                unsigned long after = 0;
                unsigned char *data = nullptr;
                XGetWindowProperty(m_x, children[i], netWmName, 0, 1024, 0, AnyPropertyType, &type,
                                   &format, &length, &after, &data);
                if (data) {
                    if (QByteArray(reinterpret_cast<const char *>(data), qsizetype(length)) == title
                        && isViewable(children[i]))
                        found = children[i];
                    XFree(data);
                }
                pending.append(children[i]);
            }
            if (children)
                XFree(children);
            if (found)
                return found;
        }
        return 0;
    }

    // What a pager or a click sends to have the window manager activate a window.
    void clickOnWindow(Window window) const
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(m_x, "_NET_ACTIVE_WINDOW", 0);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        XSendEvent(m_x, DefaultRootWindow(m_x), 0,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(m_x, 0);
    }

    bool isViewable(Window window) const
    {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(m_x, window, &attributes) && attributes.map_state == IsViewable;
    }

    // Whether a window manager holds the screen: it owns the manager selection while it runs.
    bool managerRuns() const { return XGetSelectionOwner(m_x, XInternAtom(m_x, "WM_S0", 0)) != 0; }

    bool rootHas(const char *property) const
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        XGetWindowProperty(m_x, DefaultRootWindow(m_x), XInternAtom(m_x, property, 0), 0, 1, 0,
                           XA_WINDOW, &type, &format, &count, &after, &data);
        if (data)
            XFree(data);
        return type == XA_WINDOW;
    }

    // Running and done starting: a window mapped earlier may otherwise go unmanaged. The
    // client list, even an empty one, is published at the end of the start.
    bool managerReady() const
    {
        return managerRuns() && rootHas("_NET_SUPPORTING_WM_CHECK") && rootHas("_NET_CLIENT_LIST");
    }

    // A manager that is still starting may drop a map request it gets, and the window then
    // stays unmapped for good (seen with Openbox started again on the same server). One that has
    // taken a window of ours takes the next ones too.
    bool managerTakesWindows()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const Window probe =
                XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, 10, 10, 0, 0, 0);
            XMapWindow(m_x, probe);
            XSync(m_x, 0);
            QElapsedTimer clock;
            clock.start();
            while (!managedWindows().contains(probe) && clock.elapsed() < 2000)
                QThread::msleep(20);
            const bool taken = managedWindows().contains(probe);
            XDestroyWindow(m_x, probe);
            XSync(m_x, 0);
            for (clock.restart(); managedWindows().contains(probe) && clock.elapsed() < 5000;)
                QThread::msleep(20);
            if (taken)
                return true;
        }
        return false;
    }

    bool startWindowManager(QProcess &manager, const QString &program)
    {
        // Its own settings folder, so nothing of the user's is read or written.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_home.filePath(QStringLiteral("config")));
        manager.setProcessEnvironment(environment);
        manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        manager.setStandardOutputFile(QProcess::nullDevice());
        // What an earlier manager left on the root would look like this one's.
        const Window root = DefaultRootWindow(m_x);
        XDeleteProperty(m_x, root, XInternAtom(m_x, "_NET_SUPPORTING_WM_CHECK", 0));
        XDeleteProperty(m_x, root, XInternAtom(m_x, "_NET_CLIENT_LIST", 0));
        XSync(m_x, 0);
        // A loaded server may drop its first connection, and the manager then gives up.
        for (int attempt = 0; attempt < 3; ++attempt) {
            manager.start(program, {});
            if (!manager.waitForStarted(5000))
                return false;
            QElapsedTimer clock;
            clock.start();
            while (!managerReady() && clock.elapsed() < 10000 && !manager.waitForFinished(20)) {
            }
            if (managerReady() && managerTakesWindows())
                return true;
            stopWindowManager(manager);
        }
        return false;
    }

    void stopWindowManager(QProcess &manager)
    {
        manager.terminate();
        if (!manager.waitForFinished(5000)) {
            manager.kill();
            manager.waitForFinished();
        }
        QElapsedTimer clock;
        clock.start();
        while (managerRuns() && clock.elapsed() < 5000)
            QThread::msleep(20);
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!m_xvfb.start(&why)) {
            // Without Xvfb there is nothing to look at; one that is there but did not come up
            // fails, or every check below would pass unseen.
            if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
                QSKIP(qPrintable(why));
            QFAIL(qPrintable(why));
        }
        m_display = m_xvfb.display();
        QElapsedTimer clock;
        for (clock.start(); !m_x && clock.elapsed() < 10000; QThread::msleep(20))
            m_x = XOpenDisplay(m_display.constData());
        QVERIFY(m_x);
    }
    void cleanupTestCase()
    {
        if (m_x)
            XCloseDisplay(m_x);
    }

    // The tests' own X server: a program that connects just as the last one has left must be
    // taken (an X server that resets between clients refuses about one in ten such).
    void theTestServerTakesClientsThatComeAndGo()
    {
        // A second server names itself in DISPLAY; the other tests use the first.
        const auto restore = qScopeGuard([this] { qputenv("DISPLAY", m_display); });
        QTemporaryDir home;
        XvfbServer server(home.filePath(QStringLiteral("xvfb.log")));
        QString why;
        QVERIFY2(server.start(&why), qPrintable(why));
        int refused = 0;
        for (int i = 0; i < 300; ++i) {
            Display *display = XOpenDisplay(server.display().constData());
            if (display)
                XCloseDisplay(display);
            else
                ++refused;
        }
        QCOMPARE(refused, 0);
    }

    void findsTheTrayWindowByItsExactTitle()
    {
        platform::X11Windows windows;
        QVERIFY(!windows.exists(QStringLiteral("OstroveTray")));
        QProcess tray;
        QVERIFY(startTray(tray));
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(QStringLiteral("OstroveTray")), 5000);
        QVERIFY(!windows.exists(QStringLiteral("OstroveTra")));
        QVERIFY(!windows.exists(QStringLiteral("ostrovetray")));
        tray.kill();
        tray.waitForFinished();
    }

    void theCloseRequestEndsTheTrayProgram()
    {
        platform::X11Windows windows;
        QProcess tray;
        QVERIFY(startTray(tray));
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(QStringLiteral("OstroveTray")), 5000);
        QVERIFY(windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(tray.waitForFinished(5000));
        QCOMPARE(tray.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!windows.exists(QStringLiteral("OstroveTray")), 5000);
        QVERIFY(!windows.requestClose(QStringLiteral("OstroveTray"))); // nothing left to ask
    }

    // Toolkits take the close request only in the form the window manager sends it.
    void theCloseRequestIsTheWindowManagersDeleteMessage()
    {
        const Window window =
            XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, 100, 40, 0, 0, 0);
        const auto destroy = qScopeGuard([&] {
            XDestroyWindow(m_x, window);
            XSync(m_x, 0);
        });
        XStoreName(m_x, window, "OstroveTray");
        Atom deleteWindow = XInternAtom(m_x, "WM_DELETE_WINDOW", 0);
        XSetWMProtocols(m_x, window, &deleteWindow, 1);
        XSync(m_x, 0);

        platform::X11Windows windows;
        QVERIFY(windows.requestClose(QStringLiteral("OstroveTray")));
        // Sent without an event mask, it comes to the window's creator: this connection.
        XEvent event{};
        bool received = false;
        const auto receive = [&] {
            if (!received && XPending(m_x) > 0)
                received = XCheckTypedWindowEvent(m_x, window, ClientMessage, &event);
            return received;
        };
        QTRY_VERIFY_WITH_TIMEOUT(receive(), 5000);
        QCOMPARE(event.xclient.message_type, XInternAtom(m_x, "WM_PROTOCOLS", 0));
        QCOMPARE(event.xclient.format, 32);
        QCOMPARE(static_cast<Atom>(event.xclient.data.l[0]), deleteWindow);
        QCOMPARE(event.xclient.send_event, 1);
    }

    void anotherProgramsWindowIsLeftAlone()
    {
        platform::X11Windows windows;
        QProcess other;
        QVERIFY(startTray(other, {QStringLiteral("Some Editor")}));
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(QStringLiteral("Some Editor")), 5000);
        QVERIFY(!windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(!other.waitForFinished(300));
        other.kill();
        other.waitForFinished();
    }

    void aWindowNestedDeeperThanTwoLevelsIsFoundAndClosed()
    {
        QProcess tray;
        const Window window = startTray(tray, {QStringLiteral("--inside"), QStringLiteral("3")});
        QVERIFY(window);
        QCOMPARE(depthOf(window), 4);
        platform::X11Windows windows;
        QVERIFY(windows.exists(QStringLiteral("OstroveTray")));
        QVERIFY(windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(tray.waitForFinished(5000));
        QCOMPARE(tray.exitCode(), 0); // the request reached the titled window itself
    }

    void theTrayWindowIsFoundAndClosedUnderAWindowManager_data()
    {
        QTest::addColumn<QString>("manager");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("depthUnframed");
        QTest::addColumn<bool>("shown");
        for (const char *manager : {"icewm", "openbox"}) {
            const QString name = QLatin1String(manager);
            QTest::addRow("%s, shown", manager) << name << QStringList{} << 1 << true;
            QTest::addRow("%s, never shown", manager)
                << name << QStringList{QStringLiteral("--unmapped")} << 1 << false;
            QTest::addRow("%s, nested", manager)
                << name << QStringList{QStringLiteral("--inside"), QStringLiteral("2")} << 3
                << true;
        }
    }
    void theTrayWindowIsFoundAndClosedUnderAWindowManager()
    {
        QFETCH(QString, manager);
        QFETCH(QStringList, arguments);
        QFETCH(int, depthUnframed);
        QFETCH(bool, shown);
        if (QStandardPaths::findExecutable(manager).isEmpty())
            QSKIP("this window manager is not installed");
        QProcess wm;
        QVERIFY2(startWindowManager(wm, manager), qPrintable(manager));
        const auto stopManager = qScopeGuard([&] { stopWindowManager(wm); });
        // Another program's window in the manager's list, so that the list is never empty.
        QProcess other;
        const Window otherWindow = startTray(other, {QStringLiteral("Some Editor")});
        QVERIFY(otherWindow);
        const auto stopOther = qScopeGuard([&] {
            other.kill();
            other.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(managedWindows().contains(otherWindow), 5000);
        QProcess tray;
        const Window window = startTray(tray, arguments);
        QVERIFY(window);
        const auto stopTray = qScopeGuard([&] {
            tray.kill();
            tray.waitForFinished();
        });
        if (shown) {
            // Framed by the manager: the program's window now lies deeper than it was made.
            QTRY_VERIFY2_WITH_TIMEOUT(depthOf(window) > depthUnframed,
                                      qPrintable(QString::number(depthOf(window))), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(managedWindows().size(), 2, 5000);
        } else {
            QTest::qWait(300);
            QCOMPARE(depthOf(window), depthUnframed);
            QVERIFY(!managedWindows().contains(window));
        }
        platform::X11Windows windows;
        QVERIFY(windows.exists(QStringLiteral("OstroveTray")));
        QVERIFY(!windows.exists(QStringLiteral("OstroveTra")));
        QVERIFY(windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(tray.waitForFinished(5000));
        QCOMPARE(tray.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!windows.exists(QStringLiteral("OstroveTray")), 5000);
        QCOMPARE(other.state(), QProcess::Running);
    }

    // Two windows with the tray's title: the request goes to the one the manager shows, not to
    // a never-shown one that lies nearer the root.
    void theWindowTheManagerShowsIsAskedFirst_data()
    {
        QTest::addColumn<QString>("manager");
        QTest::newRow("icewm") << QStringLiteral("icewm");
        QTest::newRow("openbox") << QStringLiteral("openbox");
    }
    void theWindowTheManagerShowsIsAskedFirst()
    {
        QFETCH(QString, manager);
        if (QStandardPaths::findExecutable(manager).isEmpty())
            QSKIP("this window manager is not installed");
        QProcess wm;
        QVERIFY2(startWindowManager(wm, manager), qPrintable(manager));
        const auto stopManager = qScopeGuard([&] { stopWindowManager(wm); });
        QProcess hidden;
        const Window hiddenWindow = startTray(hidden, {QStringLiteral("--unmapped")});
        QVERIFY(hiddenWindow);
        const auto stopHidden = qScopeGuard([&] {
            hidden.kill();
            hidden.waitForFinished();
        });
        QProcess shown;
        const Window shownWindow = startTray(shown);
        QVERIFY(shownWindow);
        const auto stopShown = qScopeGuard([&] {
            shown.kill();
            shown.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(managedWindows().contains(shownWindow), 5000);
        QVERIFY(depthOf(hiddenWindow) < depthOf(shownWindow));

        platform::X11Windows windows;
        QVERIFY(windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(shown.waitForFinished(5000));
        QCOMPARE(shown.exitCode(), 0);
        QCOMPARE(hidden.state(), QProcess::Running);
    }

    // Settings in the tray menu brings an open configuration window to the front instead of
    // starting a second program: behind another window, minimised, and with no manager at all.
    void activateBringsTheWindowToTheFront_data()
    {
        QTest::addColumn<QString>("manager");
        QTest::addColumn<bool>("minimised");
        QTest::newRow("no manager") << QString() << false;
        for (const char *manager : {"icewm", "openbox"}) {
            QTest::addRow("%s, behind another", manager) << QString::fromLatin1(manager) << false;
            QTest::addRow("%s, minimised", manager) << QString::fromLatin1(manager) << true;
        }
    }
    void activateBringsTheWindowToTheFront()
    {
        QFETCH(QString, manager);
        QFETCH(bool, minimised);
        QProcess wm;
        if (!manager.isEmpty()) {
            if (QStandardPaths::findExecutable(manager).isEmpty())
                QSKIP("this window manager is not installed");
            QVERIFY2(startWindowManager(wm, manager), qPrintable(manager));
        }
        const auto stopManager = qScopeGuard([&] {
            if (wm.state() != QProcess::NotRunning)
                stopWindowManager(wm);
        });
        const QString title = QStringLiteral("Ostrove Configuration");
        platform::X11Windows windows;
        QVERIFY(!windows.activate(title)); // nothing to raise: the tray starts the program

        // The configuration program itself: Qt gives a hidden window of its own the same name.
        QProcess configuration;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTROVE_REGISTRY"),
                           m_home.filePath(QStringLiteral("registry.db")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("HOME"), m_home.path());
        configuration.setProcessEnvironment(environment);
        configuration.setProcessChannelMode(QProcess::ForwardedChannels);
        configuration.start(QStringLiteral(OSTROVE_CONF), {});
        const auto stopConfiguration = qScopeGuard([&] {
            configuration.kill();
            configuration.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(shownWindowTitled("Ostrove Configuration"), 30000);
        const Window window = shownWindowTitled("Ostrove Configuration");
        QProcess other;
        const Window otherWindow = startTray(other, {QStringLiteral("Some Editor")});
        QVERIFY(otherWindow);
        const auto stopOther = qScopeGuard([&] {
            other.kill();
            other.waitForFinished();
        });
        if (manager.isEmpty()) {
            QCOMPARE(topmostChildOfRoot(), otherWindow);
        } else {
            // As a click on the other window would: the configuration window may have asked for
            // the focus itself a moment after the other one came up.
            clickOnWindow(otherWindow);
            QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), otherWindow, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(stackingTop(), otherWindow, 5000);
            if (minimised) {
                XIconifyWindow(m_x, window, DefaultScreen(m_x));
                XSync(m_x, 0);
                QTRY_VERIFY_WITH_TIMEOUT(!isViewable(window), 5000);
            }
            QVERIFY(activeWindow() != window);
        }

        QVERIFY(windows.activate(title));
        QTRY_VERIFY_WITH_TIMEOUT(isViewable(window), 5000);
        if (manager.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(topmostChildOfRoot(), window, 5000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(stackingTop(), window, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), window, 5000);
        }
        QCOMPARE(configuration.state(), QProcess::Running);
    }

    void withoutADisplayThereAreNoWindows()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":99999");
        platform::X11Windows windows;
        QVERIFY(!windows.exists(QStringLiteral("OstroveTray")));
        QVERIFY(!windows.requestClose(QStringLiteral("OstroveTray")));
        qunsetenv("DISPLAY");
        QVERIFY(!windows.exists(QStringLiteral("OstroveTray")));
        qputenv("DISPLAY", display);
    }
};

QTEST_GUILESS_MAIN(TestX11Windows)
#include "tst_x11windows.moc"
