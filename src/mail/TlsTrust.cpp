#include "mail/TlsTrust.h"

#include <QSslSocket>

namespace mail {

TlsTrust::TlsTrust(QString extraFile)
    : m_extraFile(std::move(extraFile))
{}

QSslConfiguration TlsTrust::systemConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return configuration;
}

QSslConfiguration TlsTrust::configuration()
{
    std::call_once(m_loaded, [this] {
        m_configuration = systemConfiguration();
        if (m_extraFile.isEmpty())
            return;
        QList<QSslCertificate> extra = QSslCertificate::fromPath(m_extraFile, QSsl::Pem);
        if (extra.isEmpty())
            extra = QSslCertificate::fromPath(m_extraFile, QSsl::Der);
        if (extra.isEmpty())
            return;
        // A list of our own ends OpenSSL's lookup of the system's on demand: give it both.
        m_configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    });
    return m_configuration;
}

} // namespace mail
