#include "regtool/TextCodec.h"

#include <QStringDecoder>
#include <QtEndian>

#include <utility>

namespace regtool {

namespace {

void appendUtf8(QByteArray &out, char32_t code)
{
    if (code < 0x80) {
        out.append(static_cast<char>(code));
    } else if (code < 0x800) {
        out.append(static_cast<char>(0xC0 | (code >> 6)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.append(static_cast<char>(0xE0 | (code >> 12)));
        out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (code >> 18)));
        out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

QByteArray littleEndianUnits(const QString &text)
{
    QByteArray out(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        for (qsizetype i = 0; i + 1 < out.size(); i += 2)
            std::swap(out[i], out[i + 1]);
    }
    return out;
}

} // namespace

std::optional<QByteArray> storeTextToUtf16le(const QByteArray &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    // Qt's decoder flags malformed input; the round trip also catches anything it let through.
    if (decoder.hasError() || decoded.toUtf8() != text)
        return std::nullopt;
    return littleEndianUnits(decoded);
}

QByteArray checkedStoreTextToUtf16le(const QByteArray &text)
{
    return littleEndianUnits(QString::fromUtf8(text));
}

QByteArray ansiToStoreText(const QByteArray &text)
{
    // Qt reads named charsets through ICU; without it, Latin-1 is the nearest reading.
    QStringDecoder decoder("windows-1252");
    return decoder.isValid() ? QString(decoder.decode(text)).toUtf8()
                             : QString::fromLatin1(text).toUtf8();
}

std::optional<QByteArray> utf16leToStoreText(const QByteArray &data)
{
    if (data.size() % 2 != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(data.size());
    const auto unitAt = [&data](qsizetype i) {
        return static_cast<char16_t>(static_cast<unsigned char>(data[2 * i])
                                     | (static_cast<unsigned char>(data[2 * i + 1]) << 8));
    };
    const qsizetype units = data.size() / 2;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = unitAt(i);
        if (QChar::isLowSurrogate(unit))
            return std::nullopt;
        if (QChar::isHighSurrogate(unit)) {
            if (i + 1 >= units || !QChar::isLowSurrogate(unitAt(i + 1)))
                return std::nullopt;
            appendUtf8(out, QChar::surrogateToUcs4(unit, unitAt(i + 1)));
            ++i;
            continue;
        }
        appendUtf8(out, unit);
    }
    return out;
}

} // namespace regtool
