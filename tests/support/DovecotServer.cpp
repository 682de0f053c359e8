#include "DovecotServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kPollMs = 10;

std::atomic<int> s_instances{0};
std::atomic<quint32> s_lastUidValidity{0};

// Dovecot takes the time as UIDVALIDITY, so two maildirs made in the same second would hand out
// the same UIDLs. Each maildir gets its own value instead, which a seen-state test relies on.
quint32 nextUidValidity()
{
    const auto now = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
    quint32 last = s_lastUidValidity.load();
    quint32 next = 0;
    do {
        next = std::max(now, last + 1);
    } while (!s_lastUidValidity.compare_exchange_weak(last, next));
    return next;
}

void pause(int ms)
{
    if (QCoreApplication::instance() && QThread::currentThread() == qApp->thread())
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
    QThread::msleep(static_cast<unsigned long>(ms));
}

// The mail and login processes of a root-started server run under other users: they must be
// able to pass through every folder above their own.
bool othersCanEnter(const QString &path)
{
    QDir dir(QFileInfo(path).absoluteFilePath());
    while (true) {
        struct stat st = {};
        if (::stat(QFile::encodeName(dir.absolutePath()).constData(), &st) != 0)
            return false;
        if (!(st.st_mode & S_IXOTH))
            return false;
        if (dir.isRoot())
            return true;
        dir.cdUp();
    }
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size() && file.flush();
}

bool runOpenssl(const QStringList &arguments, QString *error)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(kStartTimeoutMs) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("openssl %1 failed: %2 %3")
                         .arg(arguments.value(0), openssl.errorString(),
                              QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

quint16 freePort(QTcpServer &holder)
{
    if (!holder.listen(QHostAddress::LocalHost, 0))
        return 0;
    return holder.serverPort();
}

// A greeting proves the login process answers, which an open port alone does not.
bool greets(quint16 port, bool tls, const QString &caPath, QString *why)
{
    QSslSocket socket;
    if (tls) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslCertificate::fromPath(caPath));
        socket.setSslConfiguration(config);
        socket.setPeerVerifyName(QStringLiteral("localhost"));
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForEncrypted(2000)) {
            *why = socket.errorString();
            for (const QSslError &e : socket.sslHandshakeErrors())
                *why += QStringLiteral("; ") + e.errorString();
            return false;
        }
    } else {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(2000)) {
            *why = socket.errorString();
            return false;
        }
    }
    QByteArray line;
    QDeadlineTimer deadline(2000);
    while (!line.contains('\n') && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        line += socket.readAll();
    }
    if (!line.startsWith("+OK")) {
        *why = QStringLiteral("no greeting: ") + QString::fromLatin1(line);
        return false;
    }
    socket.write("QUIT\r\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromHost();
    return true;
}

} // namespace

DovecotServer::DovecotServer()
    : m_serial(++s_instances)
{
    QString parent = QDir::tempPath();
    m_asRoot = ::geteuid() == 0;
    if (m_asRoot && !othersCanEnter(parent))
        parent = QStringLiteral("/tmp");
    m_dir = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/ostrove-dovecot-XXXXXX"));
    if (m_dir->isValid())
        ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    m_dir->setAutoRemove(qEnvironmentVariableIsEmpty("OSTROVE_KEEP_DOVECOT_DIR"));

    if (m_asRoot) {
        // Dovecot refuses to serve mail as root.
        const passwd *nobody = ::getpwnam("nobody");
        m_mailUid = nobody ? nobody->pw_uid : 65534;
        m_mailGid = nobody ? nobody->pw_gid : 65534;
        m_internalUser = QStringLiteral("dovecot");
        m_internalGroup = QStringLiteral("dovecot");
        m_loginUser = QStringLiteral("dovenull");
    } else {
        // Without root nothing can change user, so every process runs as us.
        m_mailUid = ::getuid();
        m_mailGid = ::getgid();
        const passwd *me = ::getpwuid(m_mailUid);
        const group *myGroup = ::getgrgid(m_mailGid);
        m_internalUser = me ? QString::fromLocal8Bit(me->pw_name) : QString::number(m_mailUid);
        m_internalGroup =
            myGroup ? QString::fromLocal8Bit(myGroup->gr_name) : QString::number(m_mailGid);
        m_loginUser = m_internalUser;
    }
}

DovecotServer::~DovecotServer()
{
    stop();
}

QString DovecotServer::baseDir() const
{
    return m_dir->path();
}

