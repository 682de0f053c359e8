#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// A private X server (Xvfb) for one test, on the first free display; DISPLAY names it once it
// takes clients. Its messages go to a file: unread, they would fill the pipe and stall it.
class XvfbServer
{
public:
    explicit XvfbServer(QString logFile);
    ~XvfbServer();

    // False with the reason when Xvfb is missing or did not come up.
    bool start(QString *why);
    QByteArray display() const { return m_display; }
    QByteArray log() const;

private:
    QString m_logFile;
    QProcess m_process;
    QByteArray m_display;
};
