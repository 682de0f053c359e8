#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

#include <mutex>

namespace mail {

// Which certificate authorities a session trusts: the system's, and those of the file
// SSL_CERT_FILE names, the variable OpenSSL's own tools honour and QSslSocket does not read,
// both in one handshake, so that a server never sees a handshake dropped halfway and tried
// again. OpenSSL looks the system's authorities up only as far as a handshake needs them.
class TlsTrust
{
public:
    explicit TlsTrust(QString extraFile = qEnvironmentVariable("SSL_CERT_FILE"));

    static QSslConfiguration systemConfiguration();
    // The configuration for a session: the system's authorities and the file's.
    QSslConfiguration configuration();

private:
    QString m_extraFile;
    std::once_flag m_loaded;
    QSslConfiguration m_configuration;
};

} // namespace mail
