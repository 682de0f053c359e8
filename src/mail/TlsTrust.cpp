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

std::optional<QSslConfiguration> TlsTrust::extraConfiguration()
{
    std::call_once(m_loaded, [this] {
        if (m_extraFile.isEmpty())
            return;
        m_extra = QSslCertificate::fromPath(m_extraFile, QSsl::Pem);
        if (m_extra.isEmpty())
            m_extra = QSslCertificate::fromPath(m_extraFile, QSsl::Der);
    });
    if (m_extra.isEmpty())
        return std::nullopt;
    QSslConfiguration configuration = systemConfiguration();
    configuration.setCaCertificates(m_extra);
    return configuration;
}

} // namespace mail