QString DovecotServer::caCertificatePath() const
{
    return baseDir() + QStringLiteral("/ca.pem");
}

QString DovecotServer::maildirPath(const QString &user) const
{
    return baseDir() + QStringLiteral("/home/") + user + QStringLiteral("/Maildir");
}

QString DovecotServer::instanceName() const
{
    return QStringLiteral("ostrove%1x%2").arg(QCoreApplication::applicationPid()).arg(m_serial);
}

bool DovecotServer::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 DovecotServer::processId() const
{
    return m_process ? m_process->processId() : 0;
}

bool DovecotServer::start(QString *error)
{
    if (isRunning())
        return true;
    if (!prepare(error) || !makeCertificates(error))
        return false;
    // A free port can be taken by someone else before Dovecot binds it; then try new ones.
    QString reason;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!writeConfig(&reason))
            break;
        if (launch(&reason) && waitForGreetings(&reason))
            return true;
        stop();
        if (!reason.contains(QStringLiteral("in use")))
            break;
    }
    if (error)
        *error = reason;
    return false;
}

bool DovecotServer::prepare(QString *error)
{
    if (!m_dir->isValid()) {
        if (error)
            *error = QStringLiteral("cannot make a temporary folder: ") + m_dir->errorString();
        return false;
    }
    if (m_asRoot && (!::getpwnam("dovecot") || !::getpwnam("dovenull"))) {
        if (error)
            *error = QStringLiteral("the users dovecot and dovenull are missing");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("dovecot"),
                                       {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                        QStringLiteral("/usr/local/sbin")})
            .isEmpty()) {
        if (error)
            *error = QStringLiteral("dovecot is not installed");
        return false;
    }
    QDir base(baseDir());
    base.mkpath(QStringLiteral("run"));
    base.mkpath(QStringLiteral("state"));
    base.mkpath(QStringLiteral("home"));
    base.mkpath(QStringLiteral("rawlog"));
    writeUsers();
    return true;
}

bool DovecotServer::makeCertificates(QString *error)
{
    if (QFile::exists(baseDir() + QStringLiteral("/server.pem")))
        return true;
    const QString dir = baseDir() + QLatin1Char('/');
    // EC keys: RSA generation would cost most of the start-up time.
    auto request = [&dir](const QString &name, const QString &subject) {
        return QStringList{QStringLiteral("req"),
                           QStringLiteral("-x509"),
                           QStringLiteral("-newkey"),
                           QStringLiteral("ec"),
                           QStringLiteral("-pkeyopt"),
                           QStringLiteral("ec_paramgen_curve:prime256v1"),
                           QStringLiteral("-nodes"),
                           QStringLiteral("-days"),
                           QStringLiteral("2"),
                           QStringLiteral("-keyout"),
                           dir + name + QStringLiteral(".key"),
                           QStringLiteral("-out"),
                           dir + name + QStringLiteral(".pem"),
                           QStringLiteral("-subj"),
                           subject};
    };
    const QStringList ca =
        request(QStringLiteral("ca"), QStringLiteral("/CN=Ostrove Test CA"))
        << QStringLiteral("-addext") << QStringLiteral("basicConstraints=critical,CA:TRUE")
        << QStringLiteral("-addext") << QStringLiteral("keyUsage=critical,keyCertSign,cRLSign");
    const QStringList server =
        request(QStringLiteral("server"), QStringLiteral("/CN=localhost"))
        << QStringLiteral("-CA") << dir + QStringLiteral("ca.pem") << QStringLiteral("-CAkey")
        << dir + QStringLiteral("ca.key") << QStringLiteral("-addext")
        << QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1") << QStringLiteral("-addext")
        << QStringLiteral("basicConstraints=CA:FALSE") << QStringLiteral("-addext")
        << QStringLiteral("extendedKeyUsage=serverAuth");
    return runOpenssl(ca, error) && runOpenssl(server, error);
}

