#pragma once

#include <QByteArray>
#include <QString>

namespace mail {

// The text of a raw header value as a person reads it: folding undone, RFC 2047 encoded words
// decoded and converted from their charsets, 8-bit text in no declared charset taken as UTF-8
// when it is valid and as a legacy charset otherwise.
//
// Adjacent encoded words of one charset are decoded word by word and their bytes joined before
// the conversion, so a character split between two words comes out whole, and padding inside
// one base64 word never cuts off the next (GMime 3.2's own decoder drops the rest there).
QString decodeHeaderText(const QByteArray &raw);

// Whether a charset name says UTF-8, or ASCII, which UTF-8 reads as it is.
bool isUtf8Charset(const QByteArray &charset);

// Bytes in a named charset as text; unknown charsets fall back like undeclared 8-bit text.
QString textFromCharset(const QByteArray &bytes, const QByteArray &charset);

} // namespace mail
