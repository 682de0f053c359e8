#include "mail/HeaderText.h"

#include "mail/GMimeSupport.h"

#include <QUtf8StringView>

#include <cctype>
#include <gmime/gmime.h>

namespace mail {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArray unfold(const QByteArray &raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (char c : raw) {
        if (c != '\r' && c != '\n')
            out.append(c);
    }
    return out.trimmed();
}

bool isHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Q encoding: "_" is a blank, "=XX" a byte; the rest stands for itself. An "=" not followed by
// two hex digits is kept as written: guessing a byte for it would make up text.
QByteArray decodeQ(QByteArrayView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes.append(' ');
        } else if (c == '=' && i + 2 < text.size() && isHexDigit(text[i + 1])
                   && isHexDigit(text[i + 2])) {
            bytes.append(QByteArray::fromHex(text.sliced(i + 1, 2).toByteArray()));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    return bytes;
}

struct EncodedWord
{
    qsizetype end = -1; // just past "?="
    QByteArray charset;
    QByteArray bytes;
};

// An encoded word starting at `at` ("=?charset?B|Q?text?="), or end -1 when there is none.
EncodedWord encodedWordAt(const QByteArray &text, qsizetype at)
{
    EncodedWord word;
    if (!text.mid(at, 2).startsWith("=?"))
        return word;
    const qsizetype charsetEnd = text.indexOf('?', at + 2);
    if (charsetEnd < 0 || charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?')
        return word;
    const char encoding = text[charsetEnd + 1];
    const qsizetype dataStart = charsetEnd + 3;
    const qsizetype dataEnd = text.indexOf("?=", dataStart);
    if (dataEnd < 0)
        return word;
    const QByteArrayView data(text.constData() + dataStart, dataEnd - dataStart);
    for (char c : data) {
        if (isBlank(c))
            return word;
    }
    QByteArray charset = text.mid(at + 2, charsetEnd - at - 2);
    if (const qsizetype language = charset.indexOf('*'); language >= 0)
        charset.truncate(language); // RFC 2231 language suffix
    if (charset.isEmpty())
        return word;
    if (encoding == 'B' || encoding == 'b') {
        const auto decoded = QByteArray::fromBase64Encoding(
            data.toByteArray(),
            QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        word.bytes = decoded ? decoded.decoded
                             : QByteArray::fromBase64(data.toByteArray()); // lenient fallback
    } else if (encoding == 'Q' || encoding == 'q') {
        word.bytes = decodeQ(data);
    } else {
        return word;
    }
    word.charset = charset.toUpper();
    word.end = dataEnd + 2;
    return word;
}

QString undeclared8Bit(const QByteArray &bytes)
{
    if (QUtf8StringView(bytes).isValidUtf8())
        return QString::fromUtf8(bytes);
    ensureGMime();
    char *decoded = g_mime_utils_decode_8bit(nullptr, bytes.constData(), size_t(bytes.size()));
    QString text = QString::fromUtf8(decoded);
    g_free(decoded);
    return text;
}

} // namespace

bool isUtf8Charset(const QByteArray &charset)
{
    const QByteArray upper = charset.toUpper();
    return upper == "UTF-8" || upper == "UTF8" || upper == "US-ASCII" || upper == "ASCII";
}

QString textFromCharset(const QByteArray &bytes, const QByteArray &charset)
{
    if (isUtf8Charset(charset))
        return undeclared8Bit(bytes);
    ensureGMime();
    iconv_t converter = g_mime_iconv_open("UTF-8", charset.constData());
    if (converter == iconv_t(-1))
        return undeclared8Bit(bytes);
    char *converted = g_mime_iconv_strndup(converter, bytes.constData(), size_t(bytes.size()));
    g_mime_iconv_close(converter);
    if (!converted)
        return undeclared8Bit(bytes);
    QString text = QString::fromUtf8(converted);
    g_free(converted);
    return text;
}

QString decodeHeaderText(const QByteArray &raw)
{
    const QByteArray text = unfold(raw);
    // Most headers hold no encoded word: then they are only 8-bit text.
    if (!text.contains("=?"))
        return undeclared8Bit(text);
    QString out;
    QByteArray pendingBytes; // joined bytes of adjacent encoded words of one charset
    QByteArray pendingCharset;
    QByteArray plain; // undecoded text since the last encoded word
    bool afterEncodedWord = false;

    const auto flushEncoded = [&] {
        if (!pendingCharset.isEmpty())
            out += textFromCharset(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    const auto flushPlain = [&] {
        if (!plain.isEmpty())
            out += undeclared8Bit(plain);
        plain.clear();
    };

    for (qsizetype i = 0; i < text.size();) {
        const EncodedWord word = encodedWordAt(text, i);
        if (word.end < 0) {
            plain.append(text[i]);
            ++i;
            continue;
        }
        // Blanks between two encoded words are not part of the text.
        const bool onlyBlanks = std::all_of(plain.cbegin(), plain.cend(), isBlank);
        if (afterEncodedWord && onlyBlanks) {
            plain.clear();
        } else {
            flushEncoded();
            flushPlain();
        }
        if (word.charset != pendingCharset)
            flushEncoded();
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        afterEncodedWord = true;
        i = word.end;
    }
    flushEncoded();
    flushPlain();
    return out;
}

} // namespace mail