bool DovecotServer::writeConfig(QString *error)
{
    QTcpServer plainHolder;
    QTcpServer tlsHolder;
    m_plainPort = freePort(plainHolder);
    m_tlsPort = freePort(tlsHolder);
    if (m_plainPort == 0 || m_tlsPort == 0) {
        if (error)
            *error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    const QString base = baseDir();
    QString config = QStringLiteral(R"(protocols = pop3
listen = 127.0.0.1
base_dir = @BASE@/run
state_dir = @BASE@/state
instance_name = @INSTANCE@
log_path = @BASE@/dovecot.log
info_log_path = @BASE@/dovecot.log
default_internal_user = @INTERNAL_USER@
default_internal_group = @INTERNAL_GROUP@
default_login_user = @LOGIN_USER@
mail_uid = @MAIL_UID@
mail_gid = @MAIL_GID@
first_valid_uid = 1
first_valid_gid = 1
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
rawlog_dir = @BASE@/rawlog/%u
ssl = yes
ssl_cert = <@BASE@/server.pem
ssl_key = <@BASE@/server.key
auth_mechanisms = plain login
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = @BASE@/users
}
userdb {
  driver = static
  args = home=@BASE@/home/%u
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = @PLAIN_PORT@
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = @TLS_PORT@
    ssl = yes
  }
}
)");
    // Placeholders rather than arg(): the configuration itself is full of '%'.
    const QList<QPair<QString, QString>> values = {
        {QStringLiteral("@BASE@"), base},
        {QStringLiteral("@INSTANCE@"), instanceName()},
        {QStringLiteral("@INTERNAL_USER@"), m_internalUser},
        {QStringLiteral("@INTERNAL_GROUP@"), m_internalGroup},
        {QStringLiteral("@LOGIN_USER@"), m_loginUser},
        {QStringLiteral("@MAIL_UID@"), QString::number(m_mailUid)},
        {QStringLiteral("@MAIL_GID@"), QString::number(m_mailGid)},
        {QStringLiteral("@PLAIN_PORT@"), QString::number(m_plainPort)},
        {QStringLiteral("@TLS_PORT@"), QString::number(m_tlsPort)},
    };
    for (const auto &[name, value] : values)
        config.replace(name, value);
    // Without its socket the auth process cannot reach the failure counter, so repeated wrong
    // passwords are not slowed down by seconds (it logs one error about the socket).
    config += QStringLiteral(R"(service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)");
    if (!writeFile(base + QStringLiteral("/dovecot.conf"), config.toUtf8())) {
        if (error)
            *error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

bool DovecotServer::launch(QString *error)
{
    const QString base = baseDir();
    QFile::remove(base + QStringLiteral("/master.out"));
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(base + QStringLiteral("/master.out"));
    m_process->setStandardInputFile(QProcess::nullDevice());
    QStringList path = QProcessEnvironment::systemEnvironment()
                           .value(QStringLiteral("PATH"))
                           .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    path << QStringLiteral("/usr/sbin") << QStringLiteral("/usr/local/sbin");
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dovecot"), path);
    // If the test dies, the server goes with it instead of holding ports and folders.
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
    });
    m_process->start(program, {QStringLiteral("-F"), QStringLiteral("-c"),
                               base + QStringLiteral("/dovecot.conf")});
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        if (error)
            *error = QStringLiteral("cannot run dovecot: ") + m_process->errorString();
        return false;
    }
    return true;
}

bool DovecotServer::waitForGreetings(QString *error)
{
    const QString master = baseDir() + QStringLiteral("/master.out");
    QDeadlineTimer deadline(kStartTimeoutMs);
    bool plainUp = false;
    bool tlsUp = false;
    QString why;
    while (!deadline.hasExpired()) {
        if (m_process->waitForFinished(0) || m_process->state() == QProcess::NotRunning) {
            QFile out(master);
            out.open(QIODevice::ReadOnly);
            if (error)
                *error = QStringLiteral("dovecot ended: ") + QString::fromLocal8Bit(out.readAll())
                         + logText();
            return false;
        }
        plainUp = plainUp || greets(m_plainPort, false, caCertificatePath(), &why);
        tlsUp = tlsUp || (plainUp && greets(m_tlsPort, true, caCertificatePath(), &why));
        if (plainUp && tlsUp)
            return true;
        pause(kPollMs);
    }
    if (error)
        *error = QStringLiteral("no greeting from dovecot: ") + why;
    return false;
}

void DovecotServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        const auto pid = static_cast<pid_t>(m_process->processId());
        ::kill(pid, SIGTERM);
        QDeadlineTimer deadline(kStopTimeoutMs);
        while (!m_process->waitForFinished(kPollMs)) {
            // Once its services are gone the master only sleeps a fixed second before it
            // exits; the log process drains and ends when the master has gone.
            if (instanceProcesses(QByteArrayLiteral("log")).isEmpty() || deadline.hasExpired()) {
                ::kill(pid, SIGKILL);
                m_process->waitForFinished(kStopTimeoutMs);
                break;
            }
        }
    }
    m_process.reset();
    killLeftovers();
}

