#include "Pop3Proxy.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <utility>

namespace {

struct Behaviour
{
    enum class Fault
    {
        None,
        Cut,
        Stall
    };
    Fault fault = Fault::None;
    QByteArray word;
    qint64 replyBytes = -1;
    int delayMs = 0;
    bool hideStls = false;
    QByteArray stlsReplyExtra;
};

QByteArray lineWithoutEnd(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return text;
}

bool isCommand(const QByteArray &line, const QByteArray &word)
{
    const QByteArray text = lineWithoutEnd(line);
    if (text.size() < word.size() || qstrnicmp(text.constData(), word.constData(), word.size()))
        return false;
    return text.size() == word.size() || text.at(word.size()) == ' ';
}

} // namespace

struct Pop3Proxy::Shared
{
    mutable std::mutex mutex;
    Behaviour behaviour;
    QList<QByteArray> clientData;
    std::atomic<int> faults{0};

    Behaviour snapshot() const
    {
        std::lock_guard lock(mutex);
        return behaviour;
    }

    int addConnection()
    {
        std::lock_guard lock(mutex);
        clientData.append(QByteArray());
        return static_cast<int>(clientData.size() - 1);
    }

    void record(int connection, const QByteArray &bytes)
    {
        std::lock_guard lock(mutex);
        clientData[connection] += bytes;
    }
};

namespace {

// One client and its connection to the server; lives in the proxy's thread.
class Link : public QObject
{
public:
    Link(QTcpSocket *client, quint16 serverPort, Behaviour behaviour, int index,
         std::shared_ptr<Pop3Proxy::Shared> shared, QObject *parent)
        : QObject(parent)
        , m_client(client)
        , m_upstream(new QTcpSocket(this))
        , m_behaviour(std::move(behaviour))
        , m_index(index)
        , m_shared(std::move(shared))
    {
        m_client->setParent(this);
        // A relay that waits for acknowledgements before passing on the rest of a reply would
        // add delays no real server has.
        m_client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clock.start();
        m_timer.setSingleShot(true);
        // A coarse timer may fire a little early, and a delay must never be shorter than asked.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &Link::flushDue);
        if (m_behaviour.fault == Behaviour::Fault::Stall && m_behaviour.word.isEmpty()) {
            m_holdClient = true;
            m_budget = 0;
            ++m_shared->faults;
        }
        connect(m_upstream, &QTcpSocket::connected, this, &Link::upstreamConnected);
        connect(m_upstream, &QTcpSocket::readyRead, this, &Link::serverData);
        connect(m_upstream, &QTcpSocket::disconnected, this, &Link::upstreamClosed);
        connect(m_upstream, &QTcpSocket::errorOccurred, this, [this] {
            if (!m_upstreamUp) {
                m_client->abort();
                deleteLater();
            }
        });
        connect(m_client, &QTcpSocket::disconnected, this, &Link::clientClosed);
        m_upstream->connectToHost(QHostAddress::LocalHost, serverPort);
        m_upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }

private:
    void upstreamConnected()
    {
        m_upstreamUp = true;
        connect(m_client, &QTcpSocket::readyRead, this, &Link::clientData);
        clientData();
    }

    void clientData()
    {
        if (!m_client->isOpen())
            return;
        const QByteArray data = m_client->readAll();
        if (data.isEmpty())
            return;
        m_shared->record(m_index, data);
        if (m_holdClient || m_cutting)
            return;
        if (m_opaque) {
            m_upstream->write(data);
            return;
        }
        // Commands are judged whole, so a word split over two reads still counts.
        m_partialLine += data;
        qsizetype end = 0;
        while ((end = m_partialLine.indexOf('\n')) >= 0) {
            const QByteArray line = m_partialLine.left(end + 1);
            m_partialLine.remove(0, end + 1);
            if (!commandLine(line))
                return;
        }
    }

