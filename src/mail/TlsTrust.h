#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

#include <mutex>
#include <optional>

namespace mail {

// Which certificate authorities a session trusts: the system's, looked up by OpenSSL only as
// far as a handshake needs them (loading them all costs a third of a second), and those of
// the file SSL_CERT_FILE names, the variable OpenSSL's own tools honour and QSslSocket does
// not read. That file is read only when a server's certificate does not verify against the
// system's authorities, once per check, from whichever account thread needs it first.
class TlsTrust
{
public:
    explicit TlsTrust(QString extraFile = qEnvironmentVariable("SSL_CERT_FILE"));

    static QSslConfiguration systemConfiguration();
    // A configuration trusting only the file's authorities; none when there are none.
    std::optional<QSslConfiguration> extraConfiguration();

private:
    QString m_extraFile;
    std::once_flag m_loaded;
    QList<QSslCertificate> m_extra;
};

} // namespace mail
