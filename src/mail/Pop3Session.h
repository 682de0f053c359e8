#pragma once

#include "mail/Pop3ReplyReader.h"
#include "mail/ServerAddress.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslConfiguration>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QSslSocket;

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
    };

    struct Options
    {
        int connectTimeoutMs = 20000;
        int replyTimeoutMs = 60000;
        // Set: the authorities to trust; unset: the system's (built only if TLS is used).
        std::optional<QSslConfiguration> tls;
        const std::atomic<bool> *cancel = nullptr;
        qint64 maxMessageBytes = 64 * 1024 * 1024;
    };

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
    // Fetches the given messages (whole, or the header only), pipelined where the server
    // allows, handing each to onMessage as it arrives. A message the server refuses to send
    // is handed over empty.
    bool fetch(const QList<std::pair<int, qint64>> &messages, bool headerOnly,
               const std::function<void(int, const QByteArray &)> &onMessage);
    // Marks messages for deletion; `refused` gets those the server would not mark.
    bool markDeleted(const QList<int> &numbers, QList<int> *refused);
    // Ends the conversation; true only when the server confirmed, which commits the deletions.
    bool quit();
    void abort();

    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    bool encrypted() const;
    bool pipelining() const { return m_pipelining; }
    bool offersTop() const;

private:
    bool fail(Failure failure, const QString &text);
    bool cancelled() const;
    bool send(const QByteArray &command);
    bool readStatus(Pop3ReplyReader::Status *status);
    bool readData(QByteArray *data, qint64 maxBytes);
    bool waitForBytes();
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
    Failure m_failure = Failure::None;
    QString m_failureText;
};

} // namespace mail
