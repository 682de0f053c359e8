#include "XvfbServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <X11/Xlib.h>

XvfbServer::XvfbServer(QString logFile)
    : m_logFile(std::move(logFile))
{}

XvfbServer::~XvfbServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool XvfbServer::start(QString *why)
{
    m_process.setStandardErrorFile(m_logFile);
    // -noreset: by default the server resets whenever its last client leaves, and a client
    // that connects meanwhile is refused. Tests open and close connections all the time.
    m_process.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("640x480x24")});
    if (!m_process.waitForStarted(5000)) {
        *why = QStringLiteral("Xvfb is not installed");
        return false;
    }
    // The server writes its display number once it takes clients.
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !number.endsWith('\n')) {
        m_process.waitForReadyRead(100);
        number += m_process.readAllStandardOutput();
    }
    number = number.trimmed();
    bool numeric = false;
    number.toInt(&numeric);
    if (!numeric) {
        *why = QStringLiteral("Xvfb named no display: %1").arg(QString::fromLatin1(log()));
        return false;
    }
    m_display = ':' + number;
    qputenv("DISPLAY", m_display);
    // Under load the server may drop a new connection; make sure it takes them.
    for (clock.restart(); clock.elapsed() < 10000; QThread::msleep(20)) {
        if (Display *display = XOpenDisplay(m_display.constData())) {
            XCloseDisplay(display);
            return true;
        }
    }
    *why = QStringLiteral("Xvfb takes no clients");
    return false;
}

QByteArray XvfbServer::log() const
{
    QFile file(m_logFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll().right(2000) : QByteArray();
}
