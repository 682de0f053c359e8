// The floor for a check of headers: log in, UIDL, then every "TOP n 0" sent at once, and read
// the replies; nothing is parsed or judged. Usage: pop3_floor HOST PORT tls|plain USER PASS
// [--stat-only | --uidl-only]. With SSL_CERT_FILE set, its certificates are trusted as well.
#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include <cstdio>

namespace {

QSslSocket *socket = nullptr; // made once the application exists: TLS needs it
QByteArray buffer;

bool fill()
{
    if (!socket->bytesAvailable() && !socket->waitForReadyRead(30000))
        return false;
    buffer += socket->readAll();
    return true;
}

// Skips one status line, or one multi-line reply when `multi`; false on -ERR or loss.
bool skipReply(bool multi)
{
    qsizetype at = 0;
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n", at);
        if (end < 0) {
            if (!fill())
                return false;
            continue;
        }
        if (at == 0 && !buffer.startsWith("+OK"))
            return false;
        const bool last = !multi || (at > 0 && end - at == 1 && buffer[at] == '.');
        at = end + 2;
        if (last) {
            buffer.remove(0, at);
            return true;
        }
    }
}

bool command(const QByteArray &line, bool multi = false)
{
    socket->write(line + "\r\n");
    return skipReply(multi);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    socket = new QSslSocket(&application);
    if (argc < 6)
        return 2;
    const QString host = QString::fromLocal8Bit(argv[1]);
    const quint16 port = quint16(QByteArray(argv[2]).toUInt());
    const bool tls = QByteArray(argv[3]) == "tls";
    const bool statOnly = argc > 6 && QByteArray(argv[6]) == "--stat-only";
    const bool uidlOnly = argc > 6 && QByteArray(argv[6]) == "--uidl-only";
    if (tls) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(
            QSslCertificate::fromPath(qEnvironmentVariable("SSL_CERT_FILE")));
        socket->setSslConfiguration(configuration);
        socket->connectToHostEncrypted(host, port);
        if (!socket->waitForEncrypted(30000)) {
            std::fprintf(stderr, "pop3_floor: %s (trusting %s)\n",
                         qPrintable(socket->errorString()),
                         qPrintable(qEnvironmentVariable("SSL_CERT_FILE")));
            return 1;
        }
    } else {
        socket->connectToHost(host, port);
        if (!socket->waitForConnected(30000))
            return 1;
    }
    if (!skipReply(false) || !command(QByteArray("USER ") + argv[4])
        || !command(QByteArray("PASS ") + argv[5]))
        return 1;
    if (statOnly)
        return command("QUIT") ? 0 : 1;
    socket->write("UIDL\r\n");
    if (!skipReply(true))
        return 1;
    if (uidlOnly)
        return command("QUIT") ? 0 : 1;
    socket->write("STAT\r\n");
    while (buffer.indexOf("\r\n") < 0) {
        if (!fill())
            return 1;
    }
    const qsizetype end = buffer.indexOf("\r\n");
    const int count = buffer.mid(4, end - 4).split(' ').value(0).toInt();
    buffer.remove(0, end + 2);
    QByteArray all;
    for (int i = 1; i <= count; ++i)
        all += "TOP " + QByteArray::number(i) + " 0\r\n";
    socket->write(all);
    for (int i = 1; i <= count; ++i) {
        if (!skipReply(true))
            return 1;
    }
    if (!command("QUIT"))
        return 1;
    std::printf("%d headers\n", count);
    return 0;
}
