#pragma once

#include <QByteArray>
#include <QString>

struct sd_bus;

namespace service {

// The unit-file calls of systemd's manager over D-Bus that installing a service needs.
// Each answers whether systemd accepted it; `error` gets systemd's reason otherwise.
class SystemdUnitFiles
{
public:
    SystemdUnitFiles();
    ~SystemdUnitFiles();
    SystemdUnitFiles(const SystemdUnitFiles &) = delete;
    SystemdUnitFiles &operator=(const SystemdUnitFiles &) = delete;

    bool connected() const { return m_bus != nullptr; }
    bool reload(QString *error);
    bool enable(const QByteArray &unit, QString *error);
    bool disable(const QByteArray &unit, QString *error);

private:
    sd_bus *m_bus = nullptr;
};

} // namespace service
