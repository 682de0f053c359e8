#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tray {

// One tray program per user and settings store. The first one listens on a local socket named
// from both; a later one only asks it to check now and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &storePath, QObject *parent = nullptr);

    // True when another tray program took the request; then this one should end.
    bool askRunningToCheck();
    // Starts listening; false when the socket cannot be made (the program still runs).
    bool listen();

    QString serverName() const { return m_name; }

signals:
    void checkRequested();

private:
    void acceptConnections();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace tray