    // Returns false when nothing more may go to the server.
    bool commandLine(const QByteArray &line)
    {
        const Behaviour &b = m_behaviour;
        if (b.fault != Behaviour::Fault::None && !b.word.isEmpty() && isCommand(line, b.word)) {
            m_holdClient = true;
            m_partialLine.clear();
            if (b.fault == Behaviour::Fault::Cut && b.replyBytes < 0) {
                cut();
                return false;
            }
            m_upstream->write(line);
            m_budget = std::max<qint64>(b.replyBytes, 0);
            if (b.fault == Behaviour::Fault::Stall)
                ++m_shared->faults;
            return false;
        }
        if (b.hideStls && isCommand(line, "CAPA"))
            ++m_capaPending;
        m_upstream->write(line);
        if (isCommand(line, "STLS")) {
            // From here on the bytes are TLS records, not lines.
            m_opaque = true;
            m_stlsReplyPending = true;
            m_upstream->write(m_partialLine);
            m_partialLine.clear();
            return false;
        }
        return true;
    }

    void serverData()
    {
        if (!m_upstream->isOpen())
            return;
        QByteArray data = m_upstream->readAll();
        if (m_cutting || data.isEmpty())
            return;
        if (m_budget >= 0) {
            const qint64 take = std::min<qint64>(m_budget, data.size());
            toClient(data.left(take));
            m_budget -= take;
            if (m_budget == 0 && m_behaviour.fault == Behaviour::Fault::Cut)
                cut();
            return;
        }
        if (m_capaPending > 0) {
            filterCapa(data);
            return;
        }
        if (std::exchange(m_stlsReplyPending, false))
            data += m_behaviour.stlsReplyExtra;
        toClient(data);
    }

    void filterCapa(const QByteArray &data)
    {
        m_serverLine += data;
        qsizetype end = 0;
        while (m_capaPending > 0 && (end = m_serverLine.indexOf('\n')) >= 0) {
            const QByteArray line = m_serverLine.left(end + 1);
            m_serverLine.remove(0, end + 1);
            const QByteArray text = lineWithoutEnd(line);
            if (!m_inCapaList) {
                if (text.startsWith("+OK"))
                    m_inCapaList = true;
                else
                    --m_capaPending;
            } else if (text == ".") {
                m_inCapaList = false;
                --m_capaPending;
            } else if (text.compare("STLS", Qt::CaseInsensitive) == 0) {
                continue;
            }
            toClient(line);
        }
        if (m_capaPending == 0) {
            toClient(m_serverLine);
            m_serverLine.clear();
        }
    }

    void toClient(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        if (m_behaviour.delayMs <= 0 && m_queue.empty()) {
            m_client->write(bytes);
            return;
        }
        m_queue.emplace_back(m_clock.nsecsElapsed() + qint64(m_behaviour.delayMs) * 1000000, bytes);
        if (!m_timer.isActive())
            flushDue();
    }

    void flushDue()
    {
        while (!m_queue.empty() && m_queue.front().first <= m_clock.nsecsElapsed()) {
            m_client->write(m_queue.front().second);
            m_queue.pop_front();
        }
        if (!m_queue.empty()) {
            const qint64 waitNs = m_queue.front().first - m_clock.nsecsElapsed();
            m_timer.start(static_cast<int>((waitNs + 999999) / 1000000));
            return;
        }
        if (m_cutting || (m_upstreamClosed && m_budget != 0))
            m_client->disconnectFromHost();
    }

    void cut()
    {
        if (m_cutting)
            return;
        m_cutting = true;
        m_holdClient = true;
        ++m_shared->faults;
        m_upstream->abort();
        if (m_queue.empty())
            m_client->disconnectFromHost();
    }

    void upstreamClosed()
    {
        serverData();
        m_upstreamClosed = true;
        // A hung server keeps the client waiting even if the real one hangs up.
        const bool stalled = m_budget == 0 && m_behaviour.fault == Behaviour::Fault::Stall;
        if (!stalled && m_queue.empty())
            m_client->disconnectFromHost();
        if (m_clientClosed)
            deleteLater();
    }

    void clientClosed()
    {
        m_clientClosed = true;
        if (!m_upstreamUp || m_upstream->state() == QAbstractSocket::UnconnectedState) {
            m_upstream->abort();
            deleteLater();
            return;
        }
        // Whatever the client sent before hanging up still reaches the server.
        m_upstream->disconnectFromHost();
    }

