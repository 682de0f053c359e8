#include "mail/ServerAddress.h"

namespace mail {

std::optional<ServerAddress> parseServerAddress(const QByteArray &pop3, bool ssl)
{
    const QString text = QString::fromUtf8(pop3).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    ServerAddress address;
    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        address.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        address.host = text.left(colon);
        portText = text.mid(colon + 1);
    } else {
        address.host = text; // a bare IPv6 address has several colons and no port
    }
    if (address.host.isEmpty() || address.host.contains(u' ') || address.host.contains(u'/'))
        return std::nullopt;
    bool explicitPort = false;
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        address.port = quint16(port);
        explicitPort = true;
    } else {
        address.port = ssl ? kPop3sPort : kPop3Port;
    }
    if (address.port == kPop3sPort || (ssl && (!explicitPort || address.port != kPop3Port)))
        address.security = Security::ImplicitTls;
    else if (ssl)
        address.security = Security::StartTlsRequired;
    return address;
}

} // namespace mail
