#include "platform/X11Windows.h"

#include <QProcess>
#include <QTest>

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
        return tray.waitForReadyRead(5000) && tray.readAll().startsWith("ready");
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
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
        m_display = ':' + m_server.readLine().trimmed();
        qputenv("DISPLAY", m_display);
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
