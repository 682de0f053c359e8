#include "mail/Pop3Session.h"

#include "mail/JudgedText.h"
#include "mail/TlsTrust.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSslSocket>
#include <QTimer>

#include <limits>

namespace mail {

namespace {

// Replies in flight at once when pipelining, and the bytes of whole messages in flight.
constexpr int kPipelineWindow = 64;
constexpr qint64 kBytesInFlight = 4 * 1024 * 1024;
constexpr qint64 kMaxListingBytes = 64 * 1024 * 1024;
// The time a listing may take: a large mailbox's list takes longer than one status line.
constexpr qint64 kListingAnnouncedBytes = 1024 * 1024;
constexpr int kPollMs = 50;
// More lines than any message within the size limit has: TOP with it sends the whole message.
constexpr const char *kWholeMessageLines = " 100000000";

qint64 remainingMs(const QDeadlineTimer &deadline)
{
    return deadline.isForever() ? std::numeric_limits<qint64>::max() : deadline.remainingTime();
}

bool holdsLineBreak(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

// The lines of a UIDL or LIST answer, each a message number and one more field; false when a
// line is damaged or `take` refuses its field.
bool forEachListed(const QByteArray &data, const std::function<bool(int, const QByteArray &)> &take)
{
    qsizetype at = 0;
    while (at < data.size()) {
        qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            end = data.size();
        QByteArrayView line = QByteArrayView(data).sliced(at, end - at).trimmed();
        at = end + 1;
        const qsizetype blank = line.indexOf(' ');
        if (blank < 0)
            continue;
        bool ok = false;
        const int number = line.first(blank).toInt(&ok);
        QByteArrayView field = line.sliced(blank + 1);
        if (const qsizetype more = field.indexOf(' '); more >= 0)
            field = field.first(more);
        if (!ok || number <= 0 || field.isEmpty() || !take(number, field.toByteArray()))
            return false;
    }
    return true;
}

} // namespace

Pop3Session::Pop3Session(Options options)
    : m_options(options)
    , m_sessionDeadline(m_options.sessionTimeoutMs)
{}

Pop3Session::~Pop3Session()
{
    abort();
}

bool Pop3Session::fail(Failure failure, const QString &text)
{
    if (m_failure == Failure::None) {
        m_failure = failure;
        m_failureText = text;
    }
    abort();
    return false;
}

bool Pop3Session::cancelled() const
{
    return m_options.cancel && m_options.cancel->load();
}

void Pop3Session::abort()
{
    if (m_socket)
        m_socket->abort();
}

bool Pop3Session::encrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

// Runs this thread's events until `done`, the time-out, a cancel or the connection's end.
bool Pop3Session::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (cancelled())
            return fail(Failure::Cancelled, QStringLiteral("stopped"));
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            return false;
        if (clock.elapsed() > timeoutMs)
            return fail(Failure::Timeout, QStringLiteral("timeout"));
        QEventLoop loop;
        QTimer::singleShot(kPollMs, &loop, &QEventLoop::quit);
        QObject::connect(m_socket.get(), &QSslSocket::encrypted, &loop, &QEventLoop::quit);
        QObject::connect(m_socket.get(), &QSslSocket::connected, &loop, &QEventLoop::quit);
        QObject::connect(m_socket.get(), &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
        QObject::connect(m_socket.get(), &QSslSocket::stateChanged, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool Pop3Session::secureFailure(const QString &action)
{
    if (cancelled())
        return fail(Failure::Cancelled, QStringLiteral("stopped"));
    const auto errors = m_socket->sslHandshakeErrors();
    if (!errors.isEmpty()) {
        return fail(
            Failure::CertificateNotTrusted,
            QStringLiteral("certificate not trusted (%1)").arg(errors.first().errorString()));
    }
    if (m_failure != Failure::None)
        return false;
    return fail(Failure::CannotConnect,
                QStringLiteral("%1 (%2)").arg(action, m_socket->errorString()));
}

bool Pop3Session::open(const ServerAddress &server)
{
    m_server = server;
    m_socket = std::make_unique<QSslSocket>();
    m_socket->setPeerVerifyName(server.host);
    // Commands are short and a session waits for each answer: sending them at once is faster.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QString where = QStringLiteral("%1:%2").arg(server.host).arg(server.port);

    if (server.security == Security::ImplicitTls) {
        prepareTls();
        m_socket->connectToHostEncrypted(server.host, server.port);
        if (!waitUntil([this] { return m_socket->isEncrypted(); }, m_options.connectTimeoutMs))
            return secureFailure(QStringLiteral("cannot connect to %1").arg(where));
    } else {
        m_socket->connectToHost(server.host, server.port);
        if (!waitUntil([this] { return m_socket->state() == QAbstractSocket::ConnectedState; },
                       m_options.connectTimeoutMs)) {
            if (m_failure == Failure::Timeout)
                m_failureText = QStringLiteral("cannot connect to %1 (timeout)").arg(where);
            return secureFailure(QStringLiteral("cannot connect to %1").arg(where));
        }
    }

    Pop3ReplyReader::Status greeting;
    if (!readStatus(&greeting))
        return false;
    if (!greeting.ok)
        return fail(Failure::Refused, QStringLiteral("the server refused the connection"));
    if (!readCapabilities())
        return false;

    const bool offersStls = m_capabilities.contains("STLS");
    if (server.security == Security::StartTlsRequired && !offersStls) {
        return fail(Failure::CertificateNotTrusted,
                    QStringLiteral("the server offers no secure connection (STLS)"));
    }
    if (server.security != Security::ImplicitTls && offersStls) {
        if (!startTls())
            return false;
    }
    return true;
}

void Pop3Session::prepareTls()
{
    m_socket->setSslConfiguration(m_options.trust ? m_options.trust->configuration()
                                                  : TlsTrust::systemConfiguration());
}

bool Pop3Session::startTls()
{
    if (!send("STLS"))
        return false;
    Pop3ReplyReader::Status status;
    if (!readStatus(&status))
        return false;
    if (!status.ok) {
        // Offered but refused: going on in the clear would hand the password to whoever
        // made the server refuse.
        return fail(Failure::CertificateNotTrusted, QStringLiteral("the server refused STLS"));
    }
    if (m_reader.pendingBytes() > 0)
        return fail(Failure::Protocol, QStringLiteral("the server sent data before TLS"));
    prepareTls();
    m_socket->startClientEncryption();
    if (!waitUntil([this] { return m_socket->isEncrypted(); }, m_options.connectTimeoutMs))
        return secureFailure(QStringLiteral("secure connection failed"));
    // What a server offers may change once the connection is secure.
    return readCapabilities();
}

bool Pop3Session::readCapabilities()
{
    m_capabilities.clear();
    m_pipelining = false;
    if (!send("CAPA"))
        return false;
    Pop3ReplyReader::Status status;
    if (!readStatus(&status))
        return false;
    m_capaAnswered = status.ok;
    if (!status.ok)
        return true; // an RFC 1939 server without CAPA
    QByteArray data;
    if (!readData(&data, Pop3ReplyReader::kMaxStatusLine * 16))
        return false;
    for (const QByteArray &line : data.split('\n')) {
        const QByteArray name = line.trimmed().split(' ').value(0).toUpper();
        if (!name.isEmpty())
            m_capabilities.append(name);
    }
    m_pipelining = m_capabilities.contains("PIPELINING");
    return true;
}

bool Pop3Session::login(const QByteArray &user, const QByteArray &password)
{
    if (holdsLineBreak(user) || holdsLineBreak(password))
        return fail(Failure::LoginRefused, QStringLiteral("login refused (the login or password "
                                                          "holds a line break)"));
    m_password = password;
    Pop3ReplyReader::Status status;
    if (!send("USER " + user) || !readStatus(&status))
        return false;
    if (!status.ok)
        return fail(Failure::LoginRefused, QStringLiteral("login refused"));
    if (!send("PASS " + password) || !readStatus(&status))
        return false;
    if (!status.ok) {
        const bool inUse = status.text.startsWith("[IN-USE]");
        return fail(Failure::LoginRefused,
                    inUse ? QStringLiteral("mailbox in use") : QStringLiteral("login refused"));
    }
    return true;
}

bool Pop3Session::uniqueIds(QHash<int, QByteArray> *ids, bool *supported)
{
    ids->clear();
    Pop3ReplyReader::Status status;
    if (!send("UIDL") || !readStatus(&status))
        return false;
    *supported = status.ok;
    if (!status.ok)
        return true;
    QByteArray data;
    if (!readData(&data, kMaxListingBytes, kListingAnnouncedBytes))
        return false;
    if (!forEachListed(data, [ids](int number, const QByteArray &id) {
            ids->insert(number, id);
            return true;
        }))
        return fail(Failure::Protocol, QStringLiteral("the server sent a damaged UIDL list"));
    return true;
}

bool Pop3Session::listSizes(QList<std::pair<int, qint64>> *sizes)
{
    sizes->clear();
    Pop3ReplyReader::Status status;
    if (!send("LIST") || !readStatus(&status))
        return false;
    if (!status.ok)
        return fail(Failure::Refused, QStringLiteral("the server refused to list messages"));
    QByteArray data;
    if (!readData(&data, kMaxListingBytes, kListingAnnouncedBytes))
        return false;
    if (!forEachListed(data, [sizes](int number, const QByteArray &sizeText) {
            bool ok = false;
            const qint64 size = sizeText.toLongLong(&ok);
            if (ok && size >= 0)
                sizes->append({number, size});
            return ok && size >= 0;
        }))
        return fail(Failure::Protocol, QStringLiteral("the server sent a damaged list"));
    return true;
}

bool Pop3Session::fetch(const QList<std::pair<int, qint64>> &messages, bool headerOnly,
                        const FetchHandlers &handlers)
{
    return fetchWith(messages, headerOnly, offersTop(), handlers);
}

bool Pop3Session::fetchWith(const QList<std::pair<int, qint64>> &messages, bool headerOnly,
                            bool useTop, const FetchHandlers &handlers)
{
    const bool whole = !headerOnly || !useTop;
    QList<std::pair<int, qint64>> wanted;
    qint64 wantedBytes = 0;
    for (const auto &message : messages) {
        if (whole && message.second > m_options.maxMessageBytes) {
            if (handlers.tooLarge)
                handlers.tooLarge(message.first);
            continue;
        }
        wanted.append(message);
        wantedBytes += whole ? message.second : 0;
    }
    m_sessionDeadline += wantedBytes * 1000 / kSlowestBytesPerSecond;

    const auto command = [useTop, headerOnly](int number) {
        const QByteArray text = QByteArray::number(number);
        if (!useTop)
            return "RETR " + text;
        return "TOP " + text + (headerOnly ? " 0" : kWholeMessageLines);
    };
    // Asked for again by RETR, as whole messages within the limits.
    QList<std::pair<int, qint64>> byRetr;
    // A server that did not say it has TOP and refuses it has none: nothing more is asked by
    // TOP, and what was not asked yet goes by RETR.
    bool stopSending = false;
    bool stopDeferring = false; // no room for whole messages: the rest waits for the next check
    const qsizetype total = wanted.size();
    qsizetype sent = 0;
    qint64 bytesInFlight = 0;
    for (qsizetype received = 0; received < total; ++received) {
        // Keep the server busy while we read, but with a bounded amount of mail in flight.
        while (!stopSending && sent < total
               && (sent == received
                   || (m_pipelining && sent - received < kPipelineWindow
                       && (!whole || bytesInFlight + wanted[sent].second <= kBytesInFlight)))) {
            if (whole && m_reserve
                && !m_reserve(wanted[sent].first, wanted[sent].second, sent == received)) {
                if (sent == received && cancelled())
                    return fail(Failure::Cancelled, QStringLiteral("stopped"));
                if (sent == received)
                    stopDeferring = true;
                break;
            }
            if (!send(command(wanted[sent].first)))
                return false;
            bytesInFlight += whole ? wanted[sent].second : 0;
            ++sent;
        }
        if (received == sent && stopDeferring) {
            QList<int> numbers;
            for (const auto &message : wanted.sliced(received))
                numbers.append(message.first);
            if (handlers.deferred)
                handlers.deferred(numbers);
            break;
        }
        if (received == sent) {
            byRetr.append(wanted.sliced(received));
            break;
        }
        const auto [number, size] = wanted[received];
        Pop3ReplyReader::Status status;
        if (!readStatus(&status))
            return false;
        QByteArray message;
        if (status.ok && !readData(&message, m_options.maxMessageBytes, whole ? size : 0)) {
            if (m_failure == Failure::TooLarge)
                m_tooLarge = number;
            return false;
        }
        bytesInFlight = std::max<qint64>(0, bytesInFlight - (whole ? size : 0));
        if (!status.ok && useTop) {
            if (m_capaAnswered && m_capabilities.contains("TOP")) {
                m_topRefusedFor.insert(number);
            } else {
                m_topRefused = true;
                stopSending = true;
            }
            byRetr.append(wanted[received]);
            continue;
        }
        if (!status.ok) {
            if (handlers.refused)
                handlers.refused(number, serverText(status.text));
            continue;
        }
        handlers.message(number, std::move(message)); // handed on: the judge holds the only copy
    }
    return byRetr.isEmpty() || fetchWith(byRetr, headerOnly, false, handlers);
}

QByteArray Pop3Session::headerCommand(int number) const
{
    const QByteArray text = QByteArray::number(number);
    if (offersTop() && !m_topRefusedFor.contains(number))
        return "TOP " + text + " 0";
    return "RETR " + text;
}

// A server may repeat the password in its reply. Blanking it inside the text would still tell a
// reader of the log where it stood and so what it is like (next to the address, say): a reply
// that holds it is not shown at all.
QString Pop3Session::serverText(const QByteArray &text) const
{
    QString readable = QString::fromUtf8(text);
    if (!m_password.isEmpty()
        && (text.contains(m_password)
            || readable.contains(QString::fromUtf8(m_password), Qt::CaseInsensitive)
            || QString::fromLatin1(text).contains(QString::fromLatin1(m_password),
                                                  Qt::CaseInsensitive)))
        return QStringLiteral("a reply that repeats the password, not shown");
    return readable;
}

bool Pop3Session::refusedAgain(int number, const QString &purpose, const QByteArray &reply)
{
    return fail(Failure::Refused, QStringLiteral("the server would not send message %1 again %2 "
                                                 "(%3)")
                                      .arg(number)
                                      .arg(purpose, serverText(reply)));
}

bool Pop3Session::outOfStep(const QString &why)
{
    return fail(
        Failure::OutOfStep,
        QStringLiteral("the server's replies are out of step with the commands (%1)").arg(why));
}

bool Pop3Session::confirmJudged(bool byUniqueId, const QList<JudgedAs> &judged)
{
    if (!inStep())
        return false;
    // Two commands a message: its name in the listing, then its header alone.
    const QByteArray verb = byUniqueId ? "UIDL " : "LIST ";
    const qsizetype total = judged.size() * 2;
    const auto command = [&](qsizetype index) {
        const int number = judged[index / 2].number;
        return index % 2 == 0 ? verb + QByteArray::number(number) : headerCommand(number);
    };
    qsizetype sent = 0;
    for (qsizetype received = 0; received < total; ++received) {
        while (sent < total
               && (sent == received || (m_pipelining && sent - received < kPipelineWindow))) {
            if (!send(command(sent)))
                return false;
            ++sent;
        }
        const JudgedAs &message = judged[received / 2];
        Pop3ReplyReader::Status status;
        if (!readStatus(&status))
            return false;
        if (received % 2 == 0) {
            const QList<QByteArray> words = status.text.simplified().split(' ');
            if (!status.ok || words.size() < 2 || words[0] != QByteArray::number(message.number)
                || words[1] != message.listedAs) {
                return outOfStep(
                    QStringLiteral("message %1 is not the one judged").arg(message.number));
            }
            continue;
        }
        if (!status.ok) {
            return refusedAgain(message.number, QStringLiteral("to confirm it is the one judged"),
                                status.text);
        }
        QByteArray header;
        if (!readData(&header, m_options.maxMessageBytes, message.listedSize))
            return false;
        if (headerDigest(header) != message.headerDigest) {
            return outOfStep(QStringLiteral("the header of message %1 is not the one judged")
                                 .arg(message.number));
        }
    }
    return inStep();
}

bool Pop3Session::fetchCopies(const QList<CopyWanted> &wanted,
                              const std::function<bool(int, QByteArray)> &onCopy)
{
    const auto command = [this](const CopyWanted &message) {
        QByteArray header = headerCommand(message.number);
        if (message.headerOnly)
            return header;
        const QByteArray number = QByteArray::number(message.number);
        return header.startsWith("TOP") ? "TOP " + number + kWholeMessageLines : "RETR " + number;
    };
    const auto inFlight = [](const CopyWanted &message) {
        return message.headerOnly ? 0 : message.listedSize;
    };
    qsizetype sent = 0;
    qint64 bytesInFlight = 0;
    for (qsizetype received = 0; received < wanted.size(); ++received) {
        // As fetch(): the server kept busy, a bounded amount of mail in flight.
        while (sent < wanted.size()
               && (sent == received
                   || (m_pipelining && sent - received < kPipelineWindow
                       && bytesInFlight + inFlight(wanted[sent]) <= kBytesInFlight))) {
            if (!send(command(wanted[sent])))
                return false;
            bytesInFlight += inFlight(wanted[sent]);
            ++sent;
        }
        const CopyWanted &message = wanted[received];
        Pop3ReplyReader::Status status;
        if (!readStatus(&status))
            return false;
        if (!status.ok) {
            return refusedAgain(message.number, QStringLiteral("to keep its copy"), status.text);
        }
        QByteArray text;
        if (!readData(&text, m_options.maxMessageBytes, inFlight(message)))
            return false;
        bytesInFlight -= inFlight(message);
        if (!onCopy(message.number, std::move(text))) {
            abort();
            return false;
        }
    }
    return true;
}

bool Pop3Session::inStep()
{
    drainSocket();
    if (m_reader.pendingBytes() > 0) {
        return outOfStep(QStringLiteral("a reply no command asked for"));
    }
    return true;
}

void Pop3Session::drainSocket()
{
    if (m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(0);
    if (m_socket->bytesAvailable() > 0)
        m_reader.append(m_socket->readAll());
}

bool Pop3Session::offersTop() const
{
    // Without CAPA nobody knows: try it, once.
    return !m_topRefused && (!m_capaAnswered || m_capabilities.contains("TOP"));
}

bool Pop3Session::markDeleted(const QList<int> &numbers, QList<int> *refused)
{
    qsizetype sent = 0;
    for (qsizetype received = 0; received < numbers.size(); ++received) {
        while (sent < numbers.size()
               && (sent == received || (m_pipelining && sent - received < kPipelineWindow))) {
            if (!send("DELE " + QByteArray::number(numbers[sent])))
                return false;
            ++sent;
        }
        Pop3ReplyReader::Status status;
        if (!readStatus(&status))
            return false;
        if (!status.ok)
            refused->append(numbers[received]);
    }
    return true;
}

bool Pop3Session::quit()
{
    Pop3ReplyReader::Status status;
    if (!send("QUIT") || !readStatus(&status))
        return false;
    if (!status.ok)
        return fail(Failure::Refused,
                    QStringLiteral("the server could not remove the messages (%1)")
                        .arg(serverText(status.text)));
    m_socket->disconnectFromHost();
    return true;
}

bool Pop3Session::send(const QByteArray &command)
{
    if (cancelled())
        return fail(Failure::Cancelled, QStringLiteral("stopped"));
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return fail(Failure::Protocol, QStringLiteral("the server closed the connection"));
    m_socket->write(command + "\r\n");
    m_socket->flush();
    return true;
}

bool Pop3Session::waitForBytes(const QDeadlineTimer &replyDeadline)
{
    for (;;) {
        if (cancelled())
            return fail(Failure::Cancelled, QStringLiteral("stopped"));
        if (m_socket->bytesAvailable() > 0) {
            m_reader.append(m_socket->readAll());
            return true;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return fail(Failure::Protocol, QStringLiteral("the server closed the connection"));
        const qint64 left = std::min(remainingMs(replyDeadline), remainingMs(m_sessionDeadline));
        if (left <= 0)
            return fail(Failure::Timeout, QStringLiteral("timeout"));
        m_socket->waitForReadyRead(int(std::min<qint64>(left, kPollMs * 4)));
    }
}

bool Pop3Session::readStatus(Pop3ReplyReader::Status *status)
{
    const QDeadlineTimer deadline(m_options.replyTimeoutMs);
    for (;;) {
        switch (m_reader.takeStatus(status)) {
        case Pop3ReplyReader::Result::Ready:
            return true;
        case Pop3ReplyReader::Result::Bad:
            return fail(Failure::Protocol, QStringLiteral("the server's reply is damaged"));
        case Pop3ReplyReader::Result::NeedMore:
            if (!waitForBytes(deadline))
                return false;
        }
    }
}

bool Pop3Session::readData(QByteArray *data, qint64 maxBytes, qint64 announcedBytes)
{
    const QDeadlineTimer deadline(m_options.replyTimeoutMs
                                  + std::max<qint64>(announcedBytes, 0) * 1000
                                        / kSlowestBytesPerSecond);
    for (;;) {
        switch (m_reader.takeData(data, maxBytes)) {
        case Pop3ReplyReader::Result::Ready:
            return true;
        case Pop3ReplyReader::Result::Bad:
            return fail(
                Failure::TooLarge,
                QStringLiteral("a reply of the server is larger than %1 bytes").arg(maxBytes));
        case Pop3ReplyReader::Result::NeedMore:
            if (waitForBytes(deadline))
                break;
            if (m_failure == Failure::Timeout && m_reader.sawBareLfEnd()) {
                m_failureText = QStringLiteral("the server's reply did not end as POP3 requires "
                                               "(its lines end without CR)");
            }
            return false;
        }
    }
}

} // namespace mail