// Dovecot titles its service processes "dovecot-<instance>/<service>".
QList<int> DovecotServer::instanceProcesses(const QByteArray &except) const
{
    const QByteArray prefix = "dovecot-" + instanceName().toLatin1() + '/';
    QList<int> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray title = cmdline.read(256);
        if (title.startsWith(prefix)
            && (except.isEmpty() || qstrcmp(title.constData() + prefix.size(), except) != 0))
            found << pid;
    }
    return found;
}

// The master takes its services down with it; this catches any that outlive it.
void DovecotServer::killLeftovers()
{
    QDeadlineTimer deadline(kStopTimeoutMs);
    while (true) {
        const QList<int> left = instanceProcesses();
        if (left.isEmpty())
            return;
        if (deadline.hasExpired()) {
            for (int pid : left)
                ::kill(pid, SIGKILL);
            return;
        }
        pause(kPollMs);
    }
}

void DovecotServer::giveToMailUser(const QString &path) const
{
    if (m_asRoot && ::chown(QFile::encodeName(path).constData(), m_mailUid, m_mailGid) != 0)
        qWarning("DovecotServer: cannot chown %s", qPrintable(path));
}

void DovecotServer::ensureUserFolders(const QString &user)
{
    const QString home = baseDir() + QStringLiteral("/home/") + user;
    const QString maildir = maildirPath(user);
    const QString rawlog = baseDir() + QStringLiteral("/rawlog/") + user;
    if (QFileInfo::exists(maildir + QStringLiteral("/new")))
        return;
    QDir().mkpath(maildir + QStringLiteral("/new"));
    QDir().mkpath(maildir + QStringLiteral("/cur"));
    QDir().mkpath(maildir + QStringLiteral("/tmp"));
    QDir().mkpath(rawlog);
    writeFile(maildir + QStringLiteral("/dovecot-uidlist"),
              QByteArray("3 V") + QByteArray::number(nextUidValidity()) + " N1\n");
    for (const QString &path :
         {home, maildir, maildir + QStringLiteral("/new"), maildir + QStringLiteral("/cur"),
          maildir + QStringLiteral("/tmp"), maildir + QStringLiteral("/dovecot-uidlist"), rawlog})
        giveToMailUser(path);
}

void DovecotServer::addUser(const QString &user, const QString &password)
{
    if (!m_passwords.contains(user))
        m_userOrder << user;
    m_passwords.insert(user, password);
    ensureUserFolders(user);
    writeUsers();
    if (!isRunning())
        return;
    // Dovecot looks at the password file at most once a second; once a new second has begun,
    // the next login surely sees the file written above.
    const qint64 written = QDateTime::currentSecsSinceEpoch();
    while (QDateTime::currentSecsSinceEpoch() == written)
        pause(kPollMs);
}

void DovecotServer::writeUsers()
{
    QByteArray lines;
    for (const QString &user : std::as_const(m_userOrder)) {
        // Base64 keeps a password with ':' or any other byte from breaking the line.
        lines +=
            user.toUtf8() + ":{PLAIN.BASE64}" + m_passwords.value(user).toUtf8().toBase64() + '\n';
    }
    const QString path = baseDir() + QStringLiteral("/users");
    const QString fresh = path + QStringLiteral(".new");
    writeFile(fresh, lines);
    QFile::setPermissions(fresh, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                     | QFile::ReadOther);
    // Dovecot notices a change by the file's time, which only has whole seconds: make each
    // version's time differ even when two are written within one second.
    m_passwdStamp = std::max(QDateTime::currentSecsSinceEpoch(), m_passwdStamp + 1);
    QFile file(fresh);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::fromSecsSinceEpoch(m_passwdStamp),
                         QFileDevice::FileModificationTime);
    file.close();
    ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData());
}

QString DovecotServer::deliver(const QString &user, const QByteArray &message)
{
    ensureUserFolders(user);
    static std::atomic<int> counter{0};
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    // The usual maildir name; the size in it spares the server from reading each file.
    QString name = QStringLiteral("%1.M%2P%3Q%4.ostrove,S=%5")
                       .arg(msecs / 1000)
                       .arg((msecs % 1000) * 1000)
                       .arg(QCoreApplication::applicationPid())
                       .arg(++counter)
                       .arg(message.size());
    const QString maildir = maildirPath(user);
    const QString staged = maildir + QStringLiteral("/tmp/") + name;
    if (!writeFile(staged, message)) {
        qWarning("DovecotServer: cannot write %s", qPrintable(staged));
        return {};
    }
    QFile::setPermissions(staged, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                      | QFile::ReadOther);
    giveToMailUser(staged);
    if (!QFile::rename(staged, maildir + QStringLiteral("/new/") + name)) {
        qWarning("DovecotServer: cannot move %s into new/", qPrintable(staged));
        return {};
    }
    m_delivered[user] << name;
    return name;
}

