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

    // Services set up from the page, then the package purged: root's and a logged-in user's
    // stop and are disabled; the unit of a user who was away is skipped at their next login,
    // not failed and restarted for ever.
    void purgingLeavesNoServiceRunningOrFailing()
    {
        // A user's own manager is reached through their session bus.
        const SystemdContainer::Run bus =
            inside({QStringLiteral("env"), QStringLiteral("DEBIAN_FRONTEND=noninteractive"),
                    QStringLiteral("apt-get"), QStringLiteral("install"), QStringLiteral("-y"),
                    QStringLiteral("--no-install-recommends"), QStringLiteral("dbus-user-session")},
                   300000);
        QVERIFY2(bus.exitCode == 0, bus.output.constData());
        const SystemdContainer::Run run = shell(QString::fromUtf8(R"sh(
set -e
running() { cat /proc/[0-9]*/comm 2>/dev/null | grep -cx OstroveService || true; }
state() { test -d /var/lib/ostrove && echo state || echo no-state; }
manager() { # waits for the user's manager; prints systemctl --user for them
    uid=$(id -u "$1")
    for i in $(seq 100); do [ -S /run/user/$uid/bus ] && break; sleep 0.1; done
    echo "runuser -u $1 -- env XDG_RUNTIME_DIR=/run/user/$uid systemctl --user"
}
for user in bob cy; do
    useradd -m $user && loginctl enable-linger $user && manager $user >/dev/null
    runuser -u $user -- env XDG_RUNTIME_DIR=/run/user/$(id -u $user) OstroveService /install /silent
done
# Bob's own settings, where his programs keep them: the service logs beside them.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\r\n"ScanEvery"=dword:0000000f\r\n' |
    runuser -u bob -- env HOME=/home/bob ostrove-reg import - >/dev/null
$(manager bob) start OstroveSvc
OstroveService /install /silent && systemctl start OstroveSvc
# cy is away: no session, no lingering, no manager.
loginctl disable-linger cy && systemctl stop user@$(id -u cy).service
echo "running before: $(running) $(state)"
apt-get purge -y ostrove >/dev/null 2>&1
echo "running after: $(running)"
echo "root: $(systemctl is-active OstroveSvc || true) $(test -e /etc/systemd/system/OstroveSvc.service && echo unit || echo no-unit) $(state)"
echo "bob: $($(manager bob) is-active OstroveSvc || true) $($(manager bob) is-enabled OstroveSvc || true)"
loginctl enable-linger cy
sleep 2
$(manager cy) show -p ActiveState,Result,ConditionResult,NRestarts OstroveSvc | sort | tr '\n' ' '
echo
# What the README tells a user to remove after a purge, as they would type it.
cd /home/bob
runuser -u bob -- env XDG_RUNTIME_DIR=/run/user/$(id -u bob) HOME=/home/bob sh -ec '
    systemctl --user disable --now OstroveSvc
    rm -f ~/.config/systemd/user/OstroveSvc.service && systemctl --user daemon-reload
    rm -r ~/.config/ostrove' 2>&1
echo "bob afterwards: $($(manager bob) show -P LoadState OstroveSvc) $(ls -A /home/bob/.config)"
)sh"));
        QCOMPARE(QString::fromUtf8(run.output),
                 QStringLiteral(
                     "running before: 2 state\nrunning after: 0\nroot: inactive no-unit no-state\n"
                     "bob: inactive disabled\nActiveState=inactive ConditionResult=no "
                     "NRestarts=0 Result=success \nbob afterwards: not-found systemd\n"));
        QCOMPARE(run.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_debpackage.moc"
