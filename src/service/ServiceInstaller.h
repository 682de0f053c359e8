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
        QString programPath;     // this program, as the unit starts it
        QString storePath;       // passed on to the service when OSTROVE_REGISTRY names one
        QString certificateFile; // passed on when SSL_CERT_FILE names one
        QString unitFolder;      // systemd's unit folder for the machine or the user
        bool forUser = false;    // a user unit, for the user's own manager
        bool silent = false;
    };

    explicit ServiceInstaller(Options options, std::FILE *out = stdout);

    int install();   // the exit status
    int uninstall(); // the exit status

    // The unit file's text: the machine's unit confined to what a check needs, or a user's.
    static QString unitText(const QString &programPath, const QString &storePath,
                            bool forUser = false, const QString &certificateFile = QString());
    // The unit folder: /etc/systemd/system for root, $XDG_CONFIG_HOME/systemd/user for anyone
    // else, or OSTROVE_SYSTEMD_UNIT_DIR for tests.
    static QString defaultUnitFolder();

private:
    static QString confinement(const QString &storePath);
    void say(const QString &line);
    int refuse(const QString &why);
    QString unitPath() const;

    Options m_options;
    std::FILE *m_out;
};

} // namespace service