QList<QByteArray> DovecotServer::messages(const QString &user) const
{
    // Dovecot moves a file from new/ to cur/ and renames it for its flags while a session runs:
    // a file listed may be gone under that name when it is opened. Read again until every file
    // listed could be read.
    for (int attempt = 0;; ++attempt) {
        QHash<QString, QString> byBase;
        for (const QString &sub : {QStringLiteral("/new"), QStringLiteral("/cur")}) {
            const QDir dir(maildirPath(user) + sub);
            const QStringList names = dir.entryList(QDir::Files, QDir::Name);
            for (const QString &name : names) {
                const QString base = name.section(QLatin1Char(':'), 0, 0);
                byBase.insert(base, dir.filePath(name));
            }
        }
        QList<QByteArray> result;
        bool whole = true;
        auto read = [&result, &whole](const QString &path) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                result << file.readAll();
            else
                whole = false;
        };
        for (const QString &name : m_delivered.value(user)) {
            if (byBase.contains(name))
                read(byBase.take(name));
        }
        QStringList rest = byBase.keys();
        rest.sort();
        for (const QString &base : std::as_const(rest))
            read(byBase.value(base));
        if (whole || attempt >= 50)
            return result;
        QThread::msleep(10);
    }
}

QString DovecotServer::logText() const
{
    QFile log(baseDir() + QStringLiteral("/dovecot.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll());
}

int DovecotServer::countLogLines(const QString &substring) const
{
    const QStringList lines = logText().split(QLatin1Char('\n'));
    return static_cast<int>(std::count_if(lines.cbegin(), lines.cend(), [&](const QString &line) {
        return line.contains(substring);
    }));
}

bool DovecotServer::waitForLogLine(const QString &substring, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (countLogLines(substring) > 0)
            return true;
        if (deadline.hasExpired())
            return false;
        pause(kPollMs);
    }
}

int DovecotServer::loginCount(const QString &user) const
{
    return countLogLines(QStringLiteral("pop3-login: Info: Login: user=<%1>,").arg(user));
}

int DovecotServer::endedSessionCount(const QString &user) const
{
    // Lines of the user's own mail process; the login process's lines start "pop3-login:".
    const QRegularExpression ended(QStringLiteral(" pop3\\(%1\\)<[^>]*><[^>]*>: Info: Disconnected")
                                       .arg(QRegularExpression::escape(user)));
    const QStringList lines = logText().split(QLatin1Char('\n'));
    return static_cast<int>(std::count_if(lines.cbegin(), lines.cend(), [&](const QString &line) {
        return ended.match(line).hasMatch();
    }));
}

bool DovecotServer::waitForSessionsEnded(const QString &user, int atLeast, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const int ended = endedSessionCount(user);
        if (ended >= atLeast && ended >= loginCount(user))
            return true;
        if (deadline.hasExpired())
            return false;
        pause(kPollMs);
    }
}

QByteArray DovecotServer::clientCommands(const QString &user) const
{
    // Files are named by start time, pid and a counter; the first time stamp inside orders
    // sessions that began in the same second.
    const QDir dir(baseDir() + QStringLiteral("/rawlog/") + user);
    const QStringList names = dir.entryList({QStringLiteral("*.in")}, QDir::Files);
    QList<QPair<double, QByteArray>> sessions;
    // Each line starts with the server's time stamp, "<seconds>.<microseconds> ".
    static const QRegularExpression stamp(QStringLiteral("^\\d+\\.\\d+ $"));
    for (const QString &name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray raw = file.readAll();
        const double started = raw.left(raw.indexOf(' ')).toDouble();
        QByteArray text;
        qsizetype from = 0;
        while (from < raw.size()) {
            qsizetype end = raw.indexOf('\n', from);
            end = end < 0 ? raw.size() : end + 1;
            QByteArray line = raw.mid(from, end - from);
            const qsizetype space = line.indexOf(' ');
            if (space > 0 && stamp.match(QString::fromLatin1(line.left(space + 1))).hasMatch())
                line.remove(0, space + 1);
            text += line;
            from = end;
        }
        sessions.append({started, text});
    }
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QByteArray all;
    for (const auto &session : std::as_const(sessions))
        all += session.second;
    return all;
}
