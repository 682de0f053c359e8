#pragma once

#include "DovecotServer.h"
#include "mail/MailCheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>

// A settings store, a seen-state file and a log in a temporary folder, with writers for the
// settings as the configuration program stores them; and a check run against them.
class MailTestBench
{
public:
    MailTestBench();
    // In a folder of its own below `parent` (a service with a private /tmp cannot see /tmp).
    explicit MailTestBench(const QString &parent);

    QString storePath() const;
    QString logPath() const;
    QString folder() const { return m_dir.path(); }

    void addAccount(const QByteArray &address, const QByteArray &pop3, const QByteArray &login,
                    const QByteArray &password, bool ssl);
    void removeAccount(const QByteArray &address);
    void addPattern(const char *listKey, const QByteArray &pattern);
    void removePattern(const char *listKey, const QByteArray &pattern);
    void addAttachment(const QByteArray &pattern);
    void addAttachment(const QByteArray &pattern, qint32 from, qint32 to);

    mail::CheckReport check(bool dryRun = false, int replyTimeoutMs = 10000);
    // The room for whole messages the checks share, and the wait for it.
    qint64 wholeMessageBytes = 64 * 1024 * 1024;
    int wholeMessageWaitMs = 60000;
    QString log() const;
    // Log lines written since the last call.
    QStringList newLogLines();

    std::atomic<bool> cancel{false};

private:
    QTemporaryDir m_dir;
    qsizetype m_logSeen = 0;
};

// Every file of tests/mail/data by name.
QByteArray testMessage(const QString &name);
