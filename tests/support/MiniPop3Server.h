#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QStringList>

#include <memory>

class QThread;

// A bare RFC 1939 server for what Dovecot always offers and a client must also do without:
// no CAPA (so no pipelining), no UIDL, no TOP; and for the faults of careless servers that
// Dovecot never makes. One mailbox, one session at a time, in a thread of its own; deletions
// take effect on QUIT only, as on any POP3 server.
class MiniPop3Server
{
public:
    struct Options
    {
        bool capa = false;
        bool uidl = false;
        bool top = false;
        bool pipelining = false; // offered in CAPA
        // Faults:
        bool stuffAfterCrlfOnly = false; // a "." after a bare LF goes out as it is
        bool extraReplyAfterTop = false; // one unsolicited "+OK" after the first TOP
        bool silentQuit = false;         // commits on QUIT but never answers
        int byteDelayMs = 0;             // sends every byte this long after the last
        int greetingDelayMs = 0;         // greets this long after the connection
        qint64 listedSize = -1;          // LIST names this size for the first message
        bool refuseFirst = false;        // RETR and TOP of the first message get -ERR
        bool refuseList = false;         // every LIST gets -ERR
        bool refuseDele = false;         // every DELE gets -ERR
        bool refuseQuit = false;         // QUIT gets -ERR and removes nothing
        bool echoPassword = false;       // and the -ERR repeats the password
        bool keepOnQuit = false;         // QUIT answers +OK and removes nothing
        bool otherNameAlone = false;     // "UIDL n", "LIST n" name another id, size
        bool swapFirstFetches = false;   // the first two RETR/TOP answered in reverse order
        bool repeatThenDrop = false;     // the first RETR/TOP answered twice, the last not
        bool noDotStuffing = false;      // message text sent as it is
        bool listLastTwice = false;      // LIST and UIDL name the last message twice
        bool bareLfFirst = false;        // the first message's lines end in LF alone
    };

    MiniPop3Server(QList<QByteArray> messages, Options options);
    ~MiniPop3Server();

    bool start();
    quint16 port() const { return m_port; }
    void setOptions(const Options &options); // from the next session on
    QList<QByteArray> messages() const;
    QStringList commands() const; // every command received, the password blanked

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    quint16 m_port = 0;
};
