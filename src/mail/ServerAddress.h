#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace mail {

// How a session is secured, from the account's server text and its SSL tick.
enum class Security
{
    PlainOrStartTls, // STLS when the server offers it
    StartTlsRequired,
    ImplicitTls, // TLS from the first byte
};

struct ServerAddress
{
    QString host;
    quint16 port = 0;
    Security security = Security::PlainOrStartTls;
};

inline constexpr quint16 kPop3Port = 110;
inline constexpr quint16 kPop3sPort = 995;

// "host", "host:port" or "[v6]:port". Without a port: 995 with TLS when SSL is ticked, else
// 110. SSL ticked on port 110 asks for STLS; port 995 is always TLS from the first byte.
std::optional<ServerAddress> parseServerAddress(const QByteArray &pop3, bool ssl);

} // namespace mail
