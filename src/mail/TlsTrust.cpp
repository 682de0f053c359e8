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
        // Added by path, the file's authorities leave OpenSSL's lookup of the system's on
        // demand as it is (a list of certificates would end it, and all ~150 of the system's
        // would have to be read first, a tenth of a second at every check).
        if (!m_configuration.addCaCertificates(m_extraFile, QSsl::Pem))
            m_configuration.addCaCertificates(m_extraFile, QSsl::Der);
    });
    return m_configuration;
}

} // namespace mail
