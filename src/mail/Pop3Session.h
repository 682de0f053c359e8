#pragma once

#include "mail/Pop3ReplyReader.h"
#include "mail/ServerAddress.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QSslSocket;

namespace mail {
class TlsTrust;
}

namespace mail {

// One POP3 conversation (RFC 1939, CAPA, STLS, PIPELINING) over a blocking socket, run in the
// thread that owns it. Every failure ends the conversation without QUIT, so nothing the session
// marked for deletion is removed; only quit() commits.
class Pop3Session
{
public:
    enum class Failure
    {
        None,
        CannotConnect,
        CertificateNotTrusted,
        LoginRefused,
        Timeout,
        Protocol,
        Refused, // the server answered -ERR where it must not
        Cancelled,
        TooLarge,  // a message outgrew the limit: tooLargeMessage() names it
        OutOfStep, // the replies no longer answer the commands sent
    };

    struct Options
    {
        int connectTimeoutMs = 20000;
        // A reply must be whole within this time, plus the time its announced size takes at
        // kSlowestBytesPerSecond; a whole session within sessionTimeoutMs plus the same for
        // the messages it fetches. A server that trickles bytes cannot hold a check for hours.
        int replyTimeoutMs = 60000;
        int sessionTimeoutMs = 10 * 60 * 1000;
        // The authorities to trust (asked only if TLS is used); unset: the system's.
        TlsTrust *trust = nullptr;
        const std::atomic<bool> *cancel = nullptr;
        qint64 maxMessageBytes = 64 * 1024 * 1024;
    };

    static constexpr qint64 kSlowestBytesPerSecond = 16 * 1024;

    explicit Pop3Session(Options options);
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Connects, secures the connection as asked, reads the greeting and the capabilities.
    bool open(const ServerAddress &server);
    bool login(const QByteArray &user, const QByteArray &password);
    // Message number -> unique id; `supported` is false when the server has no UIDL.
    bool uniqueIds(QHash<int, QByteArray> *ids, bool *supported);
    // Message numbers in order with their sizes.
    bool listSizes(QList<std::pair<int, qint64>> *sizes);
    // What fetch() hands over, message by message, as the replies arrive.
    struct FetchHandlers
    {
        std::function<void(int, QByteArray)> message;
        // Listed as larger than the limit: not fetched whole.
        std::function<void(int)> tooLarge;
        // The server would not send it: its reply.
        std::function<void(int, const QString &)> refused;
        // Not asked for: no room to judge them before the wait for it ran out.
        std::function<void(const QList<int> &)> deferred;
    };
    // Fetches the given messages (whole, or the header only), pipelined where the server
    // allows. Whole messages come by TOP where offered, which leaves them unread for the
    // person's own mail program, else by RETR; a message whose listed size is over the limit is
    // not fetched whole. A message whose TOP is refused is asked for by RETR, as a whole
    // message within the same limits; the others are still asked for by TOP.
    bool fetch(const QList<std::pair<int, qint64>> &messages, bool headerOnly,
               const FetchHandlers &handlers);
    // Asked before a whole message is requested, with its number and listed size, and whether
    // nothing else is in flight (then it may wait): false holds the request back for now, or,
    // when nothing is in flight, ends the session as stopped when it was cancelled and else
    // defers the messages not asked for yet to the next check.
    void setReserve(std::function<bool(int, qint64, bool)> reserve)
    {
        m_reserve = std::move(reserve);
    }
    // A message as it was judged: what the server listed for it and the digest of the header
    // the rules read.
    struct JudgedAs
    {
        int number = 0;
        QByteArray listedAs; // its unique id, or without UIDL its listed size
        qint64 listedSize = 0;
        QByteArray headerDigest;
    };
    // Proves, before anything is removed, that each message to remove is the one judged: the
    // server names it (number, unique id or size) as it was listed, sends the header that was
    // judged when asked for it alone, and no byte beyond the replies asked for is waiting. Any
    // difference ends the session.
    bool confirmJudged(bool byUniqueId, const QList<JudgedAs> &judged);
    // The messages again, to keep their copies: whole (within the size limit), or the header
    // alone. onCopy gets each as it arrives, and false from it ends the session.
    struct CopyWanted
    {
        int number = 0;
        qint64 listedSize = 0;
        bool headerOnly = false;
    };
    bool fetchCopies(const QList<CopyWanted> &wanted,
                     const std::function<bool(int, QByteArray)> &onCopy);
    // No byte is waiting that no command asked for.
    bool inStep();
    // Marks messages for deletion; `refused` gets those the server would not mark.
    bool markDeleted(const QList<int> &numbers, QList<int> *refused);
    // Ends the conversation; true only when the server confirmed, which commits the deletions.
    bool quit();
    void abort();

    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    int tooLargeMessage() const { return m_tooLarge; }
    bool encrypted() const;
    bool pipelining() const { return m_pipelining; }
    bool offersTop() const;

private:
    bool fail(Failure failure, const QString &text);
    bool cancelled() const;
    bool send(const QByteArray &command);
    bool readStatus(Pop3ReplyReader::Status *status);
    bool readData(QByteArray *data, qint64 maxBytes, qint64 announcedBytes = 0);
    bool fetchWith(const QList<std::pair<int, qint64>> &messages, bool headerOnly, bool useTop,
                   const FetchHandlers &handlers);
    QByteArray headerCommand(int number) const;
    bool outOfStep(const QString &why);
    bool refusedAgain(int number, const QString &purpose, const QByteArray &reply);
    QString serverText(const QByteArray &text) const;
    bool waitForBytes(const QDeadlineTimer &replyDeadline);
    void drainSocket();
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    bool readCapabilities();
    bool startTls();
    bool secureFailure(const QString &action);
    void prepareTls();

    Options m_options;
    std::unique_ptr<QSslSocket> m_socket;
    Pop3ReplyReader m_reader;
    ServerAddress m_server;
    QList<QByteArray> m_capabilities;
    bool m_pipelining = false;
    bool m_capaAnswered = false;
    bool m_topRefused = false; // for the whole session: the server has no TOP
    QSet<int> m_topRefusedFor; // messages whose TOP alone was refused
    int m_tooLarge = 0;
    QDeadlineTimer m_sessionDeadline;
    std::function<bool(int, qint64, bool)> m_reserve;
    QByteArray m_password; // to keep it out of any server text this session repeats
    Failure m_failure = Failure::None;
    QString m_failureText;
};

} // namespace mail
