#include "monitor/MonitorNames.h"
#include "platform/Win32Windows.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

// The tray buttons' window lookup and close request against a window program of the tests' own
// titled OstroveTray, running in the same Wine prefix as another process.
class TestWin32Windows : public QObject
{
    Q_OBJECT

private slots:
    void findsTheTrayWindowAndEndsItsProgram()
    {
        platform::Win32Windows windows;
        const QString title = QLatin1String(monitor::kTrayWindowTitle);
        QVERIFY(!windows.exists(title));
        QVERIFY(!windows.requestClose(title));

        QProcess tray;
        tray.start(QCoreApplication::applicationDirPath() + QStringLiteral("/fake_tray.exe"));
        QVERIFY(tray.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(windows.exists(title), 10000);
        QVERIFY(windows.exists(QStringLiteral("ostroveTRAY"))); // titles compare without case
        QVERIFY(!windows.exists(QStringLiteral("OstroveTray2")));

        QVERIFY(windows.requestClose(title));
        QVERIFY(tray.waitForFinished(10000));
        QCOMPARE(tray.exitCode(), 0); // its message loop ended on WM_QUIT, not on its time-out
        QVERIFY(!windows.exists(title));
    }
};

QTEST_GUILESS_MAIN(TestWin32Windows)
#include "tst_win32windows.moc"
