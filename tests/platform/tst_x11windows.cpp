#include "platform/X11Windows.h"

#include <QElapsedTimer>

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
#include <QTest>
#include <QThread>

// The tray window lookup and close request against a real X server (Xvfb) and a stand-in tray
// program that owns a window titled "OstroveTray".
class TestX11Windows : public QObject
{
    Q_OBJECT

private:
    QProcess m_server;
    QByteArray m_display;

    bool startTray(QProcess &tray, const QString &title = QStringLiteral("OstroveTray"))
    {
        tray.start(QStringLiteral(FAKE_TRAY), {title});
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (!said.contains("ready") && clock.elapsed() < 10000) {
            if (!tray.waitForReadyRead(100) && tray.state() == QProcess::NotRunning)
                break;
            said += tray.readAllStandardOutput();
        }
        if (!said.contains("ready"))
            qWarning("the stand-in tray did not start on %s: exit %d, %s; server %d: %s",
                     m_display.constData(), tray.exitCode(),
                     tray.readAllStandardError().constData(), int(m_server.state()),
                     m_server.readAllStandardError().constData());
        return said.contains("ready");
    }

private slots:
    void initTestCase()
    {
        m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                QStringLiteral("-screen"), QStringLiteral("0"),
                                                QStringLiteral("640x480x24")});
        if (!m_server.waitForStarted(5000))
            QSKIP("Xvfb is not installed");
        // The server writes its display number once it takes clients.
        QByteArray number;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000 && !number.endsWith('\n')) {
            m_server.waitForReadyRead(100);
            number += m_server.readAllStandardOutput();
        }
        number = number.trimmed();
        bool numeric = false;
        number.toInt(&numeric);
        QVERIFY2(numeric, number.constData());
        m_display = ':' + number;
        qputenv("DISPLAY", m_display);
        // Under load the server may drop a new connection; make sure it takes them.
        const auto accepts = [this] {
            Display *display = XOpenDisplay(m_display.constData());
            if (display)
                XCloseDisplay(display);
            return display != nullptr;
        };
        bool accepted = false;
        for (clock.restart(); !accepted && clock.elapsed() < 10000; QThread::msleep(20))
            accepted = accepts();
        QVERIFY(accepted);
    }
    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
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

    void anotherProgramsWindowIsLeftAlone()
    {
        platform::X11Windows windows;
        QProcess other;
        QVERIFY(startTray(other, QStringLiteral("Some Editor")));
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(QStringLiteral("Some Editor")), 5000);
        QVERIFY(!windows.requestClose(QStringLiteral("OstroveTray")));
        QVERIFY(!other.waitForFinished(300));
        other.kill();
        other.waitForFinished();
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
