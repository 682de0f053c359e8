#include "SystemdMock.h"
#include "service/ServiceInstaller.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runService(const QStringList &arguments, const QString &unitFolder,
               const QStringList &prefix = {},
               const QString &storePath = QStringLiteral("/srv/mail settings/r.db"))
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTROVE_SYSTEMD_UNIT_DIR"), unitFolder);
    environment.insert(QStringLiteral("OSTROVE_REGISTRY"), storePath);
    process.setProcessEnvironment(environment);
    const QStringList command = prefix + QStringList{QStringLiteral(OSTROVE_SERVICE)} + arguments;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

// /install and /uninstall against a systemd mock and a unit folder of the test's own: the unit's
// text, what is said, the order of the calls, and a machine without systemd. Uninstalling a
// running and a stopped service is proved against a real systemd in the container test.
class TestServiceInstall : public QObject
{
    Q_OBJECT

private:
    SystemdMock m_systemd;
    QTemporaryDir m_units;

    QString unitFile() const { return m_units.filePath(QStringLiteral("OstroveSvc.service")); }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("installing a service is for root");
        QString why;
        QVERIFY2(m_systemd.start(&why), qPrintable(why));
    }

    // Each case starts from no unit, whatever the one before it installed.
    void init()
    {
        QFile::remove(unitFile());
        QVERIFY(m_systemd.clearCalls());
    }

    void theUnitStartsThisProgramWithTheStoreItWasGiven()
    {
        const QString text = service::ServiceInstaller::unitText(
            QStringLiteral("/opt/my progs/OstroveService"), QStringLiteral("/srv/100%\"x\".db"));
        QVERIFY(text.contains(QStringLiteral("\nType=notify\n")));
        QVERIFY(text.contains(QStringLiteral("\nExecStart=\"/opt/my progs/OstroveService\"\n")));
        QVERIFY(text.contains(
            QStringLiteral("\nConditionFileIsExecutable=/opt/my progs/OstroveService\n")));
        QVERIFY(text.contains(
            QStringLiteral("\nEnvironment=\"OSTROVE_REGISTRY=/srv/100%%\\\"x\\\".db\"\n")));
        QVERIFY(text.contains(QStringLiteral("\nRestart=on-failure\n")));
        QVERIFY(text.contains(QStringLiteral("[Install]\nWantedBy=multi-user.target\n")));
        QVERIFY(!service::ServiceInstaller::unitText(QStringLiteral("/p"), QString())
                     .contains(QStringLiteral("Environment")));

        // A dollar is doubled where systemd expands variables (the command line), and only there.
        const QString dollars = service::ServiceInstaller::unitText(
            QStringLiteral("/opt/$HOME/OstroveService"), QStringLiteral("/srv/$USER\\x.db"));
        QVERIFY(dollars.contains(QStringLiteral("\nExecStart=\"/opt/$$HOME/OstroveService\"\n")));
        QVERIFY(dollars.contains(
            QStringLiteral("\nConditionFileIsExecutable=/opt/$HOME/OstroveService\n")));
        QVERIFY(dollars.contains(
            QStringLiteral("\nEnvironment=\"OSTROVE_REGISTRY=/srv/$USER\\\\x.db\"\n")));
    }

    // A line break in a path would end the line and start a setting of the path's choosing.
    void aPathWithAControlCharacterIsRefused_data()
    {
        QTest::addColumn<QString>("storePath");
        QTest::newRow("line break") << QStringLiteral("/srv/r.db\nExecStartPre=/bin/touch /x");
        QTest::newRow("escape") << QStringLiteral("/srv/\x1b[2Jr.db");
    }

    void aPathWithAControlCharacterIsRefused()
    {
        QFETCH(QString, storePath);
        const Run run = runService({QStringLiteral("/install"), QStringLiteral("/silent")},
                                   m_units.path(), {}, storePath);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("control character")), qPrintable(run.err));
        QVERIFY(!QFile::exists(unitFile()));
        QVERIFY(!m_systemd.calls().contains(QStringLiteral("EnableUnitFiles")));
    }

    void silentInstallWritesTheUnitReloadsAndEnables()
    {
        const Run run =
            runService({QStringLiteral("/install"), QStringLiteral("/silent")}, m_units.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.isEmpty() && run.err.isEmpty(), qPrintable(run.out + run.err));
        QFile file(unitFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 service::ServiceInstaller::unitText(QStringLiteral(OSTROVE_SERVICE),
                                                     QStringLiteral("/srv/mail settings/r.db"),
                                                     false, qEnvironmentVariable("SSL_CERT_FILE")));
        QCOMPARE(m_systemd.calls().filter(QRegularExpression(QStringLiteral(
                     "^(Reload|EnableUnitFiles|DisableUnitFiles|StartUnit|StopUnit)$"))),
                 (QStringList{QStringLiteral("Reload"), QStringLiteral("EnableUnitFiles")}));
    }

    void installSaysWhatItDidWithoutSilent()
    {
        const Run run = runService({QStringLiteral("/install")}, m_units.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(
            run.out.split(u'\n', Qt::SkipEmptyParts),
            (QStringList{QStringLiteral("Wrote ") + unitFile(), QStringLiteral("Reloaded systemd"),
                         QStringLiteral("Enabled OstroveSvc.service; start it with: "
                                        "systemctl start OstroveSvc")}));
    }

    // Anyone else acts on their own manager (the user bus), never on the machine's: here
    // there is none to answer.
    void othersThanRootNeverTouchTheMachinesUnits()
    {
        for (const char *action : {"/install", "/uninstall"}) {
            const Run run =
                runService({QString::fromLatin1(action), QStringLiteral("/silent")}, m_units.path(),
                           {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")});
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.err, QStringLiteral("OstroveService: Your own systemd manager does not "
                                             "answer (no user session bus): the service cannot "
                                             "be used; the tray program can.\n"));
        }
        QVERIFY(!QFile::exists(unitFile()));
        QVERIFY(!m_systemd.calls().contains(QStringLiteral("EnableUnitFiles")));
    }

    void withoutSystemdItSaysSo()
    {
        const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        const Run run =
            runService({QStringLiteral("/install"), QStringLiteral("/silent")}, m_units.path());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("OstroveService: systemd does not answer on the system "
                                         "bus: the service cannot be used on this machine.\n"));
        QVERIFY(!QFile::exists(unitFile()));
    }
};

QTEST_GUILESS_MAIN(TestServiceInstall)
#include "tst_serviceinstall.moc"
