#pragma once

#include <QString>

#include <cstdio>

namespace service {

// Installs OstroveService as the systemd service OstroveSvc and removes it again. What it did
// goes to `out` unless silent; why it could not goes to standard error always.
class ServiceInstaller
{
public:
    struct Options
    {
        QString programPath; // this program, as the unit starts it
        QString storePath;   // passed on to the service when OSTROVE_REGISTRY names one
        QString unitFolder;  // systemd's unit folder for the machine
        bool silent = false;
    };

    explicit ServiceInstaller(Options options, std::FILE *out = stdout);

    int install();   // the exit status
    int uninstall(); // the exit status

    // The unit file's text.
    static QString unitText(const QString &programPath, const QString &storePath);
    // The unit folder: /etc/systemd/system, or OSTROVE_SYSTEMD_UNIT_DIR for tests.
    static QString defaultUnitFolder();

private:
    bool mayChangeServices();
    void say(const QString &line);
    int refuse(const QString &why);
    QString unitPath() const;

    Options m_options;
    std::FILE *m_out;
};

} // namespace service
