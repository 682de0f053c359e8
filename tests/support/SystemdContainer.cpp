#include "SystemdContainer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <unistd.h>

namespace {

const QStringList kHierarchies{QStringLiteral("/sys/fs/cgroup/systemd"),
                               QStringLiteral("/sys/fs/cgroup/unified")};

QByteArray runHere(const QString &program, const QStringList &arguments, int timeoutMs,
                   int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *exitCode = -1;
        return process.readAll() + "\n(timed out)";
    }
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAll();
}

} // namespace

SystemdContainer::SystemdContainer()
    : m_name(QStringLiteral("ostrove-test-%1").arg(::getpid()))
{}

SystemdContainer::~SystemdContainer()
{
    powerOff();
}

qint64 SystemdContainer::leaderPid() const
{
    // The container's PID 1 is the child of nspawn named systemd.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_nspawn.processId()));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &pid : children.readAll().split(' ')) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "systemd")
            return pid.trimmed().toLongLong();
    }
    return 0;
}

bool SystemdContainer::boot(const QStringList &readOnly, const QStringList &writable, QString *why)
{
    if (::geteuid() != 0) {
        *why = QStringLiteral("booting a container needs root");
        return false;
    }
    int status = 0;
    const QByteArray root =
        runHere(QStringLiteral(OSTROVE_SOURCE_DIR "/tests/container/make-root.sh"), {}, 600000,
                &status)
            .trimmed();
    if (status != 0) {
        *why = QStringLiteral("no root to boot: ") + QString::fromLocal8Bit(root);
        return false;
    }
    const QString rootFolder = QString::fromLocal8Bit(root.split('\n').last());
    QStringList arguments{QStringLiteral("-q"),
                          QStringLiteral("-b"),
                          QStringLiteral("-D"),
                          rootFolder,
                          QStringLiteral("-M"),
                          m_name,
                          QStringLiteral("--register=no"),
                          QStringLiteral("--keep-unit"),
                          QStringLiteral("--volatile=overlay"),
                          QStringLiteral("--console=pipe")};
    for (const QString &folder : readOnly)
        arguments << QStringLiteral("--bind-ro=") + folder;
    for (const QString &folder : writable)
        arguments << QStringLiteral("--bind=") + folder;
    QElapsedTimer clock;
    clock.start();
    m_nspawn.setProcessChannelMode(QProcess::MergedChannels);
    m_nspawn.setStandardOutputFile(QDir::temp().filePath(m_name + QStringLiteral(".log")));
    m_nspawn.start(QStringLiteral("systemd-nspawn"), arguments);
    if (!m_nspawn.waitForStarted(10000)) {
        *why = QStringLiteral("systemd-nspawn did not start (apt-get install systemd-container)");
        return false;
    }
    // A cgroup of its own, so that two boots never share the hierarchy's root.
    for (const QString &hierarchy : kHierarchies) {
        if (QDir().mkpath(hierarchy + u'/' + m_name)) {
            QFile procs(hierarchy + u'/' + m_name + QStringLiteral("/cgroup.procs"));
            if (procs.open(QIODevice::WriteOnly))
                procs.write(QByteArray::number(m_nspawn.processId()));
        }
    }
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() && m_nspawn.state() == QProcess::Running) {
        m_leader = leaderPid();
        if (m_leader
            && QFile::exists(QStringLiteral("/proc/%1/root/run/systemd/private").arg(m_leader)))
            break;
        m_leader = 0;
        QThread::msleep(20);
    }
    if (!m_leader) {
        QFile log(QDir::temp().filePath(m_name + QStringLiteral(".log")));
        log.open(QIODevice::ReadOnly);
        *why =
            QStringLiteral("the container did not boot: ") + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    const Run running = run({QStringLiteral("systemctl"), QStringLiteral("is-system-running"),
                             QStringLiteral("--wait")});
    m_bootSeconds = double(clock.elapsed()) / 1000.0;
    // "degraded" is a booted system too: a minimal root has units that fail without hardware.
    if (!running.output.startsWith("running") && !running.output.startsWith("degraded")) {
        *why =
            QStringLiteral("the system did not come up: ") + QString::fromLocal8Bit(running.output);
        return false;
    }
    return true;
}

SystemdContainer::Run SystemdContainer::run(const QStringList &command, const QString &user,
                                            int timeoutMs)
{
    QStringList arguments{QStringLiteral("-t"), QString::number(m_leader), QStringLiteral("-a")};
    if (!user.isEmpty())
        arguments << QStringLiteral("runuser") << QStringLiteral("-u") << user
                  << QStringLiteral("--");
    arguments << command;
    Run result;
    result.output = runHere(QStringLiteral("nsenter"), arguments, timeoutMs, &result.exitCode);
    return result;
}

bool SystemdContainer::writeFile(const QString &path, const QByteArray &content)
{
    QFile file(QStringLiteral("/proc/%1/root").arg(m_leader) + path);
    QDir().mkpath(QFileInfo(file).absolutePath());
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

void SystemdContainer::powerOff()
{
    if (m_nspawn.state() == QProcess::NotRunning)
        return;
    if (m_leader)
        run({QStringLiteral("systemctl"), QStringLiteral("poweroff")}, QString(), 10000);
    if (!m_nspawn.waitForFinished(20000)) {
        m_nspawn.kill();
        m_nspawn.waitForFinished(5000);
    }
    for (const QString &hierarchy : kHierarchies)
        QDir().rmdir(hierarchy + u'/' + m_name);
}
