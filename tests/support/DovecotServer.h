#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// A private Dovecot POP3 server on 127.0.0.1 for one test: its own configuration, base folder,
// certificate, users and maildirs in a temporary folder. A test creates one on the stack, adds
// users, delivers messages, starts it and afterwards looks at what is left in the maildirs.
//
// Run as root, mail is served as "nobody" and the login processes as Dovecot's own users;
// run as anyone else, everything runs as that user. Each maildir gets a UIDVALIDITY of its
// own, so UIDLs never repeat between servers or users of one test run. With the environment
// variable OSTROVE_KEEP_DOVECOT_DIR set, the folder stays for a look after a failure.
class DovecotServer
{
public:
    DovecotServer();
    ~DovecotServer();

    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // Returns once both listeners have sent their "+OK" greeting.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const;
    qint64 processId() const;

    quint16 plainPort() const { return m_plainPort; }
    quint16 tlsPort() const { return m_tlsPort; }
    // The CA that signed the server's certificate (for "localhost" and 127.0.0.1).
    QString caCertificatePath() const;
    QString baseDir() const;
    // Dovecot titles its processes "dovecot-<instance name>/<service>".
    QString instanceName() const;

    // Adds or replaces a user. After start() this takes up to a second, so that the server
    // has surely read the new password file when it returns.
    void addUser(const QString &user, const QString &password);

    // Stores the bytes exactly as given in the user's new/ folder; returns the file name.
    // The server sends every line with CRLF, so give CRLF to compare RETR with the bytes.
    QString deliver(const QString &user, const QByteArray &message);
    // Every message left in the user's maildir (new and cur), in delivery order.
    QList<QByteArray> messages(const QString &user) const;
    QString maildirPath(const QString &user) const;

    QString logText() const;
    int countLogLines(const QString &substring) const;
    // True as soon as some line of the log contains the substring.
    bool waitForLogLine(const QString &substring, int timeoutMs = 5000);

    // What clients sent in the user's sessions after login, session after session, without
    // the server's time stamps. Complete once the sessions have ended.
    QByteArray clientCommands(const QString &user) const;

    int loginCount(const QString &user) const;
    int endedSessionCount(const QString &user) const;
    // Waits until every session of the user that logged in has ended on the server (and at
    // least `atLeast` of them): by then deletions after QUIT are committed and the rawlog is
    // complete.
    bool waitForSessionsEnded(const QString &user, int atLeast = 1, int timeoutMs = 5000);

private:
    bool prepare(QString *error);
    bool makeCertificates(QString *error);
    bool writeConfig(QString *error);
    bool launch(QString *error);
    bool waitForGreetings(QString *error);
    void writeUsers();
    void ensureUserFolders(const QString &user);
    void giveToMailUser(const QString &path) const;
    QList<int> instanceProcesses(const QByteArray &except = QByteArray()) const;
    void killLeftovers();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QHash<QString, QString> m_passwords;
    QStringList m_userOrder;
    QHash<QString, QStringList> m_delivered;
    quint16 m_plainPort = 0;
    quint16 m_tlsPort = 0;
    qint64 m_passwdStamp = 0;
    int m_serial = 0;
    uint m_mailUid = 0;
    uint m_mailGid = 0;
    bool m_asRoot = false;
    QString m_internalUser;
    QString m_internalGroup;
    QString m_loginUser;
};
