#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A real systemd as PID 1 of a systemd-nspawn container, for one test program: the Debian 12
// root of tests/container/make-root.sh, read-only beneath a tmpfs (--volatile=overlay), so
// every boot starts from the same clean machine. It shares the host's network, so a Dovecot
// on the host's loopback is reachable from inside; the folders given are mounted at the same
// paths inside, so the programs under test and their files keep their paths.
class SystemdContainer
{
public:
    SystemdContainer();
    ~SystemdContainer();
    SystemdContainer(const SystemdContainer &) = delete;
    SystemdContainer &operator=(const SystemdContainer &) = delete;

    // Boots and waits until the system manager is up; false with the reason otherwise (such
    // as no root: these machines may lack debootstrap or the right to boot a container).
    bool boot(const QStringList &readOnly, const QStringList &writable, QString *why);
    // Runs a command inside as root (or as `user`); its standard output and error together.
    struct Run
    {
        int exitCode = -1;
        QByteArray output;
    };
    Run run(const QStringList &command, const QString &user = QString(), int timeoutMs = 60000);
    // Writes a file inside (into the tmpfs above the root).
    bool writeFile(const QString &path, const QByteArray &content);
    void powerOff();
    double bootSeconds() const { return m_bootSeconds; }

private:
    qint64 leaderPid() const;

    QString m_name;
    QProcess m_nspawn;
    qint64 m_leader = 0;
    double m_bootSeconds = 0;
};
