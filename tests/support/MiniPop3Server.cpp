#include "MiniPop3Server.h"

#include <QHostAddress>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

struct MiniPop3Server::Shared
{
    mutable QMutex mutex;
    QList<QByteArray> messages;
    QStringList commands;
    Options options;
};

namespace {

// As a careless server sends a message: only lines after CRLF are dot-stuffed.
QByteArray stuffedAfterCrlf(const QByteArray &message)
{
    QByteArray out;
    bool lineStart = true;
    for (const char c : message) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n' && out.endsWith("\r\n");
    }
    return out.endsWith("\r\n") ? out : out + "\r\n";
}

QByteArray dotStuffed(const QByteArray &message)
{
    QByteArray out;
    for (const QByteArray &line : message.split('\n')) {
        if (line.isEmpty() && &line == &message.split('\n').last())
            break;
        QByteArray text = line;
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.startsWith('.'))
            text.prepend('.');
        out += text + "\r\n";
    }
    return out;
}

void serve(QTcpSocket *socket, const std::shared_ptr<MiniPop3Server::Shared> &shared)
{
    QList<QByteArray> mailbox;
    MiniPop3Server::Options options;
    {
        QMutexLocker lock(&shared->mutex);
        mailbox = shared->messages;
        options = shared->options;
    }
    QList<bool> deleted(mailbox.size(), false);
    const auto reply = [socket, &options](const QByteArray &text) {
        if (options.byteDelayMs <= 0) {
            socket->write(text + "\r\n");
            return;
        }
        for (const char c : text + "\r\n") {
            socket->write(&c, 1);
            socket->waitForBytesWritten(1000);
            if (QThread::currentThread()->isInterruptionRequested()
                || socket->state() != QAbstractSocket::ConnectedState)
                return;
            QThread::msleep(static_cast<unsigned long>(options.byteDelayMs));
        }
    };
    const auto body = [&options](const QByteArray &message) {
        if (options.noDotStuffing)
            return message.endsWith("\r\n") ? message : message + "\r\n";
        return options.stuffAfterCrlfOnly ? stuffedAfterCrlf(message) : dotStuffed(message);
    };
    // The faults of a server that loses track of its replies to RETR and TOP.
    int fetches = 0;
    QByteArray heldBack;
    bool dropped = false;
    const auto fetchReply = [&](const QByteArray &text, int index) {
        ++fetches;
        if (options.swapFirstFetches && fetches == 1) {
            heldBack = text;
            return;
        }
        if (options.repeatThenDrop && !dropped && index == mailbox.size() - 1) {
            dropped = true;
            return;
        }
        reply(text);
        if ((options.swapFirstFetches && fetches == 2) || (options.repeatThenDrop && fetches == 1))
            reply(options.swapFirstFetches ? heldBack : text);
    };
    bool extraSent = false;
    const auto message = [&](const QByteArray &argument, int *index) {
        bool ok = false;
        *index = argument.toInt(&ok) - 1;
        return ok && *index >= 0 && *index < mailbox.size() && !deleted[*index];
    };
    const auto fetchable = [&](const QByteArray &argument, int *index) {
        return message(argument, index) && !(options.refuseFirst && *index == 0);
    };
    QThread::msleep(static_cast<unsigned long>(options.greetingDelayMs));
    reply("+OK mini POP3 ready");
    QByteArray password;
    for (;;) {
        if (!socket->canReadLine() && !socket->waitForReadyRead(10000))
            return;
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            const QList<QByteArray> words = line.split(' ');
            const QByteArray verb = words.value(0).toUpper();
            {
                QMutexLocker lock(&shared->mutex);
                shared->commands.append(QString::fromUtf8(verb == "PASS" ? "PASS *" : line));
            }
            int index = -1;
            if (verb == "PASS")
                password = words.value(1);
            if (verb == "CAPA" && options.capa) {
                reply("+OK\r\nUSER" + QByteArray(options.uidl ? "\r\nUIDL" : "")
                      + QByteArray(options.top ? "\r\nTOP" : "")
                      + QByteArray(options.pipelining ? "\r\nPIPELINING" : "") + "\r\n.");
            } else if (verb == "USER" || verb == "PASS" || verb == "NOOP") {
                reply("+OK");
            } else if (verb == "LIST" && options.refuseList) {
                reply("-ERR cannot list");
            } else if (verb == "LIST" || (verb == "UIDL" && options.uidl)) {
                const auto field = [&](int i) {
                    if (verb == "UIDL")
                        return "id" + QByteArray::number(i);
                    return QByteArray::number(
                        options.listedSize >= 0 && i == 0 ? options.listedSize : mailbox[i].size());
                };
                QByteArray text = "+OK\r\n";
                for (int i = 0; i < mailbox.size(); ++i) {
                    if (!deleted[i])
                        text += QByteArray::number(i + 1) + ' ' + field(i) + "\r\n";
                }
                const qsizetype last = mailbox.size() - 1;
                if (options.listLastTwice && last >= 0 && !deleted[last])
                    text += QByteArray::number(last + 1) + ' ' + field(int(last)) + "\r\n";
                if (words.size() < 2)
                    reply(text + ".");
                else if (message(words[1], &index))
                    reply("+OK " + words[1] + ' ' + field(index)
                          + (options.otherNameAlone ? "0" : ""));
                else
                    reply("-ERR no such message");
            } else if (verb == "RETR" && fetchable(words.value(1), &index)) {
                if (options.bareLfFirst && index == 0)
                    fetchReply("+OK\r\n" + QByteArray(mailbox[index]).replace("\r\n", "\n") + ".\n",
                               index);
                else
                    fetchReply("+OK\r\n" + body(mailbox[index]) + ".", index);
            } else if (verb == "TOP" && options.top && fetchable(words.value(1), &index)) {
                const qsizetype end = mailbox[index].indexOf("\r\n\r\n");
                const bool whole = words.value(2).toLongLong() > 0;
                fetchReply("+OK\r\n"
                               + (whole
                                      ? body(mailbox[index])
                                      : body(mailbox[index].left(end < 0 ? -1 : end + 2)) + "\r\n")
                               + ".",
                           index);
                if (options.extraReplyAfterTop && !extraSent && index == mailbox.size() - 1) {
                    extraSent = true;
                    reply("+OK");
                }
            } else if (verb == "DELE" && !options.refuseDele && message(words.value(1), &index)) {
                deleted[index] = true;
                reply("+OK");
            } else if (verb == "QUIT" && options.refuseQuit) {
                reply("-ERR cannot commit the changes"
                      + (options.echoPassword ? " of " + password : QByteArray()));
                socket->waitForBytesWritten(5000);
                return;
            } else if (verb == "QUIT") {
                QList<QByteArray> left;
                for (int i = 0; i < mailbox.size(); ++i) {
                    if (!deleted[i] || options.keepOnQuit)
                        left.append(mailbox[i]);
                }
                {
                    QMutexLocker lock(&shared->mutex);
                    shared->messages = left;
                }
                if (options.silentQuit) {
                    while (!QThread::currentThread()->isInterruptionRequested()
                           && socket->state() == QAbstractSocket::ConnectedState)
                        socket->waitForReadyRead(100);
                    return;
                }
                reply("+OK bye");
                socket->waitForBytesWritten(5000);
                return;
            } else {
                reply("-ERR not here");
            }
            socket->waitForBytesWritten(5000);
        }
    }
}

} // namespace

MiniPop3Server::MiniPop3Server(QList<QByteArray> messages, Options options)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->messages = std::move(messages);
    m_shared->options = options;
}

MiniPop3Server::~MiniPop3Server()
{
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->wait(15000);
    }
}

bool MiniPop3Server::start()
{
    QSemaphore ready;
    std::shared_ptr<Shared> shared = m_shared;
    quint16 *port = &m_port;
    m_thread.reset(QThread::create([shared, &ready, port] {
        QTcpServer server;
        const bool listening = server.listen(QHostAddress::LocalHost, 0);
        *port = listening ? server.serverPort() : 0;
        ready.release();
        if (!listening)
            return;
        while (!QThread::currentThread()->isInterruptionRequested()) {
            if (!server.waitForNewConnection(100))
                continue;
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            serve(socket.get(), shared);
            socket->disconnectFromHost();
        }
    }));
    m_thread->start();
    ready.acquire();
    return m_port != 0;
}

void MiniPop3Server::setOptions(const Options &options)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->options = options;
}

QList<QByteArray> MiniPop3Server::messages() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->messages;
}

QStringList MiniPop3Server::commands() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->commands;
}
