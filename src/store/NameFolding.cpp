#include "store/NameFolding.h"

#include <QChar>
#include <QList>
#include <QStringDecoder>

namespace store {

namespace {

QByteArray foldAscii(const QByteArray &name)
{
    QByteArray folded(name);
    for (char &c : folded) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

bool isAscii(const QByteArray &name)
{
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

QByteArray foldName(const QByteArray &name)
{
    if (isAscii(name))
        return foldAscii(name);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(name);
    if (decoder.hasError())
        return foldAscii(name);

    // QString::toUpper applies the full mapping (it turns one sharp s into "SS"); the stored fold
    // needs the one-to-one mapping, so go character by character.
    QString folded;
    folded.reserve(text.size());
    for (const char32_t ucs4 : text.toUcs4()) {
        const char32_t upper = QChar::toUpper(ucs4);
        if (QChar::requiresSurrogates(upper)) {
            folded.append(QChar(QChar::highSurrogate(upper)));
            folded.append(QChar(QChar::lowSurrogate(upper)));
        } else {
            folded.append(QChar(static_cast<char16_t>(upper)));
        }
    }
    return folded.toUtf8();
}

} // namespace store