    QTcpSocket *m_client = nullptr;
    QTcpSocket *m_upstream = nullptr;
    Behaviour m_behaviour;
    int m_index = 0;
    std::shared_ptr<Pop3Proxy::Shared> m_shared;

    QByteArray m_partialLine;
    QByteArray m_serverLine;
    int m_capaPending = 0;
    bool m_inCapaList = false;
    bool m_opaque = false;
    bool m_stlsReplyPending = false;
    bool m_holdClient = false;
    qint64 m_budget = -1; // bytes of the server's output still to pass on; -1 for no limit
    bool m_cutting = false;
    bool m_upstreamUp = false;
    bool m_upstreamClosed = false;
    bool m_clientClosed = false;

    std::deque<std::pair<qint64, QByteArray>> m_queue; // due time in ns, bytes
    QTimer m_timer;
    QElapsedTimer m_clock;
};

class Relay : public QObject
{
public:
    Relay(quint16 serverPort, std::shared_ptr<Pop3Proxy::Shared> shared)
        : m_serverPort(serverPort)
        , m_shared(std::move(shared))
    {
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_listener.nextPendingConnection())
                new Link(client, m_serverPort, m_shared->snapshot(), m_shared->addConnection(),
                         m_shared, this);
        });
    }

    bool listen() { return m_listener.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_listener.serverPort(); }
    QString errorString() const { return m_listener.errorString(); }

private:
    QTcpServer m_listener;
    quint16 m_serverPort = 0;
    std::shared_ptr<Pop3Proxy::Shared> m_shared;
};

} // namespace

Pop3Proxy::Pop3Proxy(quint16 serverPort)
    : m_serverPort(serverPort)
    , m_shared(std::make_shared<Shared>())
{}

Pop3Proxy::~Pop3Proxy()
{
    if (m_thread) {
        // The relay and its sockets are destroyed in their own thread as its loop ends.
        m_thread->quit();
        m_thread->wait();
    }
}

bool Pop3Proxy::start(QString *error)
{
    if (m_thread)
        return m_port != 0;
    std::promise<QString> ready;
    std::future<QString> started = ready.get_future();
    m_thread.reset(QThread::create([this, &ready] {
        Relay relay(m_serverPort, m_shared);
        if (!relay.listen()) {
            ready.set_value(relay.errorString());
            return;
        }
        m_port = relay.port();
        ready.set_value(QString());
        QEventLoop loop;
        loop.exec();
    }));
    m_thread->start();
    const QString failure = started.get();
    if (!failure.isEmpty()) {
        m_thread->wait();
        if (error)
            *error = QStringLiteral("proxy cannot listen: ") + failure;
        return false;
    }
    return true;
}

void Pop3Proxy::passThrough()
{
    std::lock_guard lock(m_shared->mutex);
    const int delay = m_shared->behaviour.delayMs;
    const bool hide = m_shared->behaviour.hideStls;
    m_shared->behaviour = Behaviour();
    m_shared->behaviour.delayMs = delay;
    m_shared->behaviour.hideStls = hide;
}

void Pop3Proxy::cutOnCommand(const QByteArray &word, qint64 replyBytes)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->behaviour.fault = Behaviour::Fault::Cut;
    m_shared->behaviour.word = word;
    m_shared->behaviour.replyBytes = replyBytes;
}

void Pop3Proxy::stallOnCommand(const QByteArray &word, qint64 replyBytes)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->behaviour.fault = Behaviour::Fault::Stall;
    m_shared->behaviour.word = word;
    m_shared->behaviour.replyBytes = std::max<qint64>(replyBytes, 0);
}

void Pop3Proxy::setReplyDelay(int milliseconds)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->behaviour.delayMs = milliseconds;
}

void Pop3Proxy::setHideStls(bool hide)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->behaviour.hideStls = hide;
}

void Pop3Proxy::setStlsReplyExtra(const QByteArray &bytes)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->behaviour.stlsReplyExtra = bytes;
}

int Pop3Proxy::connectionCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return static_cast<int>(m_shared->clientData.size());
}

int Pop3Proxy::faultCount() const
{
    return m_shared->faults.load();
}

QByteArray Pop3Proxy::clientData(int connection) const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->clientData.value(connection);
}
