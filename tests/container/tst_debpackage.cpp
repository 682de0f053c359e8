#include "SystemdContainer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

// The Debian package of a Release build, installed as a person installs it: apt-get on a fresh
// Debian 12 that has systemd and man-db and none of the programs' libraries, which the
// package's dependencies must bring. Then the installed service runs under the real systemd.
class TestDebPackage : public QObject
{
    Q_OBJECT

private:
    SystemdContainer m_box;
    QString m_package; // the file's name, in /opt/package inside

    SystemdContainer::Run inside(const QStringList &command, int timeoutMs = 60000)
    {
        return m_box.run(command, QString(), timeoutMs);
    }

    SystemdContainer::Run shell(const QString &script)
    {
        return inside({QStringLiteral("sh"), QStringLiteral("-c"), script});
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("booting a container needs root");
        // The folder of `cpack -G DEB` in a Release build, the release preset's by default.
        const QString folder = qEnvironmentVariableIsEmpty("OSTROVE_PACKAGE_DIR")
                                   ? QStringLiteral(OSTROVE_PACKAGE_DIR)
                                   : qEnvironmentVariable("OSTROVE_PACKAGE_DIR");
        const QStringList packages = QDir(folder).entryList(
            {QStringLiteral(OSTROVE_PACKAGE_PREFIX "*.deb")}, QDir::Files, QDir::Time);
        if (packages.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no %1*.deb in %2: build one with `cmake --preset "
                                            "release && cmake --build --preset release && cd "
                                            "build && cpack -G DEB` (scripts/test.sh does), or "
                                            "name its folder in OSTROVE_PACKAGE_DIR")
                                 .arg(QStringLiteral(OSTROVE_PACKAGE_PREFIX), folder)));
        m_package = packages.first();
        // The downloaded packages are kept between runs; apt still resolves every dependency
        // from the archive's index.
        const QString cache =
            qEnvironmentVariableIsEmpty("OSTROVE_CACHE")
                ? QStringLiteral("/var/cache/ostrove-tests/apt-archives")
                : qEnvironmentVariable("OSTROVE_CACHE") + QStringLiteral("/apt-archives");
        QVERIFY(QDir().mkpath(cache + QStringLiteral("/partial")));
        qputenv("OSTROVE_ROOT_VARIANT", "minimal");
        QString why;
        QVERIFY2(m_box.boot({folder + QStringLiteral(":/opt/package")},
                            {cache + QStringLiteral(":/var/cache/apt/archives")}, &why),
                 qPrintable(why));
    }

    void cleanupTestCase() { m_box.powerOff(); }

    void aptGetInstallsItWithEveryLibrary()
    {
        // A fresh machine has none of them: else the dependencies would go unchecked.
        QCOMPARE(shell(QStringLiteral("dpkg -s libqt6widgets6")).exitCode, 1);
        QElapsedTimer clock;
        clock.start();
        const SystemdContainer::Run update =
            inside({QStringLiteral("apt-get"), QStringLiteral("update")}, 300000);
        QVERIFY2(update.exitCode == 0, update.output.constData());
        // Without the recommended packages: what the package depends on must be enough.
        const SystemdContainer::Run installed =
            inside({QStringLiteral("env"), QStringLiteral("DEBIAN_FRONTEND=noninteractive"),
                    QStringLiteral("apt-get"), QStringLiteral("install"), QStringLiteral("-y"),
                    QStringLiteral("--no-install-recommends"),
                    QStringLiteral("/opt/package/") + m_package},
                   900000);
        qInfo("apt-get update and install took %.1f s", double(clock.elapsed()) / 1000.0);
        QVERIFY2(installed.exitCode == 0, installed.output.constData());

        // Every library of the programs, and of the X11 platform and TLS plugins Qt loads by
        // name, is there; libssl, which the TLS plugin opens at run time, too.
        const SystemdContainer::Run libraries = shell(QStringLiteral(
            "cd /usr/lib/ostrove && "
            "missing=$(ldd OstroveConf OstroveService OstroveTray ostrove-reg "
            "/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqxcb.so "
            "/usr/lib/x86_64-linux-gnu/qt6/plugins/tls/libqopensslbackend.so 2>&1 | grep "
            "'not found'); echo \"$missing\"; [ -z \"$missing\" ] && "
            "[ -e /usr/lib/x86_64-linux-gnu/libssl.so.3 ] && "
            "[ -e /etc/ssl/certs/ca-certificates.crt ]"));
        QVERIFY2(libraries.exitCode == 0, libraries.output.constData());
        const SystemdContainer::Run help =
            inside({QStringLiteral("ostrove-reg"), QStringLiteral("--help")});
        QVERIFY2(help.exitCode == 0 && help.output.startsWith("Usage: ostrove-reg"),
                 help.output.constData());
        QCOMPARE(
            inside({QStringLiteral("man"), QStringLiteral("-w"), QStringLiteral("ostrove-reg")})
                .output.trimmed(),
            QByteArray("/usr/share/man/man1/ostrove-reg.1.gz"));
        QVERIFY(shell(QStringLiteral("grep -qx 'Exec=\"/usr/lib/ostrove/OstroveTray\" --autostart' "
                                     "/etc/xdg/autostart/ostrove-tray.desktop"))
                    .exitCode
                == 0);
    }

    void theInstalledServiceRuns()
    {
        const QString program = QStringLiteral("/usr/lib/ostrove/OstroveService");
        const SystemdContainer::Run installed =
            inside({program, QStringLiteral("/install"), QStringLiteral("/silent")});
        QVERIFY2(installed.exitCode == 0, installed.output.constData());
        const SystemdContainer::Run started = inside(
            {QStringLiteral("systemctl"), QStringLiteral("start"), QStringLiteral("OstroveSvc")});
        const QByteArray state =
            inside({QStringLiteral("systemctl"), QStringLiteral("show"), QStringLiteral("-p"),
                    QStringLiteral("ActiveState,SubState,ExecStart"), QStringLiteral("OstroveSvc")})
                .output;
        QVERIFY2(started.exitCode == 0 && state.contains("ActiveState=active\n")
                     && state.contains("SubState=running\n")
                     && state.contains("path=" + program.toUtf8() + " ;"),
                 (started.output + state).constData());
        QCOMPARE(
            inside({program, QStringLiteral("/uninstall"), QStringLiteral("/silent")}).exitCode, 0);
    }

    // Root's service and a logged-in user's, then a purge: nothing runs, both are disabled,
    // root's files are gone; an away user's unit is skipped, not failed, when his manager
    // starts; the README's clean-up leaves a user nothing.
    void purgingLeavesNoServiceRunningOrFailing()
    {
        const SystemdContainer::Run run = shell(QString::fromUtf8(R"sh(
set -e
apt-get install -y --no-install-recommends dbus-user-session >/dev/null 2>&1 # users' buses
running() { cat /proc/[0-9]*/comm 2>/dev/null | grep -cx OstroveService || true; } # processes come and go
state() { test -d /var/lib/ostrove && echo state || echo no-state; }
as_user() { # waits for the user's bus, then runs the command as the user
    uid=$(id -u $1); for i in $(seq 100); do [ -S /run/user/$uid/bus ] && break; sleep 0.1; done
    runuser -u $1 -- env HOME=/home/$1 XDG_RUNTIME_DIR=/run/user/$uid sh -c "$2" 2>&1; }
for u in bob cy; do useradd -m $u; loginctl enable-linger $u; as_user $u 'OstroveService /install /silent'; done
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\r\n"ScanEvery"=dword:0000000f\r\n' >/tmp/s.reg
as_user bob 'ostrove-reg import /tmp/s.reg >/dev/null && systemctl --user start OstroveSvc'
OstroveService /install /silent && systemctl start OstroveSvc
loginctl disable-linger cy && systemctl stop user@$(id -u cy) # cy is away
echo "before: $(running) $(state)"
apt-get purge -y ostrove >/dev/null 2>&1
echo "after: $(running) $(state) $(systemctl is-active OstroveSvc) $(ls /etc/systemd/system | grep -c Ostrove)"
echo "bob: $(as_user bob 'systemctl --user is-active OstroveSvc; systemctl --user is-enabled OstroveSvc')"
loginctl enable-linger cy
echo "cy: $(as_user cy 'systemctl --user is-system-running --wait >/dev/null; systemctl --user show -p ActiveState,ConditionResult,NRestarts OstroveSvc')"
as_user bob 'systemctl --user disable --now OstroveSvc
    rm -f ~/.config/systemd/user/OstroveSvc.service && systemctl --user daemon-reload
    rm -r ~/.config/ostrove; systemctl --user show -P LoadState OstroveSvc; ls -A ~/.config'
)sh"));
        QCOMPARE(QString::fromUtf8(run.output),
                 QStringLiteral("before: 2 state\nafter: 0 no-state inactive 0\nbob: inactive\n"
                                "disabled\ncy: NRestarts=0\nActiveState=inactive\n"
                                "ConditionResult=no\nnot-found\nsystemd\n"));
    }
};

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_debpackage.moc"
