#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QThread;

// A TCP relay on 127.0.0.1 in front of a POP3 server's plain port, for faults a real server
// does not make: a connection cut in the middle of a command, a slow or hung server. It runs
// in a thread of its own, so a client that blocks the test's thread still gets served.
//
// The behaviour is read when a connection is accepted; change it between sessions. Faults
// are found by reading the client's command lines, so they cannot fire once a session has
// switched to TLS; setHideStls() keeps sessions in plain text.
class Pop3Proxy
{
public:
    explicit Pop3Proxy(quint16 serverPort);
    ~Pop3Proxy();

    Pop3Proxy(const Pop3Proxy &) = delete;
    Pop3Proxy &operator=(const Pop3Proxy &) = delete;

    bool start(QString *error = nullptr);
    quint16 port() const { return m_port; }

    // Relays everything as it comes (the state after construction), delay included.
    void passThrough();
    // When the client sends a command beginning with `word` (any case): with replyBytes < 0
    // the command never reaches the server and both connections are cut at once; otherwise
    // the command is passed on and the cut comes after that many bytes of the server's
    // answer have reached the client. Nothing the client sends after the command is passed on.
    void cutOnCommand(const QByteArray &word, qint64 replyBytes = -1);
    // Like a hung server: the command is passed on, `replyBytes` of the answer reach the
    // client, then nothing more moves in either direction while the connections stay open.
    // An empty word hangs from the start, before the greeting.
    void stallOnCommand(const QByteArray &word, qint64 replyBytes = 0);
    // Holds each piece of the server's output this long before passing it on.
    void setReplyDelay(int milliseconds);
    // Drops "STLS" from CAPA answers, so that a client that upgrades when offered stays plain.
    void setHideStls(bool hide);
    // Sends these bytes right behind the server's answer to STLS, in the same write: what a
    // man in the middle adds to be read as the secure session's first reply.
    void setStlsReplyExtra(const QByteArray &bytes);

    int connectionCount() const;
    // How many times a cut or a stall has taken effect.
    int faultCount() const;
    // Everything client number `connection` (from 0) sent, including what was held back.
    QByteArray clientData(int connection) const;

    struct Shared;

private:
    quint16 m_serverPort = 0;
    quint16 m_port = 0;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
};
