#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <functional>

struct sd_bus_message;

// python-dbusmock's systemd template on a private bus that the test starts and names as the
// system bus (DBUS_SYSTEM_BUS_ADDRESS), with the manager methods the template lacks added the
// way systemd answers them.
class SystemdMock
{
public:
    SystemdMock();
    ~SystemdMock();

    // False (with a reason) when dbus-daemon or python3-dbusmock is missing.
    bool start(QString *why);
    QByteArray address() const { return m_address; }

    static bool call(const char *path, const char *interface, const char *member,
                     const std::function<int(sd_bus_message *)> &arguments);
    // The manager methods called so far, in order.
    QStringList calls() const;
    bool clearCalls();

private:
    QProcess m_bus;
    QProcess m_mock;
    QByteArray m_address;
};
